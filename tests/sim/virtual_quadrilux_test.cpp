// The virtual Quadrilux Pro on its own: time is whatever the test says it is.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "sim/model/scenario.h"
#include "sim/model/virtual_quadrilux.h"
#include "tools/firmware_format.h"

namespace {

using model::ParseScenario;
using model::Scenario;
using model::VirtualQuadrilux;
using Mode = VirtualQuadrilux::Mode;
using Role = VirtualQuadrilux::PortRole;
using Open = VirtualQuadrilux::OpenResult;

constexpr std::uint64_t kMs = model::kNanosPerMilli;

std::vector<std::vector<std::uint8_t>> Messages(const std::vector<std::uint8_t>& image) {
    std::vector<std::vector<std::uint8_t>> messages;
    std::vector<std::uint8_t> current;
    for (std::uint8_t b : image) {
        current.push_back(b);
        if (b == 0xF7) {
            messages.push_back(current);
            current.clear();
        }
    }
    return messages;
}

const std::vector<std::vector<std::uint8_t>>& Image() {
    static const auto messages = Messages(firmware::Generate());
    return messages;
}

// Sends one message on the main port the way a host does: begin, then done after its transfer time.
bool Deliver(VirtualQuadrilux& device, std::span<const std::uint8_t> bytes, std::uint64_t& now) {
    VirtualQuadrilux::Transfer t = device.BeginMessage(Role::Main, bytes.size(), now);
    if (!t.accepted || !t.durationNs) {
        return false;
    }
    now += *t.durationNs;
    device.MessageDone(Role::Main, bytes, now);
    return true;
}

unsigned MainIncarnation(VirtualQuadrilux& device, std::uint64_t now) {
    for (const auto& port : device.Ports(now)) {
        if (port.role == Role::Main) {
            return port.incarnation;
        }
    }
    return 0;
}

// Switches the device to update mode and waits until it is back; returns the time.
std::uint64_t SwitchToUpdate(VirtualQuadrilux& device) {
    std::uint64_t now = 0;
    EXPECT_EQ(device.Open(Role::Main, MainIncarnation(device, now), now), Open::Ok);
    EXPECT_TRUE(Deliver(device, Image()[0], now));
    EXPECT_TRUE(device.Ports(now).empty());
    std::optional<std::uint64_t> back = device.NextChange(now);
    EXPECT_TRUE(back.has_value());
    now = back.value_or(now);
    EXPECT_EQ(device.Ports(now).size(), 1u);
    EXPECT_EQ(device.CurrentMode(), Mode::Update);
    return now;
}

TEST(ScenarioText, ParsesEverySetting) {
    std::string error;
    auto s = ParseScenario(
        "name=MIDIOUT2 (Quadrilux Pro), second=2- Quadrilux Pro,secondfirst,boot=3s,busy=1,busyupd=2,"
        "stall=10,refuse=11,vanish=12,rate=1000000,refuseswitch",
        &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->portName, "MIDIOUT2 (Quadrilux Pro)");
    EXPECT_EQ(s->secondPortName, "2- Quadrilux Pro");
    EXPECT_TRUE(s->secondFirst);
    EXPECT_EQ(s->bootNs, 3'000 * kMs);
    EXPECT_EQ(s->busyOpens, 1);
    EXPECT_EQ(s->busyUpdateOpens, 2);
    EXPECT_EQ(s->stallAt, 10u);
    EXPECT_EQ(s->refuseAt, 11u);
    EXPECT_EQ(s->vanishAt, 12u);
    EXPECT_EQ(s->bytesPerSecond, 1'000'000u);
    EXPECT_TRUE(s->refuseSwitch);
    EXPECT_FALSE(s->neverBack);
}

TEST(ScenarioText, TimesAndRates) {
    struct Case {
        const char* text;
        std::uint64_t bootNs;
        std::uint64_t rate;
    } cases[] = {
        {"", 2'500 * kMs, 3125},      {"boot=2500", 2'500 * kMs, 3125},
        {"boot=7ms", 7 * kMs, 3125},  {"boot=9us,rate=instant", 9'000, 0},
        {"boot=5ns, rate = 1", 5, 1},
    };
    for (const Case& c : cases) {
        auto s = ParseScenario(c.text);
        ASSERT_TRUE(s) << c.text;
        EXPECT_EQ(s->bootNs, c.bootNs) << c.text;
        EXPECT_EQ(s->bytesPerSecond, c.rate) << c.text;
    }
    Scenario din;
    EXPECT_EQ(din.TransferNs(44), 14'080'000u);  // 44 bytes at 3,125 bytes/s
    din.bytesPerSecond = 3;
    EXPECT_EQ(din.TransferNs(1), 333'333'334u);  // rounded up
    din.bytesPerSecond = 0;
    EXPECT_EQ(din.TransferNs(44), 0u);
}

TEST(ScenarioText, RefusesWhatItCannotRead) {
    for (const char* text :
         {"bogus", "busy=", "busy=-1", "busy=x", "stall=1.5", "boot=1h", "never=1", "name=", "rate=fast",
          "rate=2000000000", "boot=99999999999999999999", "busy=99999999999"}) {
        std::string error;
        EXPECT_FALSE(ParseScenario(text, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(VirtualQuadrilux, ReceivesTheShippedImageIntact) {
    VirtualQuadrilux device(Scenario{});
    ASSERT_EQ(device.Ports(0).size(), 1u);
    EXPECT_EQ(device.Ports(0)[0].name, "Quadrilux Pro");
    std::uint64_t now = SwitchToUpdate(device);
    EXPECT_EQ(now, 2'500 * kMs);  // the header takes no time in normal mode

    ASSERT_EQ(device.Open(Role::Main, MainIncarnation(device, now), now), Open::Ok);
    std::uint32_t crc = 0;
    for (const auto& message : Image()) {
        ASSERT_TRUE(Deliver(device, message, now));
        crc = firmware::Crc32(message, crc);
    }
    auto report = device.GetReport();
    EXPECT_EQ(report.verdict, model::kIntact);
    EXPECT_TRUE(report.complete);
    EXPECT_EQ(report.headersReceived, 2);
    EXPECT_EQ(report.switches, 1);
    EXPECT_EQ(report.streamMessages, firmware::kMessages);
    EXPECT_EQ(report.streamBytes, firmware::kImageSize);
    EXPECT_EQ(report.streamCrc, crc);
    EXPECT_FALSE(report.firstBadIndex);
}

TEST(VirtualQuadrilux, NamesTheFirstBadMessage) {
    struct Case {
        const char* name;
        std::size_t index;
        void (*spoil)(std::vector<std::uint8_t>&);
        const char* verdict;
    } cases[] = {
        {"payload bit", 40, [](auto& m) { m[10] = 0x80; }, "message 40: byte 10 is 0x80"},
        {"end byte", 7, [](auto& m) { m.back() = 0x00; }, "message 7: does not end with F7"},
        {"short", 3, [](auto& m) { m.erase(m.begin() + 8); }, "message 3: length 43, expected 44"},
        {"type", 2756, [](auto& m) { m[5] = 0x72; }, "message 2756: type 0x72, expected 0x73"},
        {"maker", 1, [](auto& m) { m[2] = 0x21; }, "message 1: does not start with F0 00 20 29 00"},
        {"payload value", 100, [](auto& m) { m[20] ^= 0x01; }, "message 2757: CRC"},
    };
    for (const Case& c : cases) {
        VirtualQuadrilux device(Scenario{});
        std::uint64_t now = SwitchToUpdate(device);
        for (std::size_t i = 0; i < Image().size(); ++i) {
            std::vector<std::uint8_t> message = Image()[i];
            if (i == c.index) {
                c.spoil(message);
            }
            ASSERT_TRUE(Deliver(device, message, now));
        }
        auto report = device.GetReport();
        EXPECT_EQ(report.verdict.rfind(c.verdict, 0), 0u) << c.name << ": " << report.verdict;
        EXPECT_TRUE(report.firstBadIndex) << c.name;
    }
}

TEST(VirtualQuadrilux, MissingAndOutOfOrderMessages) {
    VirtualQuadrilux device(Scenario{});
    std::uint64_t now = SwitchToUpdate(device);
    for (std::size_t i = 0; i < 20; ++i) {
        if (i != 5) {
            Deliver(device, Image()[i], now);
        }
    }
    // Message 5 was skipped, so message 6 arrives at index 5: same type and length, so only the
    // image's CRC can tell; the verdict waits for the final message.
    EXPECT_EQ(device.GetReport().verdict, "incomplete: 19 of 2758 messages received");
    Deliver(device, Image().back(), now);
    EXPECT_EQ(device.GetReport().verdict, "message 19: length 24, expected 44");
}

TEST(VirtualQuadrilux, HeaderInUpdateModeStartsOver) {
    VirtualQuadrilux device(Scenario{});
    std::uint64_t now = SwitchToUpdate(device);
    for (std::size_t i = 0; i < 10; ++i) {
        Deliver(device, Image()[i], now);
    }
    for (const auto& message : Image()) {
        Deliver(device, message, now);
    }
    EXPECT_EQ(device.GetReport().verdict, model::kIntact);
    EXPECT_EQ(device.GetReport().headersReceived, 3);
}

TEST(VirtualQuadrilux, NeverComesBack) {
    VirtualQuadrilux device(*ParseScenario("never"));
    std::uint64_t now = 0;
    ASSERT_TRUE(Deliver(device, Image()[0], now));
    EXPECT_EQ(device.CurrentMode(), Mode::Gone);
    EXPECT_FALSE(device.NextChange(now));
    EXPECT_TRUE(device.Ports(now + 3'600'000 * kMs).empty());
}

TEST(VirtualQuadrilux, OtherTrafficInNormalModeChangesNothing) {
    VirtualQuadrilux device(Scenario{});
    std::uint64_t now = 0;
    ASSERT_TRUE(Deliver(device, Image()[1], now));
    EXPECT_EQ(device.CurrentMode(), Mode::Normal);
    EXPECT_EQ(device.GetReport().verdict, "no image received");
}

TEST(VirtualQuadrilux, BusyOpensPerMode) {
    VirtualQuadrilux device(*ParseScenario("busy=2,busyupd=1,rate=instant"));
    std::uint64_t now = 0;
    EXPECT_EQ(device.Open(Role::Main, 1, now), Open::Busy);
    EXPECT_EQ(device.Open(Role::Main, 1, now), Open::Busy);
    EXPECT_EQ(device.Open(Role::Main, 1, now), Open::Ok);
    ASSERT_TRUE(Deliver(device, Image()[0], now));
    EXPECT_EQ(device.Open(Role::Main, 1, now), Open::Gone);  // off the bus while it boots
    now += 2'500 * kMs;
    unsigned back = MainIncarnation(device, now);
    EXPECT_EQ(back, 2u);
    EXPECT_EQ(device.Open(Role::Main, 1, now), Open::Gone);  // a handle on the old port is stale
    EXPECT_EQ(device.Open(Role::Main, back, now), Open::Busy);
    EXPECT_EQ(device.Open(Role::Main, back, now), Open::Ok);
    EXPECT_EQ(device.GetReport().busyRefusals, 3);
    EXPECT_EQ(device.GetReport().opens, 2);
}

TEST(VirtualQuadrilux, FaultsAtAStreamMessage) {
    {
        VirtualQuadrilux device(*ParseScenario("stall=9"));
        std::uint64_t now = SwitchToUpdate(device);
        for (std::size_t i = 0; i < 9; ++i) {
            ASSERT_TRUE(Deliver(device, Image()[i], now));
        }
        auto t = device.BeginMessage(Role::Main, 44, now);
        EXPECT_TRUE(t.accepted);
        EXPECT_FALSE(t.durationNs);
        device.MessageAborted(Role::Main, now);
        EXPECT_EQ(device.GetReport().verdict, "message 9: taken back by a reset before it arrived");
        EXPECT_EQ(device.GetReport().abortedMessages, 1);
    }
    {
        VirtualQuadrilux device(*ParseScenario("refuse=3"));
        std::uint64_t now = SwitchToUpdate(device);
        for (std::size_t i = 0; i < 3; ++i) {
            ASSERT_TRUE(Deliver(device, Image()[i], now));
        }
        EXPECT_FALSE(device.BeginMessage(Role::Main, 44, now).accepted);
        EXPECT_EQ(device.GetReport().streamMessages, 3u);
    }
    {
        VirtualQuadrilux device(*ParseScenario("vanish=100"));
        std::uint64_t now = SwitchToUpdate(device);
        for (std::size_t i = 0; i < 100; ++i) {
            ASSERT_TRUE(Deliver(device, Image()[i], now));
        }
        auto t = device.BeginMessage(Role::Main, 44, now);
        EXPECT_FALSE(t.durationNs);
        EXPECT_EQ(device.CurrentMode(), Mode::Gone);
        EXPECT_TRUE(device.Ports(now).empty());
        EXPECT_FALSE(device.NextChange(now));
    }
}

TEST(VirtualQuadrilux, RefusedSwitchKeepsNormalMode) {
    VirtualQuadrilux device(*ParseScenario("refuseswitch"));
    std::uint64_t now = 0;
    EXPECT_FALSE(Deliver(device, Image()[0], now));
    EXPECT_EQ(device.CurrentMode(), Mode::Normal);
}

TEST(VirtualQuadrilux, SecondPortComesAndGoesWithTheDevice) {
    VirtualQuadrilux device(*ParseScenario("second=MIDIOUT2 (Quadrilux Pro),secondfirst,rate=instant"));
    auto ports = device.Ports(0);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].role, Role::Second);
    EXPECT_EQ(ports[0].name, "MIDIOUT2 (Quadrilux Pro)");
    EXPECT_EQ(ports[1].name, "Quadrilux Pro");
    // The header on the second port does nothing.
    device.BeginMessage(Role::Second, Image()[0].size(), 0);
    device.MessageDone(Role::Second, Image()[0], 0);
    EXPECT_EQ(device.CurrentMode(), Mode::Normal);
    EXPECT_EQ(device.GetReport().secondPortMessages, 1);
    std::uint64_t now = 0;
    ASSERT_TRUE(Deliver(device, Image()[0], now));
    EXPECT_TRUE(device.Ports(now).empty());
    EXPECT_EQ(device.Ports(now + 2'500 * kMs).size(), 2u);
}

}  // namespace
