// The firmware image: loading resource 129, block count, header, version and the walk over the
// messages, and the refusal of images that break the framing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"
#include "tools/firmware_format.h"
#include "update/firmware_image.h"

namespace {

using Buffer = std::array<std::uint8_t, FirmwareImage::kMessageBufferSize>;
using Bytes = std::vector<std::uint8_t>;
using Version = std::array<std::uint8_t, 6>;

class FirmwareImageTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

// A message of our framing: F0 00 20 29 00, the type, the payload, F7.
Bytes Message(std::uint8_t type, std::size_t payload, std::uint8_t fill = 0x11) {
    Bytes message = {0xF0, 0x00, 0x20, 0x29, 0x00, type};
    message.insert(message.end(), payload, fill);
    message.push_back(0xF7);
    return message;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes kHeader(firmware::kHeader.begin(), firmware::kHeader.end());

TEST_F(FirmwareImageTest, ShippedImageLoadsWithItsBlockCount) {
    FirmwareImage image;
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(image.Size(), 0u);
    ASSERT_TRUE(image.Load());
    EXPECT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.Size(), 121'303u);
    // Counts the 44-byte messages only; the final 24-byte one adds a remainder.
    EXPECT_EQ(image.BlockCount(), 2'756u);
}

TEST_F(FirmwareImageTest, WalksTheShippedImageMessageByMessage) {
    const Bytes shipped = firmware::Generate();
    FirmwareImage image;
    ASSERT_TRUE(image.Load());
    Buffer buffer{};
    ASSERT_TRUE(image.ReadHeader(buffer));
    EXPECT_TRUE(std::equal(kHeader.begin(), kHeader.end(), buffer.begin()));

    std::size_t offset = kHeader.size();
    int reads = 0;
    buffer.fill(0);
    while (image.ReadNextMessage(buffer)) {
        ++reads;
        const std::size_t length = reads <= 2756 ? firmware::kBlockLength : firmware::kFinalLength;
        ASSERT_LE(offset + length, shipped.size());
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length),
                               shipped.begin() + static_cast<std::ptrdiff_t>(offset)))
            << "message " << reads;
        offset += length;
    }
    EXPECT_EQ(reads, 2'757);
    EXPECT_EQ(offset, shipped.size());
    // At the end it stays at the end.
    EXPECT_FALSE(image.ReadNextMessage(buffer));
    EXPECT_FALSE(image.ReadHeader(buffer));
}

TEST_F(FirmwareImageTest, ReadVersionKeepsThePosition) {
    FirmwareImage image;
    Version version{};
    EXPECT_FALSE(image.ReadVersion(version));  // not loaded yet
    ASSERT_TRUE(image.Load());

    ASSERT_TRUE(image.ReadVersion(version));
    EXPECT_EQ(version, (Version{0, 0, 0, 1, 8, 2}));

    // Still at 0: the header is next.
    Buffer buffer{};
    ASSERT_TRUE(image.ReadHeader(buffer));
    ASSERT_TRUE(image.ReadNextMessage(buffer));
    ASSERT_TRUE(image.ReadNextMessage(buffer));
    const Buffer third = buffer;

    // Mid-walk the version still comes from the first message and the walk goes on where it was.
    version.fill(0xEE);
    ASSERT_TRUE(image.ReadVersion(version));
    EXPECT_EQ(version, (Version{0, 0, 0, 1, 8, 2}));
    ASSERT_TRUE(image.ReadNextMessage(buffer));
    const Bytes shipped = firmware::Generate();
    const auto fourth =
        shipped.begin() + static_cast<std::ptrdiff_t>(kHeader.size() + 2 * firmware::kBlockLength);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), fourth));
    EXPECT_NE(buffer, third);
}

TEST_F(FirmwareImageTest, ReadHeaderRefusesAMessageOfAnotherType) {
    FirmwareImage image;
    ASSERT_TRUE(image.Load());
    Buffer buffer{};
    ASSERT_TRUE(image.ReadHeader(buffer));
    buffer.fill(0xAA);
    EXPECT_FALSE(image.ReadHeader(buffer));  // a block of type 0x72 is next
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xAA; }));
    // Nothing was consumed: the block is still next.
    ASSERT_TRUE(image.ReadNextMessage(buffer));
    EXPECT_EQ(buffer[5], firmware::kTypeBlock);
}

TEST_F(FirmwareImageTest, ReadVersionFailsWithoutAHeaderFirst) {
    sim::ResourceOverride resource(RT_RCDATA, IDR_FIRMWARE, Concat({Message(0x72, 37), kHeader}));
    FirmwareImage image;
    ASSERT_TRUE(image.Load());
    Version version{};
    EXPECT_FALSE(image.ReadVersion(version));
}

TEST_F(FirmwareImageTest, LoadFailsWithoutTheResource) {
    sim::ResourceOverride resource(RT_RCDATA, IDR_FIRMWARE);
    FirmwareImage image;
    EXPECT_FALSE(image.Load());
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(image.Size(), 0u);
    EXPECT_EQ(image.BlockCount(), 0u);
    Buffer buffer{};
    EXPECT_FALSE(image.ReadNextMessage(buffer));
}

TEST_F(FirmwareImageTest, FormatVersionDropsLeadingZeros) {
    const struct {
        Version digits;
        const char* shown;
    } cases[] = {
        {{0, 0, 0, 1, 8, 2}, "182"}, {{0, 0, 0, 0, 0, 0}, "0"},       {{0, 0, 0, 1, 0, 2}, "102"},
        {{0, 0, 0, 0, 10, 1}, "A1"}, {{15, 0, 0, 0, 0, 0}, "F00000"}, {{0, 0, 0, 0, 0, 11}, "B"},
    };
    for (const auto& c : cases) {
        std::string text = "v";
        EXPECT_TRUE(FirmwareImage::FormatVersion(c.digits, text));
        EXPECT_EQ(text, std::string("v") + c.shown);
    }
}

TEST_F(FirmwareImageTest, FormatVersionFailsOnADigitAbove15) {
    for (std::size_t place = 0; place < 6; ++place) {
        Version digits{0, 0, 0, 1, 8, 2};
        digits[place] = 16;
        std::string text = "v";
        EXPECT_FALSE(FirmwareImage::FormatVersion(digits, text)) << "place " << place;
        EXPECT_EQ(text, "v");
    }
    std::string text;
    EXPECT_FALSE(FirmwareImage::FormatVersion({0, 0, 0, 1, 8, 0xFF}, text));
}

// Images that break the framing. Load takes any non-empty resource; the damaged message is refused
// when it is read, with nothing copied past the buffer and the position unchanged.
TEST_F(FirmwareImageTest, DamagedImagesAreRefusedAsFailedReads) {
    Bytes noEnd = kHeader;
    noEnd.back() = 0x00;
    Bytes longHeader = Message(0x71, 10);  // 17 bytes
    Bytes cutLast = Concat({kHeader, Message(0x72, 37), Message(0x76, 17)});
    cutLast.pop_back();
    Bytes noEndInBlock = Concat({kHeader, Message(0x72, 37)});
    noEndInBlock.back() = 0x10;

    const struct {
        const char* name;
        Bytes bytes;
        bool headerReads;
        int messagesRead;  // good messages before the refused one
    } cases[] = {
        {"header without F7", noEnd, false, 0},
        {"17-byte header", longHeader, false, 0},
        {"45-byte message", Concat({kHeader, Message(0x72, 38)}), true, 0},
        {"44-byte message then 45", Concat({kHeader, Message(0x72, 37), Message(0x72, 38)}), true, 1},
        {"last message cut short", cutLast, true, 1},
        {"block without F7", noEndInBlock, true, 0},
        {"one byte", Bytes{0xF0}, false, 0},
        {"header cut before its type", Bytes{0xF0, 0x00, 0x20, 0x29, 0x00}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ResourceOverride resource(RT_RCDATA, IDR_FIRMWARE, c.bytes);
        FirmwareImage image;
        ASSERT_TRUE(image.Load());
        EXPECT_EQ(image.Size(), c.bytes.size());
        if (c.bytes.size() < 15) {
            EXPECT_EQ(image.BlockCount(), 0u);  // no wrap below the header size
        }
        Buffer buffer{};
        EXPECT_EQ(image.ReadHeader(buffer), c.headerReads);
        if (!c.headerReads) {
            Version version{};
            EXPECT_FALSE(image.ReadVersion(version));
            continue;
        }
        for (int i = 0; i < c.messagesRead; ++i) {
            EXPECT_TRUE(image.ReadNextMessage(buffer));
        }
        buffer.fill(0xAA);
        EXPECT_FALSE(image.ReadNextMessage(buffer));
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xAA; }));
        // The refusal is final and does not move on.
        EXPECT_FALSE(image.ReadNextMessage(buffer));
    }
}

TEST_F(FirmwareImageTest, EmptyResourceDoesNotLoad) {
    sim::ResourceOverride resource(RT_RCDATA, IDR_FIRMWARE, Bytes{});
    FirmwareImage image;
    EXPECT_FALSE(image.Load());
    EXPECT_FALSE(image.IsLoaded());
    Version version{};
    EXPECT_FALSE(image.ReadVersion(version));
}

TEST_F(FirmwareImageTest, MessageLongerThanTheCallersBufferIsRefused) {
    sim::ResourceOverride resource(RT_RCDATA, IDR_FIRMWARE, Concat({kHeader, Message(0x72, 37)}));
    FirmwareImage image;
    ASSERT_TRUE(image.Load());
    std::array<std::uint8_t, 20> small{};
    ASSERT_TRUE(image.ReadHeader(small));
    EXPECT_FALSE(image.ReadNextMessage(small));
    Buffer buffer{};
    EXPECT_TRUE(image.ReadNextMessage(buffer));  // the same message fits a full buffer
}

TEST_F(FirmwareImageTest, ShortHeaderHasNoVersion) {
    // Framed correctly but too short to hold all six digits before its F7.
    sim::ResourceOverride resource(RT_RCDATA, IDR_FIRMWARE, Message(0x71, 4));
    FirmwareImage image;
    ASSERT_TRUE(image.Load());
    Version version{};
    EXPECT_FALSE(image.ReadVersion(version));
    Buffer buffer{};
    EXPECT_TRUE(image.ReadHeader(buffer));  // still a header to send
}

TEST_F(FirmwareImageTest, SixteenByteHeaderIsAccepted) {
    Bytes header = Message(0x71, 9);  // 16 bytes, digits at 8 to 13
    for (std::size_t i = 0; i < 6; ++i) {
        header[8 + i] = static_cast<std::uint8_t>(i);
    }
    sim::ResourceOverride resource(RT_RCDATA, IDR_FIRMWARE, Concat({header, Message(0x76, 17)}));
    FirmwareImage image;
    ASSERT_TRUE(image.Load());
    Version version{};
    ASSERT_TRUE(image.ReadVersion(version));
    EXPECT_EQ(version, (Version{0, 1, 2, 3, 4, 5}));
    Buffer buffer{};
    EXPECT_TRUE(image.ReadHeader(buffer));
    EXPECT_TRUE(image.ReadNextMessage(buffer));
    EXPECT_FALSE(image.ReadNextMessage(buffer));
}

}  // namespace
