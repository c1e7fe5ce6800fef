#include "device/updater_dev.h"

#include "platform/win32.h"

UpdaterDev::UpdaterDev() : statusSeen(false), lastStatusCode(0) {}

void UpdaterDev::ConnectionChanged() {
    if (IsConnected()) {
        lastStatusCode = 0;
        statusSeen = false;
    } else {
        OutputDebugStringA("TKUpdate:Device disconnected\n");
    }
}

void UpdaterDev::StatusReceived() {
    lastStatusCode = statusCode;
    statusSeen = true;
    OutputDebugStringA("TkUpdate:Device received status\n");
}

void UpdaterDev::BlockReplyReceived(std::uint8_t* /*message*/, std::int32_t /*length*/) {}

void UpdaterDev::ValueReplyReceived(std::uint32_t /*value*/, std::int32_t /*byte11*/, std::int32_t /*byte12*/,
                                    bool /*kindTen*/) {}

void UpdaterDev::ErrorOccurred(const char* /*message*/) {}
