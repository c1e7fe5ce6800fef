// The updater's presence check: the driver library's endpoints, or a MIDI output port by name.
#include <cstdio>
#include <string>

#include "device/updater_dev.h"
#include "midi/port_names.h"
#include "update/update_worker.h"

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
