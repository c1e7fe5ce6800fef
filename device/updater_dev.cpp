#include "device/updater_dev.h"

#include <cstdio>
#include <string>

#include "midi/port_names.h"
#include "platform/win32.h"

UpdaterDev::UpdaterDev() : statusSeen(false), lastStatusCode(0) {}

bool UpdaterDev::IsDevicePresent() {
    if (IsConnected()) {
        return true;
    }
    if (OutputPortCount() < 1) {
        return false;
    }
    // The count is taken again for every index: ports come and go while we look.
    for (int index = 0; index < OutputPortCount(); ++index) {
        std::string name = OutputPortName(index, false, false);
        std::fwrite(name.data(), 1, name.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        if (name.find(kProductName) != std::string::npos) {
            return true;
        }
    }
    return false;
}

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
