// The virtual Quadrilux Pro seen through the simulated WinMM, as the product sees it.
#include "sim/host/virtual_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "tools/firmware_format.h"

namespace {

using Kind = simhost::VirtualDevice::Event::Kind;

std::vector<std::string> PortNames() {
    std::vector<std::string> names;
    for (UINT i = 0; i < midiOutGetNumDevs(); ++i) {
        MIDIOUTCAPSA caps{};
        EXPECT_EQ(midiOutGetDevCapsA(i, &caps, sizeof(caps)), MMSYSERR_NOERROR);
        names.emplace_back(caps.szPname);
    }
    return names;
}

// A minimal WinMM client: opens a port with an event, sends long messages one at a time.
class Client {
public:
    explicit Client(UINT port) : event_(CreateEventA(nullptr, FALSE, TRUE, nullptr)) {
        result = midiOutOpen(&handle_, port, reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
    }
    ~Client() {
        if (handle_ != nullptr) {
            midiOutReset(handle_);
            midiOutClose(handle_);
        }
        CloseHandle(event_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Send(std::span<const std::uint8_t> message) {
        if (WaitForSingleObject(event_, 1000) != WAIT_OBJECT_0) {
            return false;
        }
        midiOutUnprepareHeader(handle_, &header_, sizeof(header_));
        std::memcpy(buffer_, message.data(), message.size());
        header_ = MIDIHDR{};
        header_.lpData = reinterpret_cast<LPSTR>(buffer_);
        header_.dwBufferLength = static_cast<DWORD>(message.size());
        return midiOutPrepareHeader(handle_, &header_, sizeof(header_)) == MMSYSERR_NOERROR &&
               midiOutLongMsg(handle_, &header_, sizeof(header_)) == MMSYSERR_NOERROR;
    }
    // Waits until the last message is done.
    bool Drain() {
        if (WaitForSingleObject(event_, 1000) != WAIT_OBJECT_0) {
            return false;
        }
        SetEvent(event_);
        return true;
    }

    MMRESULT result = MMSYSERR_ERROR;

private:
    HANDLE event_;
    HMIDIOUT handle_ = nullptr;
    MIDIHDR header_{};
    std::uint8_t buffer_[64]{};
};

std::shared_ptr<simhost::VirtualDevice> PlugText(const char* text) {
    auto scenario = model::ParseScenario(text);
    EXPECT_TRUE(scenario) << text;
    return simhost::VirtualDevice::Plug(scenario.value_or(model::Scenario{}));
}

TEST(VirtualDevice, LeavesTheBusOnTheHeaderAndComesBackUnderTheSameName) {
    sim::Reset();
    int other = sim::AddOutputPort("Other Synth");
    auto device = PlugText("name=MIDIOUT2 (Quadrilux Pro),boot=2500ms");
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"Other Synth", "MIDIOUT2 (Quadrilux Pro)"}));
    {
        Client client(1);
        ASSERT_EQ(client.result, MMSYSERR_NOERROR);
        ASSERT_TRUE(client.Send(firmware::kHeader));
    }
    EXPECT_EQ(device->Report().switches, 1);
    Sleep(2499);
    EXPECT_EQ(PortNames(), std::vector<std::string>{"Other Synth"});
    Sleep(1);
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"Other Synth", "MIDIOUT2 (Quadrilux Pro)"}));
    EXPECT_EQ(device->Report().mode, model::VirtualQuadrilux::Mode::Update);
    std::vector<int> ids = device->PortIds();
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_NE(ids[0], other);

    device->Unplug();
    EXPECT_EQ(PortNames(), std::vector<std::string>{"Other Synth"});
    Sleep(10'000);
    EXPECT_EQ(PortNames(), std::vector<std::string>{"Other Synth"});
}

TEST(VirtualDevice, PacesTheStreamAtItsRateAndChecksIt) {
    sim::Reset();
    auto device = PlugText("rate=3125,boot=10ms");
    {
        Client client(0);
        ASSERT_TRUE(client.Send(firmware::kHeader));
    }
    Sleep(10);
    std::vector<std::uint8_t> image = firmware::Generate();
    Client client(0);
    ASSERT_EQ(client.result, MMSYSERR_NOERROR);
    std::uint64_t start = sim::NowNs();
    std::size_t at = 0;
    while (at < image.size()) {
        const std::uint8_t* end =
            static_cast<const std::uint8_t*>(std::memchr(image.data() + at, 0xF7, image.size() - at));
        ASSERT_NE(end, nullptr);
        std::size_t length = static_cast<std::size_t>(end - (image.data() + at)) + 1;
        ASSERT_TRUE(client.Send(std::span(image).subspan(at, length)));
        at += length;
    }
    ASSERT_TRUE(client.Drain());
    // 121,303 bytes at 3,125 bytes/s, each message rounded up to the nanosecond.
    std::uint64_t elapsed = sim::NowNs() - start;
    EXPECT_GE(elapsed, 121'303ULL * 1'000'000'000ULL / 3125);
    EXPECT_LE(elapsed, 121'303ULL * 1'000'000'000ULL / 3125 + 2758);
    EXPECT_EQ(device->Report().verdict, model::kIntact);
}

TEST(VirtualDevice, BusyOpensAreRefusedAsAllocated) {
    sim::Reset();
    auto device = PlugText("busy=2");
    EXPECT_EQ(Client(0).result, static_cast<MMRESULT>(MMSYSERR_ALLOCATED));
    EXPECT_EQ(Client(0).result, static_cast<MMRESULT>(MMSYSERR_ALLOCATED));
    EXPECT_EQ(Client(0).result, static_cast<MMRESULT>(MMSYSERR_NOERROR));
    int opens = 0;
    for (const auto& e : device->Events()) {
        opens += e.kind == Kind::Open ? 1 : 0;
    }
    EXPECT_EQ(opens, 3);
    EXPECT_EQ(sim::OpenMidiHandleCount(), 0u);
}

TEST(VirtualDevice, ResetTakesBackAMessageOnItsWay) {
    sim::Reset();
    auto device = PlugText("rate=10,boot=0ms");
    {
        Client client(0);
        ASSERT_TRUE(client.Send(firmware::kHeader));
    }
    Sleep(1);
    {
        Client client(0);
        ASSERT_TRUE(client.Send(firmware::kHeader));  // 1.5 s on this link; the client resets at once
    }
    auto report = device->Report();
    EXPECT_EQ(report.abortedMessages, 1);
    EXPECT_EQ(report.verdict, "message 0: taken back by a reset before it arrived");
}

TEST(VirtualDevice, WorksOnTheRealClock) {
    sim::Reset(true);
    auto device = PlugText("boot=20ms,rate=instant");
    {
        Client client(0);
        ASSERT_TRUE(client.Send(firmware::kHeader));
    }
    // Off the bus at the next wait, back 20 ms later on the wall clock.
    for (int i = 0; i < 1000 && !PortNames().empty(); ++i) {
        Sleep(1);
    }
    EXPECT_TRUE(PortNames().empty());
    for (int i = 0; i < 1000 && PortNames().empty(); ++i) {
        Sleep(1);
    }
    EXPECT_EQ(PortNames(), std::vector<std::string>{"Quadrilux Pro"});
    auto events = device->Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, Kind::PortAdded);
    EXPECT_GE(events.back().atNs, 20'000'000u);
    sim::Reset();
}

TEST(VirtualDevice, ScenarioFromTheEnvironment) {
    std::string error;
    setenv("QLX_TEST_DEVICE", "busy=2,rate=instant", 1);
    auto scenario = simhost::VirtualDevice::ScenarioFromEnvironment("QLX_TEST_DEVICE", &error);
    ASSERT_TRUE(scenario) << error;
    EXPECT_EQ(scenario->busyOpens, 2);
    setenv("QLX_TEST_DEVICE", "busy=two", 1);
    EXPECT_FALSE(simhost::VirtualDevice::ScenarioFromEnvironment("QLX_TEST_DEVICE", &error));
    EXPECT_NE(error.find("busy=two"), std::string::npos);
    unsetenv("QLX_TEST_DEVICE");
    EXPECT_TRUE(simhost::VirtualDevice::ScenarioFromEnvironment("QLX_TEST_DEVICE", &error));
}

}  // namespace
