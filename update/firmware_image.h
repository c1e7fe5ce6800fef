// The firmware image carried as data resource 129: loaded once, read one SysEx message at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class FirmwareImage {
public:
    // Room every caller gives ReadHeader and ReadNextMessage: the longest message an image may hold.
    static constexpr std::size_t kMessageBufferSize = 44;

    FirmwareImage();

    // Copies resource 129 (RT_RCDATA) into the image's own memory. False when the resource is
    // missing, empty or cannot be loaded; the image then stays empty and not loaded.
    bool Load();

    // Copies the header message (type 0x71) at the reading position into buffer and moves past it.
    // False, with nothing copied and the position unchanged, at the end of the image, at a message
    // of another type, or when the message breaks the framing (see ReadNextMessage).
    bool ReadHeader(std::span<std::uint8_t> buffer);

    // Copies the message at the reading position, whatever its type, into buffer and moves past it.
    // False, with nothing copied and the position unchanged, at the end of the image or when the
    // message there has no 0xF7 within the image, within the longest message allowed or within
    // buffer: such an image is damaged and is refused rather than read.
    bool ReadNextMessage(std::span<std::uint8_t> buffer);

    // The six version digits of the header, without moving the reading position.
    bool ReadVersion(std::array<std::uint8_t, 6>& version);

    std::uint32_t BlockCount() const { return blockCount; }
    std::uint32_t Size() const { return size; }
    bool IsLoaded() const { return loaded; }

    // Appends the display form of the version to text: leading zeros dropped, one upper-case
    // hexadecimal character per digit, at least one character. False, with text untouched, when a
    // digit is above 15.
    static bool FormatVersion(const std::array<std::uint8_t, 6>& version, std::string& text);

private:
    // Length of the message at position when it ends with 0xF7 within the image and within limit
    // bytes; 0 otherwise.
    std::size_t MessageLengthAt(std::size_t limit) const;
    bool CopyMessage(std::span<std::uint8_t> buffer, std::size_t limit);

    std::uint32_t size;
    std::vector<std::uint8_t> data;
    std::uint32_t position;
    std::uint32_t blockCount;
    bool loaded;
};
