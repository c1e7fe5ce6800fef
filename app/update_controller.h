// The update controller: from start-up to a running update worker.
#pragma once

#include "platform/win32.h"

// Box texts and caption of the controller.
extern const char kUpdateCaption[];
extern const char kConnectPromptText[];
extern const char kConsentTextStart[];  // followed by the version, then kConsentTextEnd
extern const char kConsentTextEnd[];

class FirmwareImage;
class Progress;
class UpdaterDev;
struct UpdateThreadArgs;

// The objects of one update, made by StartUpdate and never released: the worker may still use them
// after WinMain has returned, and the process ends with them. The device list is not here: the
// process-wide deviceList owns it, and the worker destroys it.
struct UpdateRecord {
    UpdaterDev* updaterDev = nullptr;  // null only if StartUpdate failed before making it
    FirmwareImage* image = nullptr;
    Progress* progress = nullptr;      // once the user has agreed
    UpdateThreadArgs* args = nullptr;  // once the user has agreed
    // The product makes one update per process; a program that runs WinMain again (the tests)
    // makes one per run, and each keeps the one before it.
    const UpdateRecord* earlier = nullptr;
};

// The newest update, null before the first StartUpdate. Everything of every update stays reachable
// from here until the process ends.
const UpdateRecord* CurrentUpdate();

// Runs on the user-interface thread while the main window is created. True: the update worker is
// running and WM_UPDATE_RESULT will be posted to mainWindow. False: no update takes place and
// nothing will be posted.
bool StartUpdate(HWND mainWindow);
