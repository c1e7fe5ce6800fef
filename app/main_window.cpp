// The main window's procedure.
#include "app/main_window.h"

#include "app/about.h"
#include "app/update_controller.h"
#include "app/win_main.h"
#include "res/resource.h"
#include "update/update_worker.h"

const char kResultCaption[] = "Quadrilux Pro Update";
const char kUpdateCompletedText[] = "Quadrilux Pro firmware update completed.";
const char kUpdateFailedText[] =
    "An error occurred updating the Quadrilux Pro firmware.\n\n"
    "Please ensure all other MIDI applications are closed,\n"
    "wait for any Windows drivers to install, then\n"
    "reconnect the Quadrilux Pro and restart the updater.";

namespace {

void ShowResult(WPARAM status) {
    if (status == 0) {
        MessageBoxA(nullptr, kUpdateCompletedText, kResultCaption, MB_OK | MB_ICONINFORMATION);
    } else {
        MessageBoxA(nullptr, kUpdateFailedText, kResultCaption, MB_OK | MB_ICONEXCLAMATION);
    }
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            // Creation succeeds either way; a refusal only queues the quit.
            if (!StartUpdate(window)) {
                PostQuitMessage(-1);
            }
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDM_ABOUT:
                    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutDlgProc, 0);
                    return 0;
                case IDM_EXIT:
                    DestroyWindow(window);
                    return 0;
                default:
                    return DefWindowProcA(window, message, wParam, lParam);
            }
        case WM_UPDATE_RESULT:
            ShowResult(wParam);
            // The status becomes the exit code: 0, or -1 as a signed value.
            PostQuitMessage(static_cast<int>(wParam));
            return DefWindowProcA(window, message, wParam, lParam);
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
