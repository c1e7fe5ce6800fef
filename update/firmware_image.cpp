#include "update/firmware_image.h"

#include <algorithm>
#include <cstring>

#include "platform/win32.h"
#include "res/resource.h"

namespace {
constexpr std::size_t kHeaderBufferSize = 16;  // the longest header an image may hold
constexpr std::size_t kHeaderLength = 15;      // framing, two opaque bytes and the six digits
constexpr std::size_t kTypeOffset = 5;
constexpr std::size_t kVersionOffset = 8;
constexpr std::uint8_t kTypeHeader = 0x71;
constexpr std::uint8_t kEndOfSysEx = 0xF7;
constexpr std::uint32_t kBlockLength = 44;
}  // namespace

FirmwareImage::FirmwareImage() : size(0), position(0), blockCount(0), loaded(false) {}

bool FirmwareImage::Load() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_FIRMWARE), RT_RCDATA);
    if (resource == nullptr) {
        return false;
    }
    HGLOBAL handle = LoadResource(nullptr, resource);
    if (handle == nullptr) {
        return false;
    }
    const DWORD resourceSize = SizeofResource(nullptr, resource);
    if (resourceSize == 0) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(handle));
    if (bytes == nullptr) {
        return false;
    }
    data.assign(bytes, bytes + resourceSize);
    size = static_cast<std::uint32_t>(resourceSize);
    // An image shorter than a header holds no blocks; the subtraction must not wrap.
    blockCount =
        size >= kHeaderLength ? (size - static_cast<std::uint32_t>(kHeaderLength)) / kBlockLength : 0;
    loaded = true;
    return true;
}

std::size_t FirmwareImage::MessageLengthAt(std::size_t limit) const {
    if (position >= size) {
        return 0;
    }
    const std::size_t room = std::min<std::size_t>(limit, size - position);
    const std::uint8_t* first = data.data() + position;
    const auto* found = static_cast<const std::uint8_t*>(std::memchr(first, kEndOfSysEx, room));
    if (found == nullptr) {
        return 0;
    }
    return static_cast<std::size_t>(found - first) + 1;
}

bool FirmwareImage::CopyMessage(std::span<std::uint8_t> buffer, std::size_t limit) {
    const std::size_t length = MessageLengthAt(std::min(limit, buffer.size()));
    if (length == 0) {
        return false;
    }
    std::memcpy(buffer.data(), data.data() + position, length);
    position += static_cast<std::uint32_t>(length);
    return true;
}

bool FirmwareImage::ReadHeader(std::span<std::uint8_t> buffer) {
    if (position >= size || size - position <= kTypeOffset) {
        return false;
    }
    if (data[position + kTypeOffset] != kTypeHeader) {
        return false;
    }
    return CopyMessage(buffer, kHeaderBufferSize);
}

bool FirmwareImage::ReadNextMessage(std::span<std::uint8_t> buffer) {
    return CopyMessage(buffer, kMessageBufferSize);
}

bool FirmwareImage::ReadVersion(std::array<std::uint8_t, 6>& version) {
    if (!loaded) {
        return false;
    }
    const std::uint32_t saved = position;
    position = 0;
    std::array<std::uint8_t, kHeaderBufferSize> header{};
    const bool read = ReadHeader(header);
    const std::uint32_t headerLength = position;
    position = saved;
    // A header too short to hold all six digits before its 0xF7 has no version.
    if (!read || headerLength < kHeaderLength) {
        return false;
    }
    std::copy_n(header.begin() + kVersionOffset, version.size(), version.begin());
    return true;
}

bool FirmwareImage::FormatVersion(const std::array<std::uint8_t, 6>& version, std::string& text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string shown;
    for (std::size_t i = 0; i < version.size(); ++i) {
        const std::uint8_t digit = version[i];
        if (digit > 15) {
            return false;
        }
        if (shown.empty() && digit == 0 && i + 1 < version.size()) {
            continue;
        }
        shown.push_back(kDigits[digit]);
    }
    text += shown;
    return true;
}
