// COMCTL32 as the host stand-in offers it: the progress-bar control.
#pragma once

#include "platform/host/api/types.h"
#include "platform/host/api/user32.h"

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;

#define ICC_PROGRESS_CLASS 0x00000020
#define PROGRESS_CLASSA "msctls_progress32"

#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);
