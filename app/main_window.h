// The hidden main window: runs the update controller when created and turns the worker's result
// into the final box and the exit code.
#pragma once

#include "platform/win32.h"

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Texts of the result box.
extern const char kResultCaption[];
extern const char kUpdateCompletedText[];
extern const char kUpdateFailedText[];
