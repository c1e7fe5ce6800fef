// Arbitrary resource bytes through the stand-in's readers of string tables, accelerator tables and
// menus. The first byte picks the kind; the rest is the resource.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"

namespace {

LRESULT CALLBACK Plain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    sim::Reset();
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    HINSTANCE self = GetModuleHandleA(nullptr);
    switch (data[0] % 3) {
        case 0: {
            sim::SetResource(RT_STRING, IDS_APP_TITLE / 16 + 1, bytes);
            char buffer[100];
            for (UINT id = 96; id < 112; ++id) {
                LoadStringA(self, id, buffer, sizeof buffer);
                LoadStringA(self, id, buffer, 1);
            }
            break;
        }
        case 1: {
            sim::SetResource(RT_ACCELERATOR, IDC_MAIN_ACCEL, bytes);
            HACCEL table = LoadAcceleratorsA(self, MAKEINTRESOURCEA(IDC_MAIN_ACCEL));
            sim::AcceleratorEntries(table);
            break;
        }
        default: {
            sim::SetResource(RT_MENU, IDC_MAIN_MENU, bytes);
            WNDCLASSEXA cls{};
            cls.cbSize = sizeof cls;
            cls.lpfnWndProc = Plain;
            cls.lpszClassName = "FuzzMenu";
            cls.lpszMenuName = MAKEINTRESOURCEA(IDC_MAIN_MENU);
            RegisterClassExA(&cls);
            HWND window =
                CreateWindowExA(0, "FuzzMenu", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, self, nullptr);
            sim::WindowMenu(window);
            DestroyWindow(window);
            break;
        }
    }
    return 0;
}
