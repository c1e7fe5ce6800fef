// Whole updates against the virtual Quadrilux Pro, on the virtual clock.
#include "update/update_worker.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/update/update_fixture.h"
#include "tools/firmware_format.h"

namespace {

using Role = simhost::VirtualDevice::Role;
using Kind = simhost::VirtualDevice::Event::Kind;

class UpdateWorker : public UpdateFixture {};

std::uint32_t ShippedImageCrc() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_FIRMWARE), RT_RCDATA);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource)));
    return firmware::Crc32(std::span(bytes, SizeofResource(nullptr, resource)));
}

TEST_F(UpdateWorker, SendsTheWholeImageToTheDeviceInUpdateMode) {
    Plug("rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, 0);

    auto report = device->Report();
    EXPECT_EQ(report.verdict, model::kIntact);
    EXPECT_EQ(report.headersReceived, 2);
    EXPECT_EQ(report.switches, 1);
    EXPECT_EQ(report.streamMessages, 2758u);
    EXPECT_EQ(report.streamCrc, ShippedImageCrc());  // byte for byte
    EXPECT_EQ(sim::Counters().longMessages, 1 + 2758);
    EXPECT_TRUE(sim::DebugLines().empty());

    std::vector<int> expected = Range(0, 2758);
    EXPECT_EQ(Positions(), expected);
    for (const auto& call : progress->calls) {
        EXPECT_EQ(call.result, S_OK);
    }
    // The device is back at 2.5 s, found by the first polling pass at 5 s + 1 s.
    EXPECT_EQ(Opens(Role::Main, 2), (std::vector<std::pair<std::uint64_t, unsigned>>{{6000, 0}}));
    // The final message is confirmed finished, so the port goes at once.
    EXPECT_EQ(outcome.postedAtMs, 6000u);
    // The bar stays full past the total.
    auto bar = sim::ProgressBar(GetDlgItem(progress->dialog, IDC_PROGRESS_BAR));
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->position, 2756);
}

TEST_F(UpdateWorker, PacedLinksDeliverTheWholeImage) {
    struct Case {
        const char* scenario;
        std::uint64_t streamMs;  // until the final message is done: 121,303 bytes at the rate
    } cases[] = {{"rate=3125", 38'817}, {"rate=1000000", 121}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        sim::Reset();
        SetUp();
        Plug(c.scenario);
        UpdateOutcome outcome = Run();
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(device->Report().verdict, model::kIntact);
        EXPECT_EQ(device->Report().abortedMessages, 0);
        EXPECT_NEAR(static_cast<double>(outcome.postedAtMs), static_cast<double>(6000 + c.streamMs), 1.0);
    }
}

TEST_F(UpdateWorker, SlowPortGetsTheHeaderAndTheFinalMessageBeforeItIsReleased) {
    // A port that takes 50 ms over every message and never restarts: the header and, after the
    // polling finds the same port again, the whole stream reach it, the last message included.
    int port = sim::AddOutputPort("Quadrilux Pro");
    sim::SetTransferTime(port, 50'000'000);
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, 0);
    auto received = sim::LongMessagesReceived(port);
    ASSERT_EQ(received.size(), 1u + 2758u);
    EXPECT_EQ(received[0].size(), 15u);
    EXPECT_EQ(received[1].size(), 15u);
    EXPECT_EQ(received.back().size(), 24u);
    EXPECT_EQ(received.back()[5], 0x76);
}

TEST_F(UpdateWorker, AHeaderOrFinalMessageThatNeverFinishesFailsTheUpdate) {
    using Lines = std::vector<std::string>;
    // The header is the first long message of all; the final one is message 2757 of the stream.
    struct Case {
        const char* scenario;
        bool headerStalls;
        std::uint64_t postedAtMs;
        const char* trace;
        int switches;
    } cases[] = {
        {"rate=instant", true, 1000, "TKL: The header did not finish within 1000 ms\n", 0},
        {"rate=instant,stall=2757", false, 7000, "TKL: The final message did not finish within 1000 ms\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trace);
        sim::Reset();
        SetUp();
        Plug(c.scenario);
        if (c.headerStalls) {
            sim::InjectFault({"midiOutLongMsg", 1, sim::FaultKind::NeverFinishes});
        }
        UpdateOutcome outcome = Run();
        EXPECT_EQ(outcome.status, -1);
        EXPECT_EQ(outcome.postedAtMs, c.postedAtMs);
        EXPECT_EQ(sim::DebugLines(), Lines{c.trace});
        auto report = device->Report();
        EXPECT_EQ(report.switches, c.switches);
        EXPECT_NE(report.verdict, model::kIntact);
        EXPECT_EQ(report.abortedMessages, 1);
    }
}

TEST_F(UpdateWorker, ASlowHeaderStillHasTheFirstPollingPassSixSecondsAfterItWasGiven) {
    // A port that keeps the header 700 ms and takes the rest at once.
    int port = sim::AddOutputPort("Quadrilux Pro");
    sim::SetTransferTime(port, 700'000'000);
    sim::At(1, [port] { sim::SetTransferTime(port, 0); });
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.postedAtMs, 6000u);  // found by the first pass, streamed at once
    EXPECT_EQ(sim::LongMessagesReceived(port).size(), 1u + 2758u);
}

// A port of a device list that takes every message at once and answers the completion question
// as it is told.
class ListPort : public MIDI::Output {
public:
    explicit ListPort(MIDI::Completion answer) : answer_(answer) {}
    void ReservedA() override {}
    bool SendSysEx(std::span<const std::uint8_t> /*message*/) override {
        ++sent;
        return true;
    }
    bool SendShort(const MIDI::ShortMessage& /*message*/) override { return true; }
    std::uint32_t NameHash() override { return 0; }
    std::uint32_t NameHashNoPort() override { return 0; }
    bool IsPresent() override { return true; }
    void ReservedB() override {}
    MIDI::Completion WaitForCompletion(std::uint32_t /*timeoutMs*/) override { return answer_; }
    static inline int sent = 0;

private:
    MIDI::Completion answer_;
};

class OnePortList : public QuenwickDeviceList {
public:
    explicit OnePortList(MIDI::Completion answer) : answer_(answer) {}
    std::string FullPortName(std::int32_t /*position*/) override { return "Quadrilux Pro"; }
    std::int32_t PortCount() override { return 1; }
    std::string PortName(std::int32_t /*position*/) override { return "Quadrilux Pro"; }
    MIDI::Output* CreateOutput(std::int32_t /*position*/) override { return new ListPort(answer_); }
    std::uintptr_t ReservedOperation(std::int32_t /*position*/) override { return 0; }

private:
    MIDI::Completion answer_;
};

TEST_F(UpdateWorker, APortThatCannotTellGetsTheFixedSecondAfterTheHeaderAndTheFinalMessage) {
    struct Case {
        MIDI::Completion answer;
        std::int32_t status;
        std::uint64_t postedAtMs;
    } cases[] = {
        {MIDI::Completion::Finished, 0, 6000},
        {MIDI::Completion::Unknown, 0, 7000},
        {MIDI::Completion::Unfinished, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        sim::Reset();
        SetUp();
        ListPort::sent = 0;
        UpdateOutcome outcome = Run([&c] {
            delete deviceList;
            deviceList = new OnePortList(c.answer);
        });
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.postedAtMs, c.postedAtMs);
        EXPECT_EQ(ListPort::sent, c.status == 0 ? 1 + 2758 : 1);
    }
}

TEST_F(UpdateWorker, DeviceThatNeverComesBackFailsAfterThePolling) {
    Plug("never,rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, -1);
    EXPECT_GE(outcome.postedAtMs, 305'000u);
    EXPECT_LT(outcome.postedAtMs, 306'000u);
    EXPECT_EQ(Positions(), std::vector<int>{0});
    EXPECT_EQ(device->Report().headersReceived, 1);
}

TEST_F(UpdateWorker, FoundByTheFirstPassThatSeesIt) {
    struct Case {
        const char* scenario;
        std::int32_t status;
        std::uint64_t foundMs;  // 0: never opened in update mode
    } cases[] = {
        {"rate=instant,boot=10ms", 0, 6000},   {"rate=instant,boot=5999ms", 0, 6000},
        {"rate=instant,boot=6001ms", 0, 7000}, {"rate=instant,boot=304999ms", 0, 305000},
        {"rate=instant,boot=305001ms", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        sim::Reset();
        SetUp();
        Plug(c.scenario);
        UpdateOutcome outcome = Run();
        EXPECT_EQ(outcome.status, c.status);
        auto opens = Opens(Role::Main, 2);
        if (c.foundMs == 0) {
            EXPECT_TRUE(opens.empty());
        } else {
            ASSERT_EQ(opens.size(), 1u);
            EXPECT_EQ(opens[0].first, c.foundMs);
        }
    }
}

TEST_F(UpdateWorker, BusyInTheFirstSearchEndsTheUpdate) {
    Plug("busy=1,second=MIDIOUT2 (Quadrilux Pro),rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(Opens(Role::Main, 1),
              (std::vector<std::pair<std::uint64_t, unsigned>>{{0, MMSYSERR_ALLOCATED}}));
    EXPECT_TRUE(Opens(Role::Second, 1).empty()) << "no later matching port is tried";
    EXPECT_EQ(sim::Counters().longMessages, 0);
    EXPECT_EQ(Positions(), std::vector<int>{0});
}

TEST_F(UpdateWorker, BusyDuringPollingIsTriedAgainInTheNextPass) {
    Plug("busyupd=3,rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(device->Report().verdict, model::kIntact);
    EXPECT_EQ(Opens(Role::Main, 2), (std::vector<std::pair<std::uint64_t, unsigned>>{
                                        {6000, MMSYSERR_ALLOCATED},
                                        {7000, MMSYSERR_ALLOCATED},
                                        {8000, MMSYSERR_ALLOCATED},
                                        {9000, 0},
                                    }));
}

TEST_F(UpdateWorker, BusyDuringPollingPassesOverToTheNextMatchingPort) {
    Plug("rate=instant");
    // A matching port held by another program. In the first search it comes after the device and
    // is never reached; while polling it comes first, is passed over, and the device is found.
    int held = sim::AddOutputPort("2- Quadrilux Pro");
    sim::SetOpenError(held, MMSYSERR_ALLOCATED);
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(device->Report().verdict, model::kIntact);
    EXPECT_EQ(Opens(Role::Main, 2), (std::vector<std::pair<std::uint64_t, unsigned>>{{6000, 0}}));
    EXPECT_TRUE(sim::LongMessagesReceived(held).empty());
}

TEST_F(UpdateWorker, FailureOfTheTenthStreamMessageStopsTheStream) {
    // Refused outright; the ninth never finishes, so the tenth waits out the port's second; the
    // device vanishes while the ninth is on its way.
    for (const char* scenario : {"refuse=9,rate=instant", "stall=8,rate=instant", "vanish=8,rate=instant"}) {
        SCOPED_TRACE(scenario);
        sim::Reset();
        SetUp();
        Plug(scenario);
        UpdateOutcome outcome = Run();
        EXPECT_EQ(outcome.status, -1);
        EXPECT_EQ(Positions(), Range(0, 9));
        auto report = device->Report();
        EXPECT_NE(report.verdict, model::kIntact);
        EXPECT_LE(report.streamMessages, 9u);
        sim::MidiCounters counters = sim::Counters();
        EXPECT_EQ(counters.opens, counters.closes);
    }
}

TEST_F(UpdateWorker, HeaderRefusedInNormalMode) {
    Plug("refuseswitch,rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(outcome.postedAtMs, 0u);  // no pause, no polling
    EXPECT_EQ(device->Report().switches, 0);
}

TEST_F(UpdateWorker, LowerIndexOfTwoMatchingPortsIsUsed) {
    Plug("second=MIDIOUT2 (Quadrilux Pro),rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, 0);
    auto report = device->Report();
    EXPECT_EQ(report.verdict, model::kIntact);
    EXPECT_EQ(report.secondPortMessages, 0);
    EXPECT_TRUE(Opens(Role::Second, 1).empty());
    EXPECT_TRUE(Opens(Role::Second, 2).empty());

    // The second port listed first takes the header, so the device is never switched, and the
    // polling finds that same port again: the lower index wins even when it is the wrong port.
    sim::Reset();
    SetUp();
    Plug("second=MIDIOUT2 (Quadrilux Pro),secondfirst,rate=instant");
    outcome = Run();
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(device->Report().secondPortMessages, 1 + 2758);
    EXPECT_EQ(device->Report().switches, 0);
}

TEST_F(UpdateWorker, NameVariantsAreFoundAndLetterCaseIsNot) {
    for (const char* name : {"MIDIOUT2 (Quadrilux Pro)", "2- Quadrilux Pro", "USB Quadrilux Pro MIDI 1"}) {
        SCOPED_TRACE(name);
        sim::Reset();
        SetUp();
        int decoy = sim::AddOutputPort("quadrilux pro");
        sim::SetOpenError(decoy, MMSYSERR_ALLOCATED);  // opening it would end the first search
        sim::AddOutputPort("Quadrilux");
        Plug(std::string("rate=instant,name=") + name);
        UpdateOutcome outcome = Run();
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(device->Report().verdict, model::kIntact);
        EXPECT_TRUE(sim::LongMessagesReceived(decoy).empty());
    }
    for (const char* name : {"QUADRILUX PRO", "Quadrilux pro", "Quadrilux  Pro"}) {
        SCOPED_TRACE(name);
        sim::Reset();
        SetUp();
        Plug(std::string("rate=instant,name=") + name);
        UpdateOutcome outcome = Run();
        EXPECT_EQ(outcome.status, -1);
        EXPECT_EQ(device->Report().opens, 0);
        EXPECT_EQ(outcome.postedAtMs, 0u);
    }
}

TEST_F(UpdateWorker, ImageWithoutHeaderSendsNothing) {
    std::vector<std::uint8_t> bytes = firmware::Generate();
    bytes[5] = 0x72;
    sim::ResourceOverride noHeader(RT_RCDATA, IDR_FIRMWARE, bytes);
    Plug("rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(device->Report().opens, 0);
    EXPECT_EQ(sim::Counters().longMessages, 0);
}

TEST_F(UpdateWorker, ImageDamagedPartWayIsNotReportedAsSent) {
    std::vector<std::uint8_t> bytes = firmware::Generate();
    // Message 100 loses its closing byte, so it runs into the next one: the reader refuses it.
    const std::size_t end = 15 + 100 * 44 - 1;
    ASSERT_EQ(bytes[end], 0xF7);
    bytes[end] = 0x00;
    sim::ResourceOverride damaged(RT_RCDATA, IDR_FIRMWARE, bytes);
    Plug("rate=instant");
    UpdateOutcome outcome = Run();
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(device->Report().streamMessages, 100u);
    EXPECT_EQ(Positions(), Range(0, 100));
    EXPECT_EQ(sim::DebugLines(),
              std::vector<std::string>{"TKL: Firmware image damaged after 4371 of 121303 bytes\n"});
}

// ---- Cancel ---------------------------------------------------------------------------------------

TEST_F(UpdateWorker, CancelBeforeTheWorkerStartsSendsNothing) {
    Plug("rate=instant");
    UpdateOutcome outcome = Run([this] {
        sim::ClickCloseBox(progress->dialog);
        // Let the dialog's thread take the click before the worker starts.
        sim::Post(mainWindow, WM_NULL, 0, 0);
        MSG msg{};
        while (progress->status != E_ABORT && GetMessageA(&msg, nullptr, 0, 0)) {
            DispatchMessageA(&msg);
        }
    });
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(device->Report().opens, 0);
    EXPECT_EQ(sim::Counters().longMessages, 0);
    ASSERT_EQ(progress->calls.size(), 1u);
    EXPECT_EQ(progress->calls[0].result, E_ABORT);
}

TEST_F(UpdateWorker, CancelWhileWaitingForTheDeviceEndsTheWait) {
    Plug("never,rate=instant");
    UpdateOutcome outcome = Run([this] {
        HWND dialog = progress->dialog;
        sim::At(20'500'000'000ULL, [dialog] { sim::ClickCloseBox(dialog); });
    });
    EXPECT_EQ(outcome.status, -1);
    EXPECT_EQ(outcome.postedAtMs, 21'000u);  // at the next polling pass, not after 305 s
    EXPECT_EQ(sim::DebugLines(),
              std::vector<std::string>{"TKL: Update cancelled before the image was sent\n"});
    EXPECT_EQ(Positions(), std::vector<int>{0});
}

TEST_F(UpdateWorker, CancelDuringTheStreamLetsTheImageFinish) {
    // On a paced link the clock moves only once the dialog's thread has taken the click, so every
    // SetProgress after the one that saw the click returns the cancel.
    Plug("rate=1000000");
    UpdateOutcome outcome = Run([this] {
        HWND dialog = progress->dialog;
        sim::SetProgressBarObserver([dialog](const sim::ProgressBarChange& change) {
            if (change.message == PBM_SETPOS && change.wParam == 100) {
                sim::ClickCloseBox(dialog);
            }
        });
    });
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(device->Report().verdict, model::kIntact);
    EXPECT_EQ(Positions(), Range(0, 2758));
    ASSERT_EQ(progress->calls.size(), 2759u);
    for (std::size_t i = 0; i < progress->calls.size(); ++i) {
        if (i < 100) {
            EXPECT_EQ(progress->calls[i].result, S_OK) << i;
        } else if (i > 100) {
            EXPECT_EQ(progress->calls[i].result, E_ABORT) << i;
        }
    }
    EXPECT_TRUE(sim::Dialog(progress->dialog)) << "the dialog stays";
}

}  // namespace
