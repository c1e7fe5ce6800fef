// Message boxes at the terminal: each box is drawn with its caption and text and answered from a
// script of answers (--answer) or by the person at the keyboard.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace terminal {

struct PromptOptions {
    // Answers for the boxes in order ("ok", "cancel", "yes", "no"); when they run out the person
    // is asked.
    std::vector<std::string> answers;
    // Every box gets its first button (OK or Yes).
    bool acceptAll = false;
    // Called before a box is drawn.
    std::function<void()> beforeBox;
};

// Installs the stand-in's message-box handler.
void InstallBoxPrompt(PromptOptions options);

// Splits "ok,yes" into its answers; nullopt (with a reason) for a word that is no button.
std::optional<std::vector<std::string>> ParseAnswers(const std::string& list, std::string* error);

}  // namespace terminal
