// Process entry and the values the application keeps for the whole process.
#pragma once

#include "platform/win32.h"

// Length of the title and class-name buffers, in characters.
constexpr int kMaxLoadString = 100;

// The executable's instance handle, for the progress dialog and the About box.
extern HINSTANCE appInstance;
// Window title (string 103) and main window class name (string 109).
extern char windowTitle[kMaxLoadString];
extern char windowClassName[kMaxLoadString];

// Registers the main window class under windowClassName.
ATOM RegisterMainWindowClass(HINSTANCE instance);

#ifndef _WIN32
// The system headers declare the entry routine on Windows.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);
#endif
