// The receive path: channel messages, the three reply layouts, message assembly and its limits.
#include <gtest/gtest.h>

#include "tests/device/support.h"

namespace {

using devtest::Bytes;
using devtest::Hex;
using devtest::RecordingDevice;
using devtest::Sysex;
using Lines = std::vector<std::string>;

class ReceiveTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    RecordingDevice device;
};

struct ChannelCase {
    const char* name;
    std::vector<const char*> deliveries;
    Lines events;
    Lines traces;
};
void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }

class ChannelMessages : public ::testing::TestWithParam<ChannelCase> {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_P(ChannelMessages, ParseIntoBankAndProgram) {
    const ChannelCase& c = GetParam();
    RecordingDevice device;
    for (const char* delivery : c.deliveries) {
        device.Deliver(Hex(delivery));
    }
    EXPECT_EQ(device.events, c.events);
    EXPECT_EQ(sim::DebugLines(), c.traces);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChannelMessages,
    ::testing::Values(
        ChannelCase{"BankByController32", {"B0 20 05"}, {"bank 5"}, {"TKL: bank -> 5\n"}},
        ChannelCase{"ChannelIsIgnored", {"B3 20 05"}, {"bank 5"}, {"TKL: bank -> 5\n"}},
        ChannelCase{
            "BankByNrpnOnceOnly", {"B0 63 3F", "B0 06 02", "B0 06 03"}, {"bank 2"}, {"TKL: bank -> 2\n"}},
        ChannelCase{"Nrpn99OtherValueDoesNotArm", {"B0 63 10 B0 06 02"}, {}, {}},
        ChannelCase{"ProgramByNrpn", {"B0 62 01 B0 26 07"}, {"program 7"}, {}},
        ChannelCase{"ProgramChange", {"C0 05"}, {"program 5"}, {}},
        ChannelCase{"ProgramStatusPendingForNextDelivery", {"C5", "05"}, {"program 5"}, {}},
        ChannelCase{"ControlChangePendingForNextDelivery", {"B0 20", "05"}, {"bank 5"}, {"TKL: bank -> 5\n"}},
        ChannelCase{"BadController", {"B0 85 20 05"}, {}, {"TKL: psa: got bad midi: b0,85\n"}},
        ChannelCase{"BadControllerValue",
                    {"B0 20 85 B0 20 01"},
                    {"bank 1"},
                    {"TKL: psa: got bad midi: b0,2085\n", "TKL: bank -> 1\n"}},
        ChannelCase{"BadProgram", {"C0 90 C0 03"}, {"program 3"}, {"TKL: psa: got bad midi: c090\n"}},
        ChannelCase{"NoteOnDroppedSilently", {"90 3C 7F"}, {}, {}},
        ChannelCase{"ChannelBytesBeforeSysexOnly",
                    {"C0 05 F0 7E F7"},
                    {"program 5"},
                    {"TKL: Ignoring unknown Sysex msg >f0 7e f7 <[3]\n"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ReceiveTest, RingWrapsWithoutLosingAMessage) {
    // 4094 dropped data bytes, then a Control Change that straddles the end of the ring.
    device.Deliver(Bytes(4094, 0x01));
    device.Deliver(Hex("B0 20 09"));
    EXPECT_EQ(device.events, Lines{"bank 9"});
    EXPECT_EQ(device.ringRead, device.ringWrite);
}

struct ReplyCase {
    const char* name;
    Bytes message;
    Lines events;
    Lines traces;
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ReplyLayouts : public ::testing::TestWithParam<ReplyCase> {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_P(ReplyLayouts, AreRecognisedAndDecoded) {
    const ReplyCase& c = GetParam();
    RecordingDevice device;
    device.Deliver(c.message);
    EXPECT_EQ(device.events, c.events);
    EXPECT_EQ(sim::DebugLines(), c.traces);
    EXPECT_EQ(device.sysexLength, 0);
}

std::string UnknownTrace(const Bytes& message) {
    std::string dump;
    char pair[4];
    for (std::uint8_t b : message) {
        std::snprintf(pair, sizeof pair, "%02x ", b);
        dump += pair;
    }
    return "TKL: Ignoring unknown Sysex msg >" + dump + "<[" + std::to_string(message.size()) + "]\n";
}

const Bytes kStatus = Hex("F0 00 20 29 03 01 7F 20 00 09 05 01 00 F7");
const Bytes kValue19 =
    Sysex(19, {{7, 0x0A}, {11, 0x85}, {12, 0x06}, {13, 1}, {14, 2}, {15, 3}, {16, 4}, {17, 5}});
const Bytes kValueKind1Clear = Sysex(19, {{7, 0x01}, {8, 0x00}});
const Bytes kBlockBad = Sysex(526, {{7, 0x02}});

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyLayouts,
    ::testing::Values(
        ReplyCase{"StatusWithBit24", kStatus, {"status A=1 B=0 value=0 code=16843013"}, {}},
        ReplyCase{"StatusCode40", Sysex(14, {{7, 0x20}, {10, 0x28}}), {"status A=0 B=0 value=0 code=40"}, {}},
        ReplyCase{
            "StatusCode41", Sysex(14, {{7, 0x20}, {10, 0x29}}), {"status A=0 B=0 value=0 code=16777257"}, {}},
        ReplyCase{"StatusByte8SetNoBit24",
                  Sysex(14, {{7, 0x20}, {8, 0x01}, {10, 0x29}}),
                  {"status A=0 B=0 value=0 code=41"},
                  {}},
        ReplyCase{"StatusHighCodeBits",
                  Sysex(14, {{7, 0x20}, {8, 0x40}, {9, 0x7F}, {10, 0x7F}, {11, 0x03}, {12, 0x7F}}),
                  {"status A=1 B=1 value=0 code=984959"},
                  {}},
        ReplyCase{"Status15CarriesValue",
                  Sysex(15, {{7, 0x20}, {13, 0x85}}),
                  {"status A=0 B=0 value=5 code=0"},
                  {}},
        ReplyCase{
            "StatusNeedsExactByte7", Sysex(14, {{7, 0x21}}), {}, {UnknownTrace(Sysex(14, {{7, 0x21}}))}},
        // Byte 7 is compared whole: a set top bit is not masked away.
        ReplyCase{
            "StatusByte7A0IsNotStatus", Sysex(14, {{7, 0xA0}}), {}, {UnknownTrace(Sysex(14, {{7, 0xA0}}))}},
        ReplyCase{"Status16BytesUnknown", Sysex(16, {{7, 0x20}}), {}, {UnknownTrace(Sysex(16, {{7, 0x20}}))}},
        ReplyCase{"ValueKind10", kValue19, {"value 272679429 5 6 kind10"}, {}},
        ReplyCase{"ValueAllBits",
                  Sysex(19, {{7, 0x0A}, {13, 0x0F}, {14, 0x7F}, {15, 0x7F}, {16, 0x7F}, {17, 0x7F}}),
                  {"value 4294967295 0 0 kind10"},
                  {}},
        ReplyCase{
            "ValueKind1WithFlag", Sysex(19, {{7, 0x81}, {8, 0x02}, {17, 0x09}}), {"value 9 0 0 kind1"}, {}},
        // Value bytes 14 to 17 are used as they stand: a top bit lands in the group above.
        ReplyCase{"ValueBytesWithTopBitOverlap",
                  Sysex(19, {{7, 0x0A}, {14, 0x80}, {15, 0x80}, {16, 0x80}, {17, 0x80}}),
                  {"value 270549120 0 0 kind10"},
                  {}},
        ReplyCase{"ValueBytesAllFF",
                  Sysex(19, {{7, 0x0A}, {14, 0xFF}, {15, 0xFF}, {16, 0xFF}, {17, 0xFF}}),
                  {"value 536870911 0 0 kind10"},
                  {}},
        ReplyCase{"ValueKind1WithoutFlag", kValueKind1Clear, {}, {UnknownTrace(kValueKind1Clear)}},
        ReplyCase{"BlockWithFlagClearedForReceiver", Sysex(526, {{8, 0x21}}), {"block 526 byte8=01"}, {}},
        // Only the low seven bits of byte 7 give the block kind: 0x81 is kind 1.
        ReplyCase{"BlockKind81IsKind1", Sysex(526, {{7, 0x81}, {8, 0x20}}), {"block 526 byte8=00"}, {}},
        ReplyCase{"BlockWithoutFlagIsSilent", Sysex(526, {{7, 0x01}}), {}, {}},
        ReplyCase{
            "BlockWithBit2Unknown", Sysex(526, {{8, 0x22}}), {}, {UnknownTrace(Sysex(526, {{8, 0x22}}))}},
        ReplyCase{"BlockKind2Unknown", kBlockBad, {}, {UnknownTrace(kBlockBad)}},
        ReplyCase{"ShortUnknown", Hex("F0 7E F7"), {}, {"TKL: Ignoring unknown Sysex msg >f0 7e f7 <[3]\n"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ReceiveTest, BlockReplyTakesTheNameUpToSixteenCharacters) {
    Bytes block = Sysex(526, {{8, 0x20}});
    const std::string longName = "QuadriluxPro-1234567";  // 20 characters: cut to 16
    std::copy(longName.begin(), longName.end(), block.begin() + 15);
    device.Deliver(block);
    EXPECT_STREQ(device.deviceName, "QuadriluxPro-123");

    Bytes shortName = Sysex(526);
    const std::string name = "Quad";
    std::copy(name.begin(), name.end(), shortName.begin() + 15);
    shortName[20] = 'X';  // behind the terminating zero: not taken
    device.Deliver(shortName);
    EXPECT_STREQ(device.deviceName, "Quad");
    EXPECT_EQ(device.deviceName[5], '\0');
    EXPECT_EQ(device.events, Lines{"block 526 byte8=00"});
}

TEST_F(ReceiveTest, MessageSplitOverThreeDeliveriesIsDispatchedOnce) {
    device.Deliver(Hex("F0 00 20 29"));
    device.Deliver(Hex("03 01 7F 20 00 09"));
    EXPECT_TRUE(device.events.empty());
    device.Deliver(Hex("05 01 00 F7"));
    EXPECT_EQ(device.events, Lines{"status A=1 B=0 value=0 code=16843013"});
}

TEST_F(ReceiveTest, BytesAfterTheEndStartTheNextMessage) {
    Bytes delivery = kStatus;
    for (std::uint8_t b : Hex("90 3C 7F")) {
        delivery.push_back(b);
    }
    device.Deliver(delivery);
    EXPECT_EQ(device.events, Lines{"status A=1 B=0 value=0 code=16843013"});
    EXPECT_EQ(device.sysexLength, 3);
    device.Deliver(Hex("F7"));
    EXPECT_EQ(sim::DebugLines(), Lines{"TKL: Ignoring unknown Sysex msg >90 3c 7f f7 <[4]\n"});
}

TEST_F(ReceiveTest, SeveralMessagesInOneDelivery) {
    Bytes delivery = kStatus;
    delivery.insert(delivery.end(), kValue19.begin(), kValue19.end());
    device.Deliver(delivery);
    EXPECT_EQ(device.events, (Lines{"status A=1 B=0 value=0 code=16843013", "value 272679429 5 6 kind10"}));
}

TEST_F(ReceiveTest, BufferDoublesFor2000Bytes) {
    device.Deliver(Sysex(2000));
    EXPECT_EQ(device.sysexCapacity, 2048);
    const Lines lines = sim::DebugLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("<[2000]\n"), std::string::npos);
}

TEST_F(ReceiveTest, BufferDoublesAsOftenAsOneDeliveryNeeds) {
    device.Deliver(Sysex(5000));
    EXPECT_EQ(device.sysexCapacity, 8192);
    EXPECT_TRUE(device.events.empty());
    ASSERT_EQ(sim::DebugLines().size(), 1u);
    // The buffer is kept for later messages.
    device.Deliver(kStatus);
    EXPECT_EQ(device.sysexCapacity, 8192);
    EXPECT_EQ(device.events.size(), 1u);
}

TEST_F(ReceiveTest, LargestMessageIsAssembledAndItsDumpShortened) {
    device.Deliver(Sysex(262143));
    EXPECT_EQ(device.sysexCapacity, BaseDevice::kMaxSysexCapacity);
    EXPECT_TRUE(device.events.empty());
    const Lines lines = sim::DebugLines();
    ASSERT_EQ(lines.size(), 1u);
    // The whole line, length included, fits the trace buffer.
    EXPECT_LE(lines[0].size(), 8191u);
    EXPECT_TRUE(lines[0].ends_with("... <[262143]\n"));
    EXPECT_EQ(lines[0].rfind("TKL: Ignoring unknown Sysex msg >f0 00 20 29 03 01 7f 00 ", 0), 0u);
}

TEST_F(ReceiveTest, DumpOfUpTo2730BytesIsWhole) {
    device.Deliver(Sysex(2730));
    const Lines lines = sim::DebugLines();
    ASSERT_EQ(lines.size(), 1u);
    // 2730 pairs fill the dump; the trace line itself is cut at its own limit.
    EXPECT_EQ(lines[0].size(), 5u + 8186u);
    EXPECT_EQ(lines[0].find("..."), std::string::npos);

    sim::ClearDebugLines();
    device.Deliver(Sysex(2731));
    const Lines shortened = sim::DebugLines();
    ASSERT_EQ(shortened.size(), 1u);
    EXPECT_TRUE(shortened[0].ends_with("... <[2731]\n"));
    EXPECT_LE(shortened[0].size(), 8191u);
}

TEST_F(ReceiveTest, MessageBeyondTheLimitIsAbandonedAndSkippedToItsEnd) {
    // Exactly 262144 bytes in one delivery: one byte too many.
    device.Deliver(Sysex(262144));
    EXPECT_EQ(device.events, Lines{"error Maximum size for sysex buffer exceeded"});
    EXPECT_TRUE(device.skipToSysexEnd);
    EXPECT_EQ(device.sysexLength, 0);
    EXPECT_EQ(device.sysexCapacity, BaseDevice::kMaxSysexCapacity);

    // The closing F7 was in the dropped part, so the next message is the one discarded.
    device.Deliver(Hex("00 01 02"));
    device.Deliver(kStatus);
    EXPECT_FALSE(device.skipToSysexEnd);
    EXPECT_EQ(device.events.size(), 1u);
    device.Deliver(kStatus);
    EXPECT_EQ(device.events.back(), "status A=1 B=0 value=0 code=16843013");
    EXPECT_EQ(device.sysexCapacity, BaseDevice::kMaxSysexCapacity);
}

TEST_F(ReceiveTest, MessageGrowingOverManyDeliveriesHitsTheLimit) {
    device.Deliver(Hex("F0 01"));
    int deliveries = 0;
    while (device.events.empty() && deliveries < 1000) {
        device.Deliver(Bytes(1000, 0x11));
        ++deliveries;
    }
    EXPECT_EQ(device.events, Lines{"error Maximum size for sysex buffer exceeded"});
    EXPECT_EQ(deliveries, 263);  // 2 + 262000 bytes fit, the next 1000 do not
    // Skipping ends with the F7 and the bytes behind it in the same delivery are taken again.
    Bytes tail = {0x11, 0xF7};
    tail.insert(tail.end(), kStatus.begin(), kStatus.end());
    device.Deliver(tail);
    EXPECT_EQ(device.events.back(), "status A=1 B=0 value=0 code=16843013");
}

}  // namespace
