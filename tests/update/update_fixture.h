// Runs whole updates against the virtual Quadrilux Pro on the virtual clock: a main window and the
// progress dialog on the test's thread, the worker on its own, as the application sets them up.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "midi/device_list.h"
#include "midi/device_notify.h"
#include "platform/host/sim.h"
#include "platform/win32.h"
#include "sim/host/virtual_device.h"
#include "sim/model/scenario.h"
#include "update/firmware_image.h"
#include "update/progress.h"
#include "update/update_worker.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
// Records every SetProgress the worker makes, with what it returned.
class RecordingProgress final : public Progress {
public:
    using Progress::Progress;
    struct Call {
        int position;
        int total;
        HRESULT result;
    };
    HRESULT SetProgress(int position, int total) override {
        HRESULT result = Progress::SetProgress(position, total);
        calls.push_back(Call{position, total, result});
        return result;
    }
    std::vector<Call> calls;  // written by the worker, read once it has ended
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

struct UpdateOutcome {
    bool posted = false;      // WM_UPDATE_RESULT reached the main window
    int results = 0;          // how many did
    std::int32_t status = 1;  // its wParam
    LPARAM lParam = -1;
    std::uint64_t postedAtMs = 0;  // virtual time it arrived
    bool dialogVisibleAtResult = true;
    std::int32_t argsStatus = 1;
};

class UpdateFixture : public ::testing::Test {
protected:
    static constexpr UINT kGiveUp = WM_USER + 200;

    void SetUp() override {
        sim::Reset();
        WNDCLASSEXA cls{};
        cls.cbSize = sizeof(WNDCLASSEXA);
        cls.lpfnWndProc = DefWindowProcA;
        cls.lpszClassName = "UpdateFixtureMain";
        RegisterClassExA(&cls);
        mainWindow = CreateWindowExA(0, "UpdateFixtureMain", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     nullptr, nullptr);
        ASSERT_NE(mainWindow, nullptr);
    }

    void TearDown() override {
        delete deviceList;
        deviceList = nullptr;
    }

    std::shared_ptr<simhost::VirtualDevice> Plug(const std::string& scenario) {
        std::string error;
        auto parsed = model::ParseScenario(scenario, &error);
        EXPECT_TRUE(parsed) << error;
        device = simhost::VirtualDevice::Plug(parsed.value_or(model::Scenario{}));
        return device;
    }

    // Sets up as the update controller does, then runs the worker to its end while this thread
    // pumps messages. `beforeStart` runs once the dialog exists.
    UpdateOutcome Run(const std::function<void()>& beforeStart = nullptr) {
        AddDeviceChangeListener(nullptr);
        deviceList = new NullDeviceList();
        image = FirmwareImage();  // reading position 0, also when a test runs several updates
        EXPECT_TRUE(image.Load());
        progress = std::make_unique<RecordingProgress>(GetModuleHandleA(nullptr));
        if (beforeStart) {
            beforeStart();
        }
        args = UpdateThreadArgs{&image, progress.get(), nullptr, -1, mainWindow};
        HANDLE thread = CreateThread(nullptr, 0, UpdateThreadProc, &args, 0, nullptr);
        EXPECT_NE(thread, nullptr);
        HWND target = mainWindow;
        sim::At(sim::NowNs() + 1'000'000'000'000ULL, [target] { sim::Post(target, kGiveUp, 0, 0); });

        UpdateOutcome outcome;
        MSG msg{};
        while (GetMessageA(&msg, nullptr, 0, 0)) {
            if (msg.hwnd == mainWindow && msg.message == WM_UPDATE_RESULT) {
                if (!outcome.posted) {
                    outcome.posted = true;
                    outcome.status = static_cast<std::int32_t>(static_cast<INT_PTR>(msg.wParam));
                    outcome.lParam = msg.lParam;
                    outcome.postedAtMs = sim::NowMs();
                    outcome.dialogVisibleAtResult = IsWindowVisible(progress->dialog) != FALSE;
                }
                ++outcome.results;
                // Anything else the worker might post would come before its thread ends.
                sim::JoinThread(thread);
                sim::Post(mainWindow, kGiveUp, 1, 0);
                continue;
            }
            if (msg.hwnd == mainWindow && msg.message == kGiveUp) {
                EXPECT_EQ(msg.wParam, 1u) << "the worker never posted its result";
                break;
            }
            DispatchMessageA(&msg);
        }
        CloseHandle(thread);
        outcome.argsStatus = args.status;
        // What every path leaves behind.
        EXPECT_TRUE(outcome.posted);
        EXPECT_EQ(outcome.results, 1);
        EXPECT_EQ(outcome.lParam, 0);
        EXPECT_EQ(outcome.status, args.status);
        EXPECT_FALSE(outcome.dialogVisibleAtResult);
        EXPECT_EQ(EndingCalls(), (std::vector<std::string>{"hide dialog", "post result"}));
        EXPECT_TRUE(sim::Dialog(progress->dialog)) << "the dialog is hidden, not destroyed";
        EXPECT_EQ(deviceList, nullptr);
        EXPECT_TRUE(sim::DeviceNotifications().empty());
        EXPECT_EQ(sim::OpenMidiHandleCount(), 0u) << "the port was not released";
        return outcome;
    }

    // The worker's ending as the stand-in saw the calls made: hiding the dialog, posting the result.
    std::vector<std::string> EndingCalls() const {
        std::vector<std::string> calls;
        for (const sim::ShowOrPost& call : sim::ShowAndPostCalls()) {
            if (call.kind == sim::ShowOrPost::Kind::Show && call.window == progress->dialog &&
                call.showCommand == SW_HIDE) {
                calls.emplace_back("hide dialog");
            } else if (call.kind == sim::ShowOrPost::Kind::Post && call.window == mainWindow &&
                       call.message == WM_UPDATE_RESULT) {
                calls.emplace_back("post result");
            }
        }
        return calls;
    }

    // Positions SetProgress saw after its first call, each checked against the image's total.
    std::vector<int> Positions() const {
        std::vector<int> positions;
        for (const auto& call : progress->calls) {
            EXPECT_EQ(call.total, 2756);
            positions.push_back(call.position);
        }
        return positions;
    }

    static std::vector<int> Range(int first, int last) {
        std::vector<int> values;
        for (int i = first; i <= last; ++i) {
            values.push_back(i);
        }
        return values;
    }

    // Times (ms) of the device's opens, with their WinMM results, for one incarnation of one port.
    std::vector<std::pair<std::uint64_t, unsigned>> Opens(simhost::VirtualDevice::Role role,
                                                          unsigned incarnation) const {
        std::vector<std::pair<std::uint64_t, unsigned>> opens;
        for (const auto& e : device->Events()) {
            if (e.kind == simhost::VirtualDevice::Event::Kind::Open && e.role == role &&
                e.incarnation == incarnation) {
                opens.emplace_back(e.atNs / 1'000'000, e.result);
            }
        }
        return opens;
    }

    HWND mainWindow = nullptr;
    FirmwareImage image;
    std::unique_ptr<RecordingProgress> progress;
    UpdateThreadArgs args{};
    std::shared_ptr<simhost::VirtualDevice> device;
};
