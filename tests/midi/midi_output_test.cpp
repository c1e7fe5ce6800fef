// The WinMM output port on the virtual clock: pacing of long messages, failures, release.
#include <gmock/gmock.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diag/general_error.h"
#include "midi/midi_output.h"
#include "platform/win32.h"
#include "tests/midi/midi_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kMs = 1'000'000;

Bytes Message(std::uint8_t tag, std::size_t length = 8) {
    Bytes bytes(length, tag);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

class MidiOutputTest : public MidiFixture {
protected:
    void SetUp() override {
        MidiFixture::SetUp();
        port = sim::AddOutputPort("Quadrilux Pro");
    }
    // Everything the port opened is closed again.
    static void ExpectNothingOpen() {
        EXPECT_EQ(sim::OpenMidiHandleCount(), 0u);
        EXPECT_EQ(sim::OpenHandleCount(), 0u);
    }
    int port = 0;
};

TEST_F(MidiOutputTest, SecondSendWaitsForTheFirstToBeDone) {
    sim::SetTransferTime(port, 300 * kMs);
    MIDI::Output* output = OpenOutputPort(0);
    ASSERT_NE(output, nullptr);
    Bytes first = Message(0x11);
    Bytes second = Message(0x22, 44);

    EXPECT_TRUE(output->SendSysEx(first));
    EXPECT_EQ(sim::NowMs(), 0u);  // returns without waiting for the message
    EXPECT_TRUE(output->SendSysEx(second));
    EXPECT_EQ(sim::NowMs(), 300u);
    EXPECT_THAT(sim::LongMessagesReceived(port), ::testing::ElementsAre(first));

    Sleep(300);
    EXPECT_THAT(sim::LongMessagesReceived(port), ::testing::ElementsAre(first, second));
    output->Release();
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, StalledMessageFailsTheNextSendAfterOneSecondWithTheBufferUntouched) {
    sim::SetTransferTime(port, 1500 * kMs);
    MIDI::Output* output = OpenOutputPort(0);
    Bytes first = Message(0x11);
    ASSERT_TRUE(output->SendSysEx(first));

    EXPECT_FALSE(output->SendSysEx(Message(0x22)));
    EXPECT_EQ(sim::NowMs(), 1000u);
    EXPECT_EQ(sim::Counters().longMessages, 1);
    EXPECT_EQ(sim::Counters().prepares, 1);

    // The first message is taken from the buffer when it is done: still its own bytes.
    Sleep(500);
    EXPECT_THAT(sim::LongMessagesReceived(port), ::testing::ElementsAre(first));
    output->Release();
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, MessageThatNeverFinishesIsHandedBackByTheRelease) {
    sim::SetTransferTime(port, std::nullopt);
    MIDI::Output* output = OpenOutputPort(0);
    ASSERT_TRUE(output->SendSysEx(Message(0x11)));
    EXPECT_FALSE(output->SendSysEx(Message(0x22)));
    EXPECT_EQ(sim::NowMs(), 1000u);
    // A failed wait leaves the event as it was, so every later send waits again and fails.
    EXPECT_FALSE(output->SendSysEx(Message(0x33)));
    EXPECT_EQ(sim::NowMs(), 2000u);
    EXPECT_EQ(sim::PendingLongMessages(port), 1u);
    output->Release();
    EXPECT_EQ(sim::PendingLongMessages(port), 0u);
    EXPECT_TRUE(sim::LongMessagesReceived(port).empty());
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, WaitForCompletionTellsWhetherTheLastMessageFinished) {
    // Done after 300 ms: confirmed then, and the next send still finds the port idle.
    sim::SetTransferTime(port, 300 * kMs);
    MIDI::Output* output = OpenOutputPort(0);
    EXPECT_EQ(output->WaitForCompletion(1000), MIDI::Completion::Finished);  // nothing sent yet
    EXPECT_EQ(sim::NowMs(), 0u);
    ASSERT_TRUE(output->SendSysEx(Message(0x11)));
    EXPECT_EQ(output->WaitForCompletion(1000), MIDI::Completion::Finished);
    EXPECT_EQ(sim::NowMs(), 300u);
    EXPECT_EQ(sim::LongMessagesReceived(port).size(), 1u);
    ASSERT_TRUE(output->SendSysEx(Message(0x22)));
    EXPECT_EQ(sim::NowMs(), 300u);
    output->Release();

    // Never done: not confirmed after the limit, and the release hands it back unsent.
    sim::SetTransferTime(port, std::nullopt);
    output = OpenOutputPort(0);
    ASSERT_TRUE(output->SendSysEx(Message(0x33)));
    EXPECT_EQ(output->WaitForCompletion(1000), MIDI::Completion::Unfinished);
    EXPECT_EQ(sim::NowMs(), 1300u);
    output->Release();
    EXPECT_EQ(sim::LongMessagesReceived(port).size(), 1u);

    // The port leaves the system with the message: handed back as done, never sent; only the
    // port's absence tells.
    sim::SetTransferTime(port, 300 * kMs);
    output = OpenOutputPort(0);
    ASSERT_TRUE(output->SendSysEx(Message(0x44)));
    sim::After(100 * kMs, [this] { sim::RemoveOutputPort(port); });
    EXPECT_EQ(output->WaitForCompletion(1000), MIDI::Completion::Finished);
    EXPECT_EQ(sim::NowMs(), 1400u);
    EXPECT_FALSE(output->IsPresent());
    output->Release();
    EXPECT_EQ(sim::LongMessagesReceived(port).size(), 1u);
    ExpectNothingOpen();
}

// Found by the fault sweep: a refused close left the port held by the process.
TEST_F(MidiOutputTest, ACloseRefusedOnceIsTriedAgainAfterAnotherReset) {
    MIDI::Output* output = OpenOutputPort(0);
    sim::FailNextCalls("midiOutClose", 1, MMSYSERR_NOMEM);
    output->Release();
    EXPECT_EQ(sim::Counters().resets, 2);
    EXPECT_EQ(sim::Counters().closes, 1);
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, BusyPortRaisesGeneralErrorAndLeavesNothingOpen) {
    sim::SetOpenError(port, MMSYSERR_ALLOCATED);
    try {
        OpenOutputPort(0);
        FAIL() << "no GeneralError";
    } catch (const GeneralError& error) {
        EXPECT_STREQ(error.what(), "midiOutOpen failed with error: 4");
    }
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, PortHeldByAnotherClientIsBusy) {
    MIDI::Output* holder = OpenOutputPort(0);
    EXPECT_THROW(MidiOutput second(0), GeneralError);
    EXPECT_EQ(sim::OpenMidiHandleCount(), 1u);
    EXPECT_EQ(sim::OpenHandleCount(), 1u);  // the holder's event alone
    holder->Release();
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, ReleaseRightAfterASendResetsAndClosesAtOnce) {
    sim::SetTransferTime(port, 10 * kMs);
    MIDI::Output* output = OpenOutputPort(0);
    ASSERT_TRUE(output->SendSysEx(Message(0x11)));
    output->Release();
    EXPECT_EQ(sim::NowMs(), 0u);
    EXPECT_EQ(sim::Counters().resets, 1);
    EXPECT_EQ(sim::Counters().closes, 1);
    EXPECT_EQ(sim::PendingLongMessages(port), 0u);
    // Handed back by the reset, so never taken; nothing fires later either.
    Sleep(100);
    EXPECT_TRUE(sim::LongMessagesReceived(port).empty());
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, NameHashesAreFnv1aOfTheFullNames) {
    EXPECT_EQ(NameHashOf(""), 2166136261u);
    EXPECT_EQ(NameHashOf("a"), 0xE40C292Cu);
    EXPECT_EQ(NameHashOf("foobar"), 0xBF9CF968u);
    EXPECT_EQ(NameHashOf("\xff"), (2166136261u ^ 0xFFu) * 16777619u);

    sim::RenameOutputPort(port, "MIDIOUT2 (Quadrilux Pro)");
    MIDI::Output* output = OpenOutputPort(0);
    EXPECT_EQ(output->NameHash(), NameHashOf("Quadrilux Pro: Port 2"));
    EXPECT_EQ(output->NameHashNoPort(), NameHashOf("Quadrilux Pro"));
    output->Release();

    // A port whose description cannot be read has an empty name without port number.
    sim::SetOutputCapsError(port, MMSYSERR_NODRIVER);
    output = OpenOutputPort(0);
    EXPECT_EQ(output->NameHashNoPort(), 2166136261u);
    EXPECT_EQ(output->NameHash(), NameHashOf(": Port 1"));
    output->Release();
}

TEST_F(MidiOutputTest, SendShortSendsTheLowByteOfEachField) {
    MIDI::Output* output = OpenOutputPort(0);
    EXPECT_TRUE(output->SendShort({0x190, 0x13C, 0x17F}));
    EXPECT_THAT(sim::ShortMessagesReceived(port), ::testing::ElementsAre(0x7F3C90u));
    output->Release();
}

TEST_F(MidiOutputTest, OpenOutputPortBeyondTheWinmmPortsAsksTheEmptyList) {
    EXPECT_EQ(OpenOutputPort(1), nullptr);
    EXPECT_EQ(OpenOutputPort(5), nullptr);
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, MessageLongerThanTheSendBufferIsRefused) {
    MIDI::Output* output = OpenOutputPort(0);
    EXPECT_FALSE(output->SendSysEx(Message(0x11, MidiOutput::kSendBufferSize + 1)));
    EXPECT_EQ(sim::Counters().longMessages, 0);
    // The refusal does not use up the wait: the port goes on at once.
    Bytes full = Message(0x22, MidiOutput::kSendBufferSize);
    EXPECT_TRUE(output->SendSysEx(full));
    EXPECT_TRUE(output->SendSysEx({}));
    EXPECT_EQ(sim::NowMs(), 0u);
    EXPECT_THAT(sim::LongMessagesReceived(port), ::testing::ElementsAre(full, Bytes{}));
    output->Release();
}

TEST_F(MidiOutputTest, PlatformRefusalsFailTheSendAndStallThePort) {
    struct Case {
        const char* what;
        void (*inject)(int port);
    };
    const Case cases[] = {
        {"unprepare", [](int id) { sim::SetUnprepareError(id, MMSYSERR_NOMEM); }},
        {"prepare", [](int id) { sim::SetPrepareError(id, MMSYSERR_NOMEM); }},
        {"long message", [](int id) { sim::SetLongMessageError(id, MIDIERR_NOTREADY); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        port = sim::AddOutputPort("Quadrilux Pro");
        MIDI::Output* output = OpenOutputPort(0);
        c.inject(port);
        EXPECT_FALSE(output->SendSysEx(Message(0x11)));
        EXPECT_EQ(sim::NowMs(), 0u);
        EXPECT_EQ(sim::Counters().longMessages, 0);
        // The signal was used up by the failed send: the next one waits the whole second.
        EXPECT_FALSE(output->SendSysEx(Message(0x22)));
        EXPECT_EQ(sim::NowMs(), 1000u);
        output->Release();
        ExpectNothingOpen();
    }
}

TEST_F(MidiOutputTest, IsPresentWhileThePlatformDescribesThePort) {
    MIDI::Output* output = OpenOutputPort(0);
    EXPECT_TRUE(output->IsPresent());
    sim::SetOutputCapsError(port, MMSYSERR_NOMEM);
    EXPECT_FALSE(output->IsPresent());
    sim::SetOutputCapsError(port, MMSYSERR_NOERROR);
    EXPECT_TRUE(output->IsPresent());
    sim::RemoveOutputPort(port);
    EXPECT_FALSE(output->IsPresent());
    EXPECT_FALSE(output->SendSysEx(Message(0x11)));
    output->Release();
    ExpectNothingOpen();
}

TEST_F(MidiOutputTest, PortRemovedWithAMessageInFlightFailsTheNextSend) {
    sim::SetTransferTime(port, std::nullopt);
    MIDI::Output* output = OpenOutputPort(0);
    ASSERT_TRUE(output->SendSysEx(Message(0x11)));
    sim::RemoveOutputPort(port);
    EXPECT_FALSE(output->SendSysEx(Message(0x22)));
    EXPECT_EQ(sim::NowMs(), 0u);  // the message in flight was handed back with the port
    output->Release();
    ExpectNothingOpen();
}

// A port of another making, to show destruction through the reference count.
class CountedOutput : public MIDI::Output {
public:
    explicit CountedOutput(int* destroyed) : destroyed_(destroyed) {}
    ~CountedOutput() override { ++*destroyed_; }
    CountedOutput(const CountedOutput&) = delete;
    CountedOutput& operator=(const CountedOutput&) = delete;
    void ReservedA() override {}
    bool SendSysEx(std::span<const std::uint8_t> /*message*/) override { return false; }
    bool SendShort(const MIDI::ShortMessage& /*message*/) override { return false; }
    std::uint32_t NameHash() override { return 0; }
    std::uint32_t NameHashNoPort() override { return 0; }
    bool IsPresent() override { return false; }
    void ReservedB() override {}
    MIDI::Completion WaitForCompletion(std::uint32_t /*timeoutMs*/) override {
        return MIDI::Completion::Unknown;
    }

private:
    int* destroyed_;
};

TEST(RefCountedTest, LastReleaseDestroysThroughTheMostDerivedDestructor) {
    int destroyed = 0;
    MIDI::Output* once = new CountedOutput(&destroyed);
    EXPECT_EQ(once->refCount, 1);
    once->Release();
    EXPECT_EQ(destroyed, 1);

    MIDI::Output* twice = new CountedOutput(&destroyed);
    ++twice->refCount;
    twice->Release();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(twice->refCount, 1);
    twice->Release();
    EXPECT_EQ(destroyed, 2);
}

}  // namespace
