// Control surface of the simulated user interface: windows, screen and message delivery.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/host/api/user32.h"

namespace sim {

struct WindowInfo {
    HWND handle = nullptr;
    std::string className;
    std::string text;
    DWORD style = 0;
    bool visible = false;
    RECT rect{};
    HWND parent = nullptr;
    int id = 0;
};

// Every live window, in creation order.
std::vector<WindowInfo> Windows();
std::optional<WindowInfo> FindWindowByClass(const std::string& className);
std::optional<WindowInfo> FindWindowByText(const std::string& text);
HWND ForegroundWindow();

// The primary screen (1920 x 1080 after Reset).
void SetScreenSize(int width, int height);

// Posts a message to a window's queue, as the system would deliver it to the owning thread.
bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One ShowWindow or PostMessageA call, as made.
struct ShowOrPost {
    enum class Kind { Show, Post };
    Kind kind = Kind::Show;
    HWND window = nullptr;
    int showCommand = 0;  // Show
    UINT message = 0;     // Post
    WPARAM wParam = 0;    // Post
    bool done = false;    // the window existed (or, for a post, the thread's own queue was meant)
};
// Every ShowWindow and PostMessageA since Reset, from every thread, in the order they were made.
std::vector<ShowOrPost> ShowAndPostCalls();

}  // namespace sim
