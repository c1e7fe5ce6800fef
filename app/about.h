// The About box (dialog 103).
#pragma once

#include "platform/win32.h"

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
