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

}  // namespace sim
