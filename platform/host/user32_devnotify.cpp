// USER32 of the host stand-in: device-interface notifications for windows.
#include <cstddef>
#include <cstring>
#include <map>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/host/windowing.h"
#include "platform/win32.h"

namespace {

using host::Guard;

struct Registrations {
    std::map<HDEVNOTIFY, sim::DeviceNotification> live;
    std::uintptr_t next = 0xD000;
};

Registrations& N() {
    static Registrations* registrations = new Registrations();
    return *registrations;
}

const host::ResetHook resetNotifications([] { N() = Registrations(); });

// The leading members every broadcast record shares.
constexpr std::size_t kHeaderSize = 3 * sizeof(DWORD);

}  // namespace

HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
    if (host::FailsSettingLastError("RegisterDeviceNotificationA")) {
        return nullptr;
    }
    if (filter == nullptr || flags != DEVICE_NOTIFY_WINDOW_HANDLE) {
        return nullptr;  // service handles are not modelled
    }
    DEV_BROADCAST_DEVICEINTERFACE_A record{};
    std::memcpy(&record, filter, kHeaderSize);
    if (record.dbcc_size < kHeaderSize) {
        return nullptr;
    }
    if (record.dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        if (record.dbcc_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)) {
            return nullptr;
        }
        std::memcpy(&record.dbcc_classguid, static_cast<const std::byte*>(filter) + kHeaderSize,
                    sizeof(GUID));
    }
    Guard lock(host::Mutex());
    HWND window = static_cast<HWND>(recipient);
    if (!host::FindWindowLocked(window)) {
        return nullptr;
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): handles are numbers
    auto* handle = reinterpret_cast<HDEVNOTIFY>(N().next);
    N().next += 4;
    N().live[handle] = sim::DeviceNotification{handle,
                                               window,
                                               flags,
                                               record.dbcc_size,
                                               record.dbcc_devicetype,
                                               record.dbcc_reserved,
                                               record.dbcc_classguid};
    return handle;
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY handle) {
    Guard lock(host::Mutex());
    return N().live.erase(handle) == 1 ? TRUE : FALSE;
}

namespace sim {

std::vector<DeviceNotification> DeviceNotifications() {
    Guard lock(host::Mutex());
    std::vector<DeviceNotification> result;
    for (const auto& [handle, registration] : N().live) {
        result.push_back(registration);
    }
    return result;
}

std::size_t SendDeviceChange(WPARAM wParam) {
    std::vector<DeviceNotification> targets;
    {
        Guard lock(host::Mutex());
        for (const auto& [handle, registration] : N().live) {
            if (host::FindWindowLocked(registration.window)) {
                targets.push_back(registration);
            }
        }
    }
    const bool interfaceEvent = wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE;
    for (const DeviceNotification& target : targets) {
        DEV_BROADCAST_DEVICEINTERFACE_A record{};
        record.dbcc_size = sizeof(record);
        record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        record.dbcc_classguid = target.classGuid;
        LPARAM lParam = interfaceEvent ? reinterpret_cast<LPARAM>(&record) : 0;
        host::SendToWindow(target.window, WM_DEVICECHANGE, wParam, lParam);
    }
    return targets.size();
}

}  // namespace sim
