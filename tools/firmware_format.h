// The layout of our firmware image, shared by the generator and the virtual Quadrilux Pro.
//
// The image is a chain of SysEx messages: a 15-byte header (type 0x71), 2,755 blocks of type 0x72,
// one of type 0x73 (44 bytes each, 37 payload bytes), and a final 24-byte message of type 0x76
// (17 payload bytes). Block payloads come from a fixed-seed generator. The last five payload bytes
// of the final message carry a CRC-32 over all block payloads, seven bits per byte, most
// significant group first, so a receiver can prove it got every block intact.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace firmware {

inline constexpr std::array<std::uint8_t, 15> kHeader = {0xF0, 0x00, 0x20, 0x29, 0x00, 0x71, 0x00, 0x51,
                                                         0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0xF7};
inline constexpr std::array<std::uint8_t, 5> kPrefix = {0xF0, 0x00, 0x20, 0x29, 0x00};
inline constexpr std::uint8_t kTypeHeader = 0x71;
inline constexpr std::uint8_t kTypeBlock = 0x72;
inline constexpr std::uint8_t kTypeLastBlock = 0x73;
inline constexpr std::uint8_t kTypeFinal = 0x76;
inline constexpr std::size_t kBlockPayload = 37;
inline constexpr std::size_t kBlockLength = 44;
inline constexpr std::size_t kFinalPayload = 17;
inline constexpr std::size_t kFinalLength = 24;
inline constexpr std::size_t kBlocks = 2756;  // 2,755 of type 0x72 and one of type 0x73
inline constexpr std::size_t kMessages = kBlocks + 2;
inline constexpr std::size_t kImageSize = kHeader.size() + kBlocks * kBlockLength + kFinalLength;
inline constexpr std::size_t kCrcBytes = 5;
inline constexpr std::uint64_t kSeed = 0x51AD'C0DE'2026'0182ULL;

// CRC-32 (IEEE 802.3, reflected, as zlib computes it), continued from `crc`.
inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// The CRC as five 7-bit bytes, most significant group first (the top group holds 4 bits).
inline std::array<std::uint8_t, kCrcBytes> EncodeCrc(std::uint32_t crc) {
    std::array<std::uint8_t, kCrcBytes> out{};
    for (std::size_t i = 0; i < kCrcBytes; ++i) {
        out[i] = static_cast<std::uint8_t>((crc >> (7 * (kCrcBytes - 1 - i))) & 0x7F);
    }
    return out;
}

inline std::uint32_t DecodeCrc(std::span<const std::uint8_t, kCrcBytes> bytes) {
    std::uint32_t crc = 0;
    for (std::uint8_t b : bytes) {
        crc = (crc << 7) | (b & 0x7Fu);
    }
    return crc;
}

// The shipped image, byte for byte.
std::vector<std::uint8_t> Generate();

}  // namespace firmware
