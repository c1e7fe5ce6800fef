// The one header through which product code reaches the Windows API.
//
// On Windows it is the SDK as mingw-w64 ships it. Elsewhere it is our own declaration of the
// subset the product uses, implemented by platform/host/.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <commctrl.h>
#include <dbt.h>
// clang-format on
#else
// clang-format off
#include "platform/host/api/types.h"
#include "platform/host/api/kernel32.h"
#include "platform/host/api/user32.h"
#include "platform/host/api/comctl32.h"
#include "platform/host/api/winmm.h"
#include "platform/host/api/advapi32.h"
// clang-format on
#endif
