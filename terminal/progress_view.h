// The progress dialog at the terminal: a live bar with the message count, the rate and the time
// left, drawn from the state of the stand-in's progress-bar control.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace terminal {

class ProgressView {
public:
    ProgressView();
    ~ProgressView();
    ProgressView(const ProgressView&) = delete;
    ProgressView& operator=(const ProgressView&) = delete;

    // Draws the current state now; called before a box is drawn, so that the bar's last line comes
    // before the box.
    void Settle();

private:
    void Step();

    std::mutex mutex_;
    const bool tty_;
    bool shown_ = false;
    bool done_ = false;
    int lastDecile_ = -1;
    std::uint64_t shownAt_ = 0;
    // Recent (time, position) samples on the stand-in's clock, for the rate.
    std::deque<std::pair<std::uint64_t, int>> samples_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace terminal
