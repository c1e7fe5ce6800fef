// The device-change notification window: a hidden message-only window that hears of device
// interface arrival and removal and passes each notice on to the registered listeners.
#pragma once

#include "platform/win32.h"

class DeviceChangeListener {
public:
    virtual void OnDeviceChange() = 0;

protected:
    DeviceChangeListener() = default;
    ~DeviceChangeListener() = default;
    DeviceChangeListener(const DeviceChangeListener&) = default;
    DeviceChangeListener& operator=(const DeviceChangeListener&) = default;
};

// Registers `listener` (null registers without one), opening the window first when there is none.
// A listener not yet registered is called once at once. True when the window exists and holds its
// device-notification registration.
bool AddDeviceChangeListener(DeviceChangeListener* listener);
// Removes the first registration of `listener`; when none is left the window is taken down.
void RemoveDeviceChangeListener(DeviceChangeListener* listener);
// Calls every registered listener; used by the window procedure.
void NotifyDeviceChange();
LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
