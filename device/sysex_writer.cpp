#include "device/sysex_writer.h"

#include <cstdio>

namespace {
constexpr std::uint8_t kStartOfSysEx = 0xF0;
constexpr std::uint8_t kEndOfSysEx = 0xF7;
constexpr std::uint8_t kFirstStatusByte = 0x80;
}  // namespace

bool SysExWriter::Write(std::uint8_t byte) {
    if (!inMessage) {
        if (byte != kStartOfSysEx) {
            return false;
        }
        bytes.clear();
        bytes.push_back(byte);
        inMessage = true;
    } else if (byte >= kFirstStatusByte && byte != kEndOfSysEx) {
        std::printf("writing invalid sysex: 0x%2.2x", static_cast<unsigned>(byte));
    } else {
        bytes.push_back(byte);
    }
    if (!bytes.empty() && bytes.back() == kEndOfSysEx) {
        inMessage = false;
    }
    return !inMessage;
}
