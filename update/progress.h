// The progress dialog of an update: caption, one line of text and a progress bar, centred on the
// primary screen. The worker moves the bar; a click on the close box is recorded as a cancel.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// One virtual operation and no virtual destructor: the object lives until the process ends and is
// never deleted through a pointer to it.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class Progress {
public:
    // Creates, centres and shows the dialog, on the user-interface thread. `instance` is the
    // executable's module, which holds the dialog template.
    explicit Progress(HINSTANCE instance);

    // Sets the bar's range to 0..total and its position to `position` (the bar keeps the position
    // inside the range). Returns `status`: S_OK, or E_ABORT once the user has cancelled. Called
    // from the update worker; waits until the user-interface thread has handled the bar's messages.
    virtual HRESULT SetProgress(int position, int total);

    // Whether the user has cancelled, read without touching the bar; any thread.
    bool CancelRequested();

    // S_OK, or E_ABORT from the first cancel on. Written by the dialog procedure on the
    // user-interface thread, read by SetProgress on the worker: always as one atomic 32-bit access.
    std::int32_t status;
    HWND dialog;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
