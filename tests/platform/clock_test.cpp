// The stand-in's virtual clock: waits finish on virtual time, deterministically.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ClockTest, SleepMovesOnlyTheVirtualClock) {
    auto start = std::chrono::steady_clock::now();
    Sleep(305'000);
    EXPECT_EQ(sim::NowMs(), 305'000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(ClockTest, WaitTimesOutAfterItsVirtualTimeout) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 1000), WAIT_TIMEOUT);
    EXPECT_EQ(sim::NowMs(), 1000u);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

TEST_F(ClockTest, AutoResetEventIsConsumedByTheWait) {
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST_F(ClockTest, TimerSignalsAWaitingThreadAtItsInstant) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    sim::At(2'500'000'000ULL, [event] { SetEvent(event); });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(sim::NowMs(), 2500u);
    CloseHandle(event);
}

DWORD WINAPI SleepyThread(LPVOID param) {
    Sleep(5000);
    SetEvent(static_cast<HANDLE>(param));
    Sleep(1000);
    return 0;
}

TEST_F(ClockTest, ClockWaitsForEveryThreadToBlock) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, SleepyThread, event, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 10'000), WAIT_OBJECT_0);
    EXPECT_EQ(sim::NowMs(), 5000u);
    sim::JoinThread(thread);
    EXPECT_EQ(sim::NowMs(), 6000u);
    CloseHandle(thread);
    CloseHandle(event);
}

TEST_F(ClockTest, StartedThreadCannotRunTheClockAheadOfTheTestThread) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, SleepyThread, event, 0, nullptr);
    // Give the new thread every chance to reach its sleeps before this thread first waits.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    EXPECT_EQ(sim::NowMs(), 0u);
    EXPECT_EQ(WaitForSingleObject(event, 10'000), WAIT_OBJECT_0);
    EXPECT_EQ(sim::NowMs(), 5000u);
    sim::JoinThread(thread);
    CloseHandle(thread);
    CloseHandle(event);
}

LRESULT CALLBACK EchoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) {
        return static_cast<LRESULT>(wParam * 2);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct SendArgs {
    HWND window;
    LRESULT result;
};

DWORD WINAPI SenderThread(LPVOID param) {
    auto* args = static_cast<SendArgs*>(param);
    Sleep(10);
    args->result = SendMessageA(args->window, WM_USER, 21, 0);
    PostMessageA(args->window, WM_USER + 1, 0, 0);
    return 0;
}

TEST_F(ClockTest, MessagesSentAcrossThreadsAreHandledInTheOwnersLoop) {
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = EchoProc;
    cls.lpszClassName = "Echo";
    ASSERT_NE(RegisterClassExA(&cls), 0);
    HWND window = CreateWindowExA(0, "Echo", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    SendArgs args{window, 0};
    HANDLE thread = CreateThread(nullptr, 0, SenderThread, &args, 0, nullptr);
    MSG msg{};
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    sim::JoinThread(thread);
    EXPECT_EQ(args.result, 42);
    CloseHandle(thread);
    EXPECT_FALSE(DestroyWindow(nullptr));
    EXPECT_TRUE(DestroyWindow(window));
}

}  // namespace
