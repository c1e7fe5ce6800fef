// Assembles one SysEx message from bytes fed one at a time.
#pragma once

#include <cstdint>
#include <vector>

class SysExWriter {
public:
    // Feeds one byte. True exactly when the byte was the 0xF7 that completed a message. Bytes before
    // a 0xF0 are ignored; a status byte other than 0xF7 inside a message is reported on standard
    // output and dropped.
    bool Write(std::uint8_t byte);

    // The held bytes: the completed message, or what has been accepted so far. Valid until the next
    // Write.
    const std::vector<std::uint8_t>& Message() const { return bytes; }

private:
    std::vector<std::uint8_t> bytes;
    bool inMessage = false;
};
