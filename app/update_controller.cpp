// The update controller.
#include "app/update_controller.h"

#include <array>
#include <cstdint>
#include <string>

#include "app/win_main.h"
#include "device/attach.h"
#include "device/updater_dev.h"
#include "midi/device_list.h"
#include "midi/device_notify.h"
#include "update/firmware_image.h"
#include "update/progress.h"
#include "update/update_worker.h"

const char kUpdateCaption[] = "Quadrilux Pro Update";
const char kConnectPromptText[] =
    "Please connect your Quadrilux Pro, wait for the\n"
    "driver installation to complete, then press\n"
    "'OK' to begin the firmware update.\n\n"
    "Press 'Cancel' to skip the update.\n";
const char kConsentTextStart[] = "This updater will update your Quadrilux Pro firmware to version ";
const char kConsentTextEnd[] =
    ".\n\n"
    "If you wish to install this firmware, press 'Yes'. Otherwise press 'No'.\n"
    "Firmware updates improve the stability and performance of your Quadrilux.\n"
    "Do you want to proceed?\n";

namespace {

const UpdateRecord* newestUpdate = nullptr;

bool RunController(HWND mainWindow) {
    auto* record = new UpdateRecord{.earlier = newestUpdate};
    newestUpdate = record;

    AddDeviceChangeListener(nullptr);
    // Only a program that runs WinMain again finds a list here, left by a run that never started
    // its worker; the owner lets it go before taking the new one.
    delete deviceList;
    deviceList = new NullDeviceList();

    auto* updaterDev = new UpdaterDev();
    try {
        Attach(updaterDev);
    } catch (...) {
        delete updaterDev;
        throw;
    }
    record->updaterDev = updaterDev;

    auto* image = record->image = new FirmwareImage();
    image->Load();
    if (!image->IsLoaded()) {
        return false;
    }

    while (!updaterDev->IsDevicePresent()) {
        // A box that cannot be shown (0) counts as Cancel: re-showing it would spin for ever.
        int answer = MessageBoxA(nullptr, kConnectPromptText, kUpdateCaption, MB_OKCANCEL);
        if (answer == IDCANCEL || answer == 0) {
            return false;
        }
        if (updaterDev->IsConnected()) {
            updaterDev->RequestStatus();
        } else {
            Attach(updaterDev);
        }
    }

    std::array<std::uint8_t, 6> version{};
    std::string consent = kConsentTextStart;
    if (!image->ReadVersion(version) || !FirmwareImage::FormatVersion(version, consent)) {
        return false;
    }
    consent += kConsentTextEnd;
    // Only a Yes goes on: a box that could not be shown is no consent.
    if (MessageBoxA(nullptr, consent.c_str(), kUpdateCaption, MB_YESNO) != IDYES) {
        return false;
    }

    auto* progress = record->progress = new Progress(appInstance);
    auto* args = record->args = new UpdateThreadArgs{image, progress, updaterDev, -1, mainWindow};
    HANDLE worker = CreateThread(nullptr, 0, UpdateThreadProc, args, 0, nullptr);
    if (worker == nullptr) {
        // The user already agreed and sees the progress dialog: report a failed update rather than
        // leave them waiting for a result that never comes.
        args->status = -1;
        FinishUpdate(*args);
        return true;
    }
    CloseHandle(worker);
    return true;
}

}  // namespace

const UpdateRecord* CurrentUpdate() { return newestUpdate; }

bool StartUpdate(HWND mainWindow) {
    // Nothing may leave the window procedure by an exception; an allocation failure means no update.
    try {
        return RunController(mainWindow);
    } catch (...) {
        return false;
    }
}
