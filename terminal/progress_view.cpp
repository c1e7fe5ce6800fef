#include "terminal/progress_view.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <iostream>
#include <string>
#include <utility>

#include "platform/host/sim.h"

namespace terminal {
namespace {

struct Snapshot {
    bool exists = false;
    bool visible = false;
    int total = 0;
    int position = 0;
};

Snapshot Look() {
    std::vector<sim::WindowInfo> windows = sim::Windows();
    for (const sim::WindowInfo& bar : windows) {
        std::optional<sim::ProgressBarState> state = sim::ProgressBar(bar.handle);
        if (!state) {
            continue;
        }
        bool visible = bar.visible;
        for (const sim::WindowInfo& dialog : windows) {
            if (dialog.handle == bar.parent) {
                visible = dialog.visible;
            }
        }
        return Snapshot{true, visible, state->high - state->low, state->position - state->low};
    }
    return {};
}

std::string Clock(double seconds) {
    auto whole = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

ProgressView::ProgressView() : tty_(isatty(STDERR_FILENO) != 0) {
    thread_ = std::thread([this] {
        while (!stop_) {
            Step();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
}

ProgressView::~ProgressView() {
    stop_ = true;
    thread_.join();
    Step();  // the dialog may have gone since the last look
}

void ProgressView::Settle() { Step(); }

void ProgressView::Step() {
    constexpr int kWidth = 30;
    constexpr std::uint64_t kRateWindowNs = 3'000'000'000ULL;
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_) {
        return;
    }
    Snapshot s = Look();
    std::uint64_t now = sim::NowNs();
    if (s.exists && s.visible && !shown_) {
        shown_ = true;
        shownAt_ = now;
        std::cerr << "\nQuadrilux Pro OS Update: Update in progress...\n" << std::flush;
    }
    if (!shown_) {
        return;
    }
    bool finished = !s.exists || !s.visible;
    if (s.position == 0) {
        samples_.clear();  // the rate counts from the first message on
    }
    samples_.emplace_back(now, s.position);
    while (samples_.size() > 2 && now - samples_.front().first > kRateWindowNs) {
        samples_.pop_front();
    }
    double span = static_cast<double>(now - samples_.front().first) / 1e9;
    double rate = span > 0.2 ? (s.position - samples_.front().second) / span : 0.0;
    int total = s.total > 0 ? s.total : 1;
    int clamped = s.position < total ? s.position : total;
    double elapsed = static_cast<double>(now - shownAt_) / 1e9;
    std::string line;
    if (s.position == 0) {
        line = "  switching the device to its update mode and waiting for it... " + Clock(elapsed);
    } else {
        int filled = clamped * kWidth / total;
        line = "  [" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
               std::to_string(clamped * 100 / total) + "%  " + std::to_string(s.position) + "/" +
               std::to_string(s.total) + " messages";
        if (finished) {
            line += "  done in " + Clock(elapsed);
        } else if (rate > 0) {
            line += "  " + std::to_string(std::lround(rate)) + " msg/s  " + Clock((total - clamped) / rate) +
                    " left";
        }
    }
    if (finished) {
        done_ = true;
        if (s.position == 0) {
            line = "  stopped after " + Clock(elapsed);
        }
    }
    int decile = clamped * 10 / total;
    if (tty_) {
        std::cerr << "\r" << line << "\x1b[K" << (finished ? "\n" : "") << std::flush;
    } else if (finished || (s.position > 0 && decile != lastDecile_)) {
        std::cerr << line << "\n" << std::flush;
        lastDecile_ = decile;
    }
}

}  // namespace terminal
