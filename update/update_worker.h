// The update worker: the thread that switches the Quadrilux Pro into its update mode, waits for it
// to come back and streams the firmware image to it, then reports the result to the main window.
#pragma once

#include <cstdint>

#include "platform/win32.h"

class FirmwareImage;
class Progress;
class UpdaterDev;

// The thread's argument record, made by the update controller and never released.
struct UpdateThreadArgs {
    FirmwareImage* image;    // loaded, reading position 0
    Progress* progress;      // the progress dialog
    UpdaterDev* updaterDev;  // not used by the worker
    std::int32_t status;     // -1 from the controller; 0 once the whole image is sent
    HWND mainWindow;         // receives WM_UPDATE_RESULT
};

// Posted to mainWindow at the end: wParam is the final status (0 or -1), lParam 0.
constexpr UINT WM_UPDATE_RESULT = WM_USER + 1;

// The thread's entry routine; `parameter` is the UpdateThreadArgs. Returns 0.
DWORD WINAPI UpdateThreadProc(LPVOID parameter);

// The ending of every update, with args.status as the result: hides the progress dialog, posts
// WM_UPDATE_RESULT, destroys the device list and removes the device-change registration.
void FinishUpdate(UpdateThreadArgs& args);
