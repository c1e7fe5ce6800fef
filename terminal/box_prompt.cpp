#include "terminal/box_prompt.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/host/sim.h"
#include "platform/win32.h"

namespace terminal {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

const char* const kWords[] = {"ok", "cancel", "yes", "no"};

// The answer that a typed word or its first letter gives for a box, if it is one of its buttons.
std::optional<int> AnswerFor(const std::string& typed, UINT type) {
    std::string word = Lower(typed);
    for (const sim::BoxButton& button : sim::ButtonsOf(type)) {
        std::string label = Lower(button.label);
        if (word == label || (word.size() == 1 && word[0] == label[0])) {
            return button.answer;
        }
    }
    return std::nullopt;
}

std::string LabelOf(int answer, UINT type) {
    for (const sim::BoxButton& button : sim::ButtonsOf(type)) {
        if (button.answer == answer) {
            return button.label;
        }
    }
    return "?";
}

void Draw(const sim::MessageBoxRecord& box) {
    bool tty = isatty(STDERR_FILENO) != 0;
    std::string bold = tty ? "\x1b[1m" : "";
    std::string plain = tty ? "\x1b[0m" : "";
    UINT icon = box.type & 0xF0u;
    std::string mark = icon == MB_ICONEXCLAMATION ? "(!) " : icon == MB_ICONINFORMATION ? "(i) " : "";
    std::string title = mark + box.caption;
    std::string out = "\n+-- " + bold + title + plain + " " +
                      std::string(title.size() < 60 ? 60 - title.size() : 2, '-') + "\n";
    std::string line;
    for (char c : box.text + (box.text.empty() || box.text.back() != '\n' ? "\n" : "")) {
        if (c == '\n') {
            out += "| " + line + "\n";
            line.clear();
        } else {
            line += c;
        }
    }
    out += "+--";
    for (const sim::BoxButton& button : sim::ButtonsOf(box.type)) {
        out.append(" [").append(bold).append(button.label.substr(0, 1)).append(plain).append("]");
        out.append(button.label.substr(1)).append(" ");
    }
    out += "\n";
    std::cerr << out << std::flush;
}

struct State {
    std::mutex mutex;
    PromptOptions options;
    std::size_t next = 0;
};

// Reads the person's answer on a thread of its own, so that the box's modal loop keeps serving
// the program while the person thinks. End of input closes the box.
void AskAtKeyboard(int serial, UINT type) {
    std::thread([serial, type] {
        for (;;) {
            std::cerr << "> " << std::flush;
            std::string typed;
            if (!std::getline(std::cin, typed)) {
                std::cerr << "(end of input: the box is closed)\n";
                std::vector<sim::BoxButton> buttons = sim::ButtonsOf(type);
                sim::AnswerMessageBox(serial, buttons.back().answer);
                return;
            }
            if (isatty(STDIN_FILENO) == 0) {
                std::cerr << typed << "\n";  // typed elsewhere: show it, as a terminal would
            }
            if (std::optional<int> answer = AnswerFor(typed, type)) {
                sim::AnswerMessageBox(serial, *answer);
                return;
            }
            std::cerr << "Please answer with one of the buttons.\n";
        }
    }).detach();
}

}  // namespace

std::optional<std::vector<std::string>> ParseAnswers(const std::string& list, std::string* error) {
    std::vector<std::string> answers;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        std::string word =
            Lower(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (std::find(std::begin(kWords), std::end(kWords), word) == std::end(kWords)) {
            if (error != nullptr) {
                *error = "'" + word + "' is not a button (ok, cancel, yes, no)";
            }
            return std::nullopt;
        }
        answers.push_back(word);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return answers;
}

void InstallBoxPrompt(PromptOptions options) {
    auto state = std::make_shared<State>();
    state->options = std::move(options);
    sim::SetMessageBoxHandler([state](const sim::MessageBoxRecord& box) -> std::optional<int> {
        if (state->options.beforeBox) {
            state->options.beforeBox();
        }
        Draw(box);
        std::optional<int> answer;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->options.acceptAll) {
                answer = sim::ButtonsOf(box.type).front().answer;
            } else if (state->next < state->options.answers.size()) {
                const std::string& word = state->options.answers[state->next++];
                answer = AnswerFor(word, box.type);
                if (!answer) {
                    std::cerr << "(--answer: '" << word << "' is not a button of this box)\n";
                }
            }
        }
        if (answer) {
            std::cerr << "> " << LabelOf(*answer, box.type) << "\n" << std::flush;
            return answer;
        }
        AskAtKeyboard(box.serial, box.type);
        return std::nullopt;
    });
}

}  // namespace terminal
