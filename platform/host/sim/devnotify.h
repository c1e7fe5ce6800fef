// Control surface of the simulated device-interface notifications.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/host/api/user32.h"

namespace sim {

// A live registration made by RegisterDeviceNotificationA, with the filter it was made with.
struct DeviceNotification {
    HDEVNOTIFY handle = nullptr;
    HWND window = nullptr;
    DWORD flags = 0;
    DWORD filterSize = 0;
    DWORD deviceType = 0;
    DWORD reserved = 0;
    GUID classGuid{};
};
std::vector<DeviceNotification> DeviceNotifications();

// Sends WM_DEVICECHANGE with `wParam` to the window of every live registration whose window still
// exists, as the system does when a device interface arrives or goes (DBT_DEVICEARRIVAL,
// DBT_DEVICEREMOVECOMPLETE, with a broadcast record of the registration's class in lParam) or when
// the device tree changes (other values, lParam 0). Sent, not posted: a window of another thread
// is reached when that thread takes its messages. Returns the number of windows reached.
std::size_t SendDeviceChange(WPARAM wParam);

}  // namespace sim
