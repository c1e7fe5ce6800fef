// The simulated WinMM under the port layer: header ownership, completion events, removal.
#include <gmock/gmock.h>

#include <cstring>
#include <vector>

#include "platform/win32.h"
#include "tests/midi/midi_fixture.h"

namespace {

constexpr std::uint64_t kMs = 1'000'000;

class WinmmHostTest : public MidiFixture {
protected:
    void SetUp() override {
        MidiFixture::SetUp();
        port = sim::AddOutputPort("Port A");
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ASSERT_EQ(midiOutOpen(&handle, 0, reinterpret_cast<DWORD_PTR>(event), 0, CALLBACK_EVENT),
                  MMSYSERR_NOERROR);
    }
    void TearDown() override {
        if (handle != nullptr) {
            midiOutReset(handle);
            midiOutClose(handle);
        }
        CloseHandle(event);
        MidiFixture::TearDown();
    }
    bool Signalled() const { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
    MMRESULT Send(MIDIHDR& header, char* data, DWORD length) {
        header = MIDIHDR{};
        header.lpData = data;
        header.dwBufferLength = length;
        MMRESULT prepared = midiOutPrepareHeader(handle, &header, sizeof(MIDIHDR));
        return prepared != MMSYSERR_NOERROR ? prepared : midiOutLongMsg(handle, &header, sizeof(MIDIHDR));
    }
    int port = 0;
    HANDLE event = nullptr;
    HMIDIOUT handle = nullptr;
};

TEST_F(WinmmHostTest, EventIsSignalledOnOpenDoneAndClose) {
    EXPECT_TRUE(Signalled());  // open
    EXPECT_FALSE(Signalled());
    sim::SetTransferTime(port, 5 * kMs);
    char data[] = "\xF0\x01\xF7";
    MIDIHDR header{};
    ASSERT_EQ(Send(header, data, 3), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_INQUEUE));
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(sim::NowMs(), 5u);
    EXPECT_EQ(header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
    EXPECT_EQ(midiOutUnprepareHeader(handle, &header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
    handle = nullptr;
    EXPECT_TRUE(Signalled());  // close
    EXPECT_EQ(sim::OpenMidiHandleCount(), 0u);
}

TEST_F(WinmmHostTest, HeaderOwnershipRules) {
    char data[] = "\xF0\x01\xF7";
    MIDIHDR header{};
    header.lpData = data;
    header.dwBufferLength = 3;
    EXPECT_EQ(midiOutUnprepareHeader(handle, &header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);  // never prepared
    EXPECT_EQ(midiOutLongMsg(handle, &header, sizeof(MIDIHDR)), static_cast<MMRESULT>(MIDIERR_UNPREPARED));
    EXPECT_EQ(midiOutPrepareHeader(handle, &header, sizeof(MIDIHDR) - 1),
              static_cast<MMRESULT>(MMSYSERR_INVALPARAM));

    sim::SetTransferTime(port, std::nullopt);
    ASSERT_EQ(Send(header, data, 3), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutUnprepareHeader(handle, &header, sizeof(MIDIHDR)),
              static_cast<MMRESULT>(MIDIERR_STILLPLAYING));
    EXPECT_EQ(midiOutLongMsg(handle, &header, sizeof(MIDIHDR)), static_cast<MMRESULT>(MIDIERR_STILLPLAYING));
    EXPECT_EQ(midiOutShortMsg(handle, 0x90), static_cast<MMRESULT>(MIDIERR_NOTREADY));
    EXPECT_EQ(midiOutClose(handle), static_cast<MMRESULT>(MIDIERR_STILLPLAYING));

    // The reset hands the message back as done, without its bytes, and signals it.
    ASSERT_TRUE(Signalled());  // from the open
    EXPECT_EQ(midiOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, static_cast<DWORD>(MHDR_PREPARED | MHDR_DONE));
    EXPECT_TRUE(Signalled());
    EXPECT_TRUE(sim::LongMessagesReceived(port).empty());
    EXPECT_EQ(midiOutUnprepareHeader(handle, &header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, static_cast<DWORD>(MHDR_DONE));

    sim::MidiCounters counters = sim::Counters();
    EXPECT_EQ(counters.opens, 1);
    EXPECT_EQ(counters.prepares, 1);
    EXPECT_EQ(counters.unprepares, 1);
    EXPECT_EQ(counters.longMessages, 1);
    EXPECT_EQ(counters.resets, 1);
}

TEST_F(WinmmHostTest, BytesAreTakenWhenTheMessageIsDone) {
    sim::SetTransferTime(port, 5 * kMs);
    char data[] = "\xF0\x01\xF7";
    MIDIHDR header{};
    ASSERT_EQ(Send(header, data, 3), MMSYSERR_NOERROR);
    data[1] = 0x02;  // a buffer still owned by the platform, touched: the change shows
    Sleep(5);
    EXPECT_THAT(sim::LongMessagesReceived(port),
                ::testing::ElementsAre(std::vector<std::uint8_t>{0xF0, 0x02, 0xF7}));
}

TEST_F(WinmmHostTest, QueuedMessagesFinishOneAfterAnother) {
    sim::SetTransferTime(port, 10 * kMs);
    char first[] = "\xF0\x01\xF7";
    char second[] = "\xF0\x02\xF7";
    MIDIHDR a{};
    MIDIHDR b{};
    ASSERT_EQ(Send(a, first, 3), MMSYSERR_NOERROR);
    ASSERT_EQ(Send(b, second, 3), MMSYSERR_NOERROR);
    Sleep(10);
    EXPECT_EQ(sim::LongMessagesReceived(port).size(), 1u);
    EXPECT_EQ(sim::PendingLongMessages(port), 1u);
    Sleep(10);
    EXPECT_EQ(sim::LongMessagesReceived(port).size(), 2u);
    EXPECT_EQ(b.dwFlags & MHDR_DONE, static_cast<DWORD>(MHDR_DONE));
}

TEST_F(WinmmHostTest, CapabilitiesByIdentifierAndByOpenHandle) {
    sim::AddOutputPort(std::string(32, 'b'));
    MIDIOUTCAPSA caps{};
    std::memset(&caps, 0x55, sizeof(caps));
    ASSERT_EQ(midiOutGetDevCapsA(1, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname), std::string(31, 'b'));
    EXPECT_EQ(midiOutGetDevCapsA(2, &caps, sizeof(caps)), static_cast<MMRESULT>(MMSYSERR_BADDEVICEID));

    sim::RenameOutputPort(port, "Port A2");
    ASSERT_EQ(midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(handle), &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Port A2");
    EXPECT_EQ(sizeof(MIDIOUTCAPSA), 52u);
    EXPECT_EQ(sizeof(MIDIINCAPSA), 44u);
}

TEST_F(WinmmHostTest, RemovedPortFailsLaterTrafficButStillCloses) {
    sim::SetTransferTime(port, std::nullopt);
    char data[] = "\xF0\x01\xF7";
    MIDIHDR header{};
    ASSERT_EQ(Send(header, data, 3), MMSYSERR_NOERROR);
    ASSERT_TRUE(Signalled());  // from the open
    sim::RemoveOutputPort(port);
    EXPECT_TRUE(Signalled());  // the pending message came back
    EXPECT_EQ(midiOutGetNumDevs(), 0u);
    MIDIOUTCAPSA caps{};
    EXPECT_EQ(midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(handle), &caps, sizeof(caps)),
              static_cast<MMRESULT>(MMSYSERR_NODRIVER));
    EXPECT_EQ(midiOutShortMsg(handle, 0x90), static_cast<MMRESULT>(MMSYSERR_NODRIVER));
    EXPECT_EQ(midiOutUnprepareHeader(handle, &header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(Send(header, data, 3), static_cast<MMRESULT>(MMSYSERR_NODRIVER));
    EXPECT_EQ(midiOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(handle), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    handle = nullptr;
}

// A device of its own, to show the hooks and their order.
class RecordingDevice : public sim::OutputPortDevice {
public:
    MMRESULT Open() override {
        log.push_back("open");
        return MMSYSERR_NOERROR;
    }
    void Close() override { log.push_back("close"); }
    LongMessagePlan BeginLongMessage(std::size_t length) override {
        log.push_back("begin " + std::to_string(length));
        return {MMSYSERR_NOERROR, 2 * kMs};
    }
    void LongMessageDone(std::span<const std::uint8_t> bytes) override {
        log.push_back("done " + std::to_string(bytes.size()) + " at " + std::to_string(sim::NowMs()));
    }
    MMRESULT ShortMessage(DWORD message) override {
        log.push_back("short " + std::to_string(message));
        return MMSYSERR_NOERROR;
    }
    void Reset() override { log.push_back("reset"); }
    std::vector<std::string> log;
};

TEST_F(WinmmHostTest, DeviceHooksSeeTheTraffic) {
    auto device = std::make_shared<RecordingDevice>();
    sim::AddOutputPort("Device port", device);
    HMIDIOUT own = nullptr;
    ASSERT_EQ(midiOutOpen(&own, 1, 0, 0, 0), MMSYSERR_NOERROR);
    HMIDIOUT second = nullptr;
    EXPECT_EQ(midiOutOpen(&second, 1, 0, 0, 0), static_cast<MMRESULT>(MMSYSERR_ALLOCATED));
    EXPECT_EQ(second, nullptr);
    char data[] = "\xF0\x01\x02\xF7";
    MIDIHDR header{};
    header.lpData = data;
    header.dwBufferLength = 4;
    ASSERT_EQ(midiOutPrepareHeader(own, &header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutLongMsg(own, &header, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    Sleep(3);
    EXPECT_EQ(midiOutShortMsg(own, 0x403C90), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutReset(own), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(own), MMSYSERR_NOERROR);
    EXPECT_THAT(device->log,
                ::testing::ElementsAre("open", "begin 4", "done 4 at 2", "short 4209808", "reset", "close"));
}

}  // namespace
