#include "midi/device_notify.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

const char kNotifyWindowClass[] = "QuenwickMidiLibNotifyWindow";

// The device interface class of audio devices, MIDI ports among them.
const GUID kAudioCategory = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// NOLINTNEXTLINE(performance-no-int-to-ptr): handles are numbers
HDEVNOTIFY NoRegistration() { return reinterpret_cast<HDEVNOTIFY>(static_cast<LONG_PTR>(-1)); }

HWND notifyWindow = nullptr;
HDEVNOTIFY notifyHandle = NoRegistration();
std::vector<DeviceChangeListener*> listeners;

// Registrations come from the user-interface thread, the removal from the update worker, and
// notices arrive on the window's thread, so the state above is taken under this lock. It is held
// only over short stretches that never wait and never call a listener.
std::atomic<bool> stateBusy{false};

class StateLock {
public:
    StateLock() {
        while (stateBusy.exchange(true, std::memory_order_acquire)) {
            Sleep(0);
        }
    }
    ~StateLock() { stateBusy.store(false, std::memory_order_release); }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
};

void OpenWindowLocked() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(WNDCLASSEXA);
    windowClass.lpfnWndProc = NotifyWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kNotifyWindowClass;
    RegisterClassExA(&windowClass);  // a class left registered from earlier is simply used

    // NOLINTNEXTLINE(performance-no-int-to-ptr): handles are numbers
    HWND messageOnly = HWND_MESSAGE;
    notifyWindow =
        CreateWindowExA(0, kNotifyWindowClass, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, messageOnly, nullptr, GetModuleHandleA(nullptr), nullptr);

    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    static_assert(sizeof(filter) == 32);
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = kAudioCategory;
    notifyHandle = RegisterDeviceNotificationA(notifyWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void CloseWindowLocked() {
    if (notifyHandle != NoRegistration()) {
        UnregisterDeviceNotification(notifyHandle);
        notifyHandle = NoRegistration();
    }
    // Only the window's own thread may destroy it. From another thread the window is asked to
    // close, which its own thread does when it next takes its messages; the class then stays
    // registered and is used again by the next window.
    if (DestroyWindow(notifyWindow) == FALSE && notifyWindow != nullptr) {
        PostMessageA(notifyWindow, WM_CLOSE, 0, 0);
    }
    notifyWindow = nullptr;
    UnregisterClassA(kNotifyWindowClass, nullptr);
}

}  // namespace

bool AddDeviceChangeListener(DeviceChangeListener* listener) {
    bool isNew = false;
    {
        StateLock lock;
        if (notifyWindow == nullptr) {
            OpenWindowLocked();
        }
        if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end()) {
            listeners.push_back(listener);
            isNew = true;
        }
    }
    if (isNew && listener != nullptr) {
        listener->OnDeviceChange();
    }
    // Read after the listener has run: one that removed itself may have taken the window down.
    StateLock lock;
    return notifyWindow != nullptr && notifyHandle != nullptr;
}

void RemoveDeviceChangeListener(DeviceChangeListener* listener) {
    StateLock lock;
    auto found = std::find(listeners.begin(), listeners.end(), listener);
    if (found != listeners.end()) {
        listeners.erase(found);
    }
    if (listeners.empty()) {
        CloseWindowLocked();
    }
}

void NotifyDeviceChange() {
    // The list may change while a listener runs: its size is read again before every call.
    for (std::size_t position = 0;; ++position) {
        DeviceChangeListener* listener = nullptr;
        {
            StateLock lock;
            if (position >= listeners.size()) {
                return;
            }
            listener = listeners[position];
        }
        if (listener != nullptr) {
            listener->OnDeviceChange();
        }
    }
}

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        try {
            NotifyDeviceChange();
        } catch (...) {  // a listener's failure must not leave the window procedure
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
