// The committed res/firmware.syx is what the generator makes, and has the shape the updater and
// the virtual controller rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "tools/firmware_format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadCommittedImage() {
    std::ifstream file(std::string(QLX_SOURCE_DIR) + "/res/firmware.syx", std::ios::binary);
    EXPECT_TRUE(file.good()) << "res/firmware.syx not found under " << QLX_SOURCE_DIR;
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Splits the image at every 0xF7.
std::vector<std::span<const std::uint8_t>> Messages(const Bytes& image) {
    std::vector<std::span<const std::uint8_t>> messages;
    std::size_t start = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (image[i] == 0xF7) {
            messages.emplace_back(image.data() + start, i + 1 - start);
            start = i + 1;
        }
    }
    EXPECT_EQ(start, image.size()) << "bytes after the last message";
    return messages;
}

TEST(FirmwareFileTest, CommittedImageIsTheGeneratedOne) {
    const Bytes committed = ReadCommittedImage();
    const Bytes generated = firmware::Generate();
    ASSERT_EQ(committed.size(), generated.size());
    const auto mismatch = std::mismatch(committed.begin(), committed.end(), generated.begin());
    EXPECT_TRUE(mismatch.first == committed.end())
        << "first difference at byte " << (mismatch.first - committed.begin());
}

TEST(FirmwareFileTest, ImageHasTheShippedShape) {
    const Bytes image = ReadCommittedImage();
    ASSERT_EQ(image.size(), 121'303u);
    const auto messages = Messages(image);
    ASSERT_EQ(messages.size(), 2'758u);

    const Bytes header = {0xF0, 0x00, 0x20, 0x29, 0x00, 0x71, 0x00, 0x51,
                          0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0xF7};
    EXPECT_TRUE(std::equal(messages[0].begin(), messages[0].end(), header.begin(), header.end()));
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        SCOPED_TRACE(i);
        const auto message = messages[i];
        std::uint8_t type = 0x71;
        std::size_t length = 15;
        if (i >= 1 && i <= 2'755) {
            type = 0x72;
            length = 44;
        } else if (i == 2'756) {
            type = 0x73;
            length = 44;
        } else if (i == 2'757) {
            type = 0x76;
            length = 24;
        }
        ASSERT_EQ(message.size(), length);
        ASSERT_TRUE(std::equal(firmware::kPrefix.begin(), firmware::kPrefix.end(), message.begin()));
        ASSERT_EQ(message[5], type);
        const auto payload = message.subspan(6, length - 7);
        ASSERT_TRUE(std::all_of(payload.begin(), payload.end(), [](std::uint8_t b) { return b < 0x80; }));
        if (type == 0x72 || type == 0x73) {
            crc = firmware::Crc32(payload, crc);
        }
    }
    // The final message carries the CRC-32 of every block payload in its last five payload bytes.
    const auto last = messages.back();
    const auto encoded = last.subspan(last.size() - 1 - firmware::kCrcBytes).first<firmware::kCrcBytes>();
    EXPECT_EQ(firmware::DecodeCrc(encoded), crc);
}

TEST(FirmwareFileTest, CrcMatchesTheKnownCheckValue) {
    const std::string check = "123456789";
    const Bytes bytes(check.begin(), check.end());
    EXPECT_EQ(firmware::Crc32(bytes), 0xCBF43926u);
    // Continuing over two halves gives the same as one pass.
    EXPECT_EQ(firmware::Crc32(std::span(bytes).subspan(4), firmware::Crc32(std::span(bytes).first(4))),
              0xCBF43926u);
}

}  // namespace
