// The device list and the device-change notification window.
#include <cstring>
#include <functional>
#include <stdexcept>

#include "midi/device_notify.h"
#include "platform/win32.h"
#include "tests/midi/midi_fixture.h"

namespace {

const char kClass[] = "QuenwickMidiLibNotifyWindow";

std::vector<sim::WindowInfo> NotifyWindows() {
    std::vector<sim::WindowInfo> found;
    for (const sim::WindowInfo& window : sim::Windows()) {
        if (window.className == kClass) {
            found.push_back(window);
        }
    }
    return found;
}

bool ClassRegistered() {
    WNDCLASSEXA probe{};
    probe.cbSize = sizeof(WNDCLASSEXA);
    probe.lpfnWndProc = DefWindowProcA;
    probe.lpszClassName = kClass;
    if (RegisterClassExA(&probe) == 0) {
        return true;
    }
    UnregisterClassA(kClass, nullptr);
    return false;
}

class Listener : public DeviceChangeListener {
public:
    Listener() = default;
    virtual ~Listener() = default;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    void OnDeviceChange() override {
        ++calls;
        if (action) {
            action();
        }
    }
    int calls = 0;
    std::function<void()> action;
};

using DeviceNotifyTest = MidiFixture;

TEST_F(DeviceNotifyTest, TwoNullAdditionsOpenOneWindowThatOneRemovalCloses) {
    EXPECT_TRUE(AddDeviceChangeListener(nullptr));
    EXPECT_TRUE(AddDeviceChangeListener(nullptr));
    std::vector<sim::WindowInfo> windows = NotifyWindows();
    ASSERT_EQ(windows.size(), 1u);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): handles are numbers
    EXPECT_EQ(windows[0].parent, HWND_MESSAGE);
    EXPECT_EQ(windows[0].text, "");

    std::vector<sim::DeviceNotification> registrations = sim::DeviceNotifications();
    ASSERT_EQ(registrations.size(), 1u);
    const sim::DeviceNotification& r = registrations[0];
    EXPECT_EQ(r.window, windows[0].handle);
    EXPECT_EQ(r.flags, static_cast<DWORD>(DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(r.filterSize, 32u);
    EXPECT_EQ(r.deviceType, 5u);
    EXPECT_EQ(r.reserved, 0u);
    const GUID audio = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
    EXPECT_EQ(std::memcmp(&r.classGuid, &audio, sizeof(GUID)), 0);

    RemoveDeviceChangeListener(nullptr);
    EXPECT_TRUE(NotifyWindows().empty());
    EXPECT_TRUE(sim::DeviceNotifications().empty());
    EXPECT_FALSE(ClassRegistered());
}

TEST_F(DeviceNotifyTest, RemovalWithNothingRegisteredStillTearsDownHarmlessly) {
    RemoveDeviceChangeListener(nullptr);
    EXPECT_TRUE(NotifyWindows().empty());
    EXPECT_TRUE(AddDeviceChangeListener(nullptr));
    EXPECT_EQ(NotifyWindows().size(), 1u);
    RemoveDeviceChangeListener(nullptr);
    EXPECT_TRUE(NotifyWindows().empty());
}

TEST_F(DeviceNotifyTest, ListenersHearArrivalAndRemovalOnly) {
    Listener listener;
    EXPECT_TRUE(AddDeviceChangeListener(&listener));
    EXPECT_EQ(listener.calls, 1);  // called once at once
    EXPECT_TRUE(AddDeviceChangeListener(&listener));
    EXPECT_EQ(listener.calls, 1);

    EXPECT_EQ(sim::SendDeviceChange(DBT_DEVICEARRIVAL), 1u);
    EXPECT_EQ(listener.calls, 2);
    sim::SendDeviceChange(DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(listener.calls, 3);
    sim::SendDeviceChange(DBT_DEVNODES_CHANGED);
    sim::SendDeviceChange(0x8001);  // DBT_DEVICEQUERYREMOVE
    EXPECT_EQ(listener.calls, 3);

    // Every message, these included, goes on to the default procedure.
    HWND window = NotifyWindows().at(0).handle;
    EXPECT_EQ(NotifyWindowProc(window, WM_NCCREATE, 0, 0), TRUE);
    EXPECT_EQ(NotifyWindowProc(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 0);
    EXPECT_EQ(listener.calls, 4);

    RemoveDeviceChangeListener(&listener);
    EXPECT_TRUE(NotifyWindows().empty());
}

TEST_F(DeviceNotifyTest, ThrowingListenerEndsTheWalkInsideTheWindowProcedure) {
    Listener thrower;
    Listener after;
    AddDeviceChangeListener(&thrower);
    AddDeviceChangeListener(&after);
    thrower.action = [] { throw std::runtime_error("listener failed"); };

    HWND window = NotifyWindows().at(0).handle;
    EXPECT_EQ(NotifyWindowProc(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 0);
    EXPECT_EQ(thrower.calls, 2);
    EXPECT_EQ(after.calls, 1);  // only its own call on registration
    EXPECT_THROW(NotifyDeviceChange(), std::runtime_error);

    RemoveDeviceChangeListener(&thrower);
    EXPECT_EQ(NotifyWindows().size(), 1u);
    sim::SendDeviceChange(DBT_DEVICEARRIVAL);
    EXPECT_EQ(after.calls, 2);
    RemoveDeviceChangeListener(&after);
    EXPECT_TRUE(NotifyWindows().empty());
}

TEST_F(DeviceNotifyTest, ListenerMayRemoveItselfWhileItIsCalled) {
    Listener listener;
    AddDeviceChangeListener(&listener);
    listener.action = [&listener] { RemoveDeviceChangeListener(&listener); };
    sim::SendDeviceChange(DBT_DEVICEARRIVAL);
    EXPECT_EQ(listener.calls, 2);
    EXPECT_TRUE(NotifyWindows().empty());
    EXPECT_TRUE(sim::DeviceNotifications().empty());
}

TEST_F(DeviceNotifyTest, AdditionReportsWhatIsLeftAfterItsListenerRan) {
    // The listener is called at once and removes itself, the last registration: the window and
    // the registration are gone by the time the addition answers.
    Listener leaving;
    leaving.action = [&leaving] { RemoveDeviceChangeListener(&leaving); };
    EXPECT_FALSE(AddDeviceChangeListener(&leaving));
    EXPECT_EQ(leaving.calls, 1);
    EXPECT_TRUE(NotifyWindows().empty());

    // With another registration held, the window stays and the answer is true.
    ASSERT_TRUE(AddDeviceChangeListener(nullptr));
    EXPECT_TRUE(AddDeviceChangeListener(&leaving));
    EXPECT_EQ(leaving.calls, 2);
    EXPECT_EQ(NotifyWindows().size(), 1u);
    RemoveDeviceChangeListener(nullptr);
}

DWORD WINAPI RemoveOnAnotherThread(LPVOID /*unused*/) {
    RemoveDeviceChangeListener(nullptr);
    return 0;
}

TEST_F(DeviceNotifyTest, TeardownFromAnotherThreadHandsTheWindowToItsOwnThread) {
    ASSERT_TRUE(AddDeviceChangeListener(nullptr));
    HWND first = NotifyWindows().at(0).handle;
    HANDLE worker = CreateThread(nullptr, 0, RemoveOnAnotherThread, nullptr, 0, nullptr);
    sim::JoinThread(worker);
    CloseHandle(worker);
    // The registration is gone at once; the window waits for its own thread.
    EXPECT_TRUE(sim::DeviceNotifications().empty());
    ASSERT_EQ(NotifyWindows().size(), 1u);

    // A new registration meanwhile opens a window of its own, with the class left registered.
    ASSERT_TRUE(AddDeviceChangeListener(nullptr));
    EXPECT_EQ(NotifyWindows().size(), 2u);

    MSG msg{};
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.hwnd, first);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CLOSE));
    DispatchMessageA(&msg);
    std::vector<sim::WindowInfo> windows = NotifyWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_NE(windows[0].handle, first);
    EXPECT_EQ(sim::DeviceNotifications().at(0).window, windows[0].handle);

    RemoveDeviceChangeListener(nullptr);
    EXPECT_TRUE(NotifyWindows().empty());
    EXPECT_FALSE(ClassRegistered());
}

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == WM_CREATE ? -1 : DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(DeviceNotifyTest, FailedWindowCreationIsTriedAgainByTheNextAddition) {
    // A class of the same name that refuses its windows is left registered by someone else.
    WNDCLASSEXA refusing{};
    refusing.cbSize = sizeof(WNDCLASSEXA);
    refusing.lpfnWndProc = RefuseCreation;
    refusing.lpszClassName = kClass;
    ASSERT_NE(RegisterClassExA(&refusing), 0);

    EXPECT_FALSE(AddDeviceChangeListener(nullptr));
    EXPECT_FALSE(AddDeviceChangeListener(nullptr));
    EXPECT_TRUE(sim::DeviceNotifications().empty());

    ASSERT_TRUE(UnregisterClassA(kClass, nullptr));
    EXPECT_TRUE(AddDeviceChangeListener(nullptr));
    EXPECT_EQ(NotifyWindows().size(), 1u);
    RemoveDeviceChangeListener(nullptr);
    EXPECT_TRUE(NotifyWindows().empty());
}

TEST_F(DeviceNotifyTest, NullDeviceListIsEmptyEverywhere) {
    NullDeviceList list;
    QuenwickDeviceList& asList = list;
    EXPECT_EQ(asList.PortCount(), 0);
    for (std::int32_t position : {0, 5, -1}) {
        EXPECT_EQ(asList.FullPortName(position), "");
        EXPECT_EQ(asList.PortName(position), "");
        EXPECT_EQ(asList.CreateOutput(position), nullptr);
        EXPECT_EQ(asList.ReservedOperation(position), 0u);
    }
}

}  // namespace
