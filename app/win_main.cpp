// The process entry: the main window class, the hidden main window and the message loop.
#include "app/win_main.h"

#include "app/main_window.h"
#include "res/resource.h"

HINSTANCE appInstance = nullptr;
char windowTitle[kMaxLoadString];
char windowClassName[kMaxLoadString];

namespace {

// From here on, DLLs are looked for in the system folder alone: the delay-loaded WINMM and COMCTL32
// at their first call, and whatever any DLL loads later. Never the updater's own folder, which is
// wherever the browser saved it. Looked up rather than imported, so that the updater still starts
// on a Windows that lacks the call (before 8, without its loader update).
void RestrictDllSearchToSystemFolder() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    using Generic = void (*)();
    const FARPROC address = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<Generic>(address));
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

}  // namespace

ATOM RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LARGE));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDC_MAIN_MENU);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    return RegisterClassExA(&windowClass);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previousInstance*/, LPSTR /*commandLine*/,
                   int showCommand) {
    RestrictDllSearchToSystemFolder();  // before anything can load a DLL
    LoadStringA(instance, IDS_APP_TITLE, windowTitle, kMaxLoadString);
    LoadStringA(instance, IDC_MAIN_CLASS, windowClassName, kMaxLoadString);
    RegisterMainWindowClass(instance);
    appInstance = instance;

    // Message-only: never seen. The whole update controller runs inside this call, on WM_CREATE.
    HWND mainWindow =
        CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW | WS_MINIMIZE, CW_USEDEFAULT, 0,
                        CW_USEDEFAULT, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    // No window, no update: not the exit code of a completed one.
    if (mainWindow == nullptr) {
        return -1;
    }
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_MAIN_ACCEL));
    MSG msg{};
    for (;;) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            break;
        }
        if (TranslateAcceleratorA(msg.hwnd, accelerators, &msg) == 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    // The code given to PostQuitMessage.
    return static_cast<int>(msg.wParam);
}
