// The update controller: from start-up to a running update worker.
#pragma once

#include "platform/win32.h"

// Box texts and caption of the controller.
extern const char kUpdateCaption[];
extern const char kConnectPromptText[];
extern const char kConsentTextStart[];  // followed by the version, then kConsentTextEnd
extern const char kConsentTextEnd[];

// Runs on the user-interface thread while the main window is created. True: the update worker is
// running and WM_UPDATE_RESULT will be posted to mainWindow. False: no update takes place and
// nothing will be posted.
bool StartUpdate(HWND mainWindow);
