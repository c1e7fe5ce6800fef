// The receive path of BaseDevice: channel messages through the ring, SysEx messages through the
// growing buffer, and the three reply layouts.
#include <cstdio>
#include <cstring>
#include <new>

#include "device/base_device.h"
#include "diag/trace.h"

namespace {

constexpr std::uint8_t kSysexStart = 0xF0;
constexpr std::uint8_t kSysexEnd = 0xF7;
constexpr std::int32_t kBlockReplyLength = 526;
constexpr std::int32_t kValueReplyLength = 19;

// The hex dump of an unknown message is built in a fixed buffer of this many characters.
constexpr std::size_t kDumpBufferSize = 8192;
// Messages up to this length are dumped whole ("%02x " per byte, plus the terminator).
constexpr std::int32_t kWholeDumpLimit = static_cast<std::int32_t>((kDumpBufferSize - 1) / 3);
// A longer message is dumped up to this many bytes, followed by "... ", so that the trace line
// with its length still fits the trace buffer (8186 characters of text, 38 of them fixed).
constexpr std::int32_t kShortDumpBytes = 2714;

}  // namespace

std::int32_t SHLK_CALL InputCallback(const std::uint8_t* bytes, std::int32_t length, void* context) {
    static_cast<BaseDevice*>(context)->ReceiveMidi(bytes, length);
    return 0;
}

void BaseDevice::ReceiveMidi(const std::uint8_t* bytes, std::int32_t length) {
    if (bytes == nullptr || length <= 0) {
        return;
    }
    std::int32_t pos = 0;

    if (skipToSysexEnd) {
        while (pos < length) {
            if (bytes[pos++] == kSysexEnd) {
                skipToSysexEnd = false;
                break;
            }
        }
        if (skipToSysexEnd) {
            return;
        }
    }

    if (sysexLength == 0 && pos < length && bytes[pos] != kSysexStart) {
        bool moved = false;
        while (pos < length && bytes[pos] != kSysexStart) {
            inputRing[ringWrite] = bytes[pos++];
            ringWrite = (ringWrite + 1) % kRingSize;
            moved = true;
        }
        if (moved) {
            ParseChannelMessages();
        }
    }

    const std::int32_t remaining = length - pos;
    if (remaining == 0) {
        return;
    }
    // Make room for the whole rest of the delivery, doubling as often as needed up to the limit.
    while (sysexLength + remaining >= sysexCapacity) {
        if (!GrowSysexBuffer()) {
            return;
        }
    }

    while (pos < length) {
        const std::uint8_t byte = bytes[pos++];
        sysexBuffer[sysexLength++] = byte;
        if (byte == kSysexEnd) {
            const std::int32_t n = sysexLength;
            sysexLength = 0;
            DispatchSysex(n);
        }
    }
}

std::int32_t BaseDevice::RingPending() const {
    std::int32_t pending = ringWrite - ringRead;
    if (pending < 0) {
        pending += kRingSize;
    }
    return pending;
}

void BaseDevice::ParseChannelMessages() {
    std::int32_t pending = RingPending();
    const auto at = [this](std::int32_t offset) { return inputRing[(ringRead + offset) % kRingSize]; };
    const auto consume = [this, &pending] {
        ringRead = (ringRead + 1) % kRingSize;
        --pending;
    };
    while (pending > 0) {
        const std::uint8_t status = at(0);
        const std::uint8_t kind = status & 0xF0;
        if (kind == 0xB0) {
            if (pending < 3) {
                return;  // wait for the rest in a later delivery
            }
            consume();
            const std::uint8_t controller = at(0);
            if (controller >= 0x80) {
                DebugTrace("psa: got bad midi: %02x,%02x\n", 0xB0, controller);
                continue;
            }
            consume();
            const std::uint8_t value = at(0);
            if (value >= 0x80) {
                DebugTrace("psa: got bad midi: %02x,%02x%02x\n", 0xB0, controller, value);
                continue;
            }
            consume();
            switch (controller) {
                case 99:
                    if (value == 63) {
                        nrpnBankArmed = true;
                    }
                    break;
                case 98:
                    if (value == 1) {
                        nrpnProgramArmed = true;
                    }
                    break;
                case 6:
                    if (nrpnBankArmed) {
                        BankChanged(value);
                        nrpnBankArmed = false;
                    }
                    break;
                case 38:
                    if (nrpnProgramArmed) {
                        ProgramChanged(value);
                        nrpnProgramArmed = false;
                    }
                    break;
                case 32:
                    BankChanged(value);
                    break;
                default:
                    break;
            }
        } else if (kind == 0xC0) {
            if (pending < 2) {
                return;
            }
            consume();
            const std::uint8_t program = at(0);
            if (program >= 0x80) {
                DebugTrace("psa: got bad midi: %02x%02x\n", 0xC0, program);
                continue;
            }
            consume();
            ProgramChanged(program);
        } else {
            consume();  // anything else is dropped byte by byte (no running status)
        }
    }
}

bool BaseDevice::GrowSysexBuffer() {
    const char* failure = nullptr;
    if (sysexCapacity >= kMaxSysexCapacity) {
        failure = "Maximum size for sysex buffer exceeded";
    } else {
        const std::int32_t doubled = sysexCapacity * 2;
        const auto bytes = static_cast<std::size_t>(doubled);
        auto* grown = new (std::nothrow) std::uint8_t[bytes];
        if (grown == nullptr) {
            failure = "Unable to allocate memory for expanding sysex buffer";
        } else {
            std::memcpy(grown, sysexBuffer, static_cast<std::size_t>(sysexLength));
            delete[] sysexBuffer;
            sysexBuffer = grown;
            sysexCapacity = doubled;
            return true;
        }
    }
    skipToSysexEnd = true;
    sysexLength = 0;
    ErrorOccurred(failure);
    return false;
}

bool BaseDevice::DecodeValueReply(const std::uint8_t* message, ValueReply& reply) {
    const std::uint8_t kind = message[7] & 0x7F;
    if (kind != 10 && !(kind == 1 && (message[8] & 0x02) != 0)) {
        return false;
    }
    reply.value = (static_cast<std::uint32_t>(message[13]) << 28) |
                  (static_cast<std::uint32_t>(message[14]) << 21) |
                  (static_cast<std::uint32_t>(message[15]) << 14) |
                  (static_cast<std::uint32_t>(message[16]) << 7) | static_cast<std::uint32_t>(message[17]);
    reply.byte11 = message[11] & 0x7F;
    reply.byte12 = message[12] & 0x7F;
    reply.kindTen = kind == 10;
    return true;
}

bool BaseDevice::DecodeStatusReply(const std::uint8_t* message, std::int32_t n, StatusReply& reply) {
    if ((n != 14 && n != 15) || message[7] != 0x20) {
        return false;
    }
    reply.flagA = message[11] & 1;
    reply.flagB = message[12] & 1;
    reply.value = n == 15 ? (message[13] & 0x7F) : 0;
    std::int32_t code = ((message[9] & 0x78) << 13) | ((message[9] & 0x07) << 8) | (message[10] & 0x7F);
    if (code > 40 && message[8] == 0) {
        code |= 1 << 24;
    }
    reply.code = code;
    return true;
}

void BaseDevice::DispatchSysex(std::int32_t n) {
    std::uint8_t* message = sysexBuffer;
    if (n == kBlockReplyLength && (message[7] & 0x7F) <= 1 && (message[8] & 0x02) == 0) {
        std::int32_t i = 0;
        for (; i < kNameLength && message[15 + i] != 0; ++i) {
            deviceName[i] = static_cast<char>(message[15 + i]);
        }
        for (; i <= kNameLength; ++i) {
            deviceName[i] = '\0';
        }
        if ((message[8] & 0x20) != 0) {
            message[8] = static_cast<std::uint8_t>(message[8] & ~0x20);
            BlockReplyReceived(message, kBlockReplyLength);
        }
        return;
    }
    ValueReply value{};
    if (n == kValueReplyLength && DecodeValueReply(message, value)) {
        ValueReplyReceived(value.value, value.byte11, value.byte12, value.kindTen);
        return;
    }
    StatusReply status{};
    if (DecodeStatusReply(message, n, status)) {
        statusFlagA = status.flagA;
        statusFlagB = status.flagB;
        statusValue = status.value;
        statusCode = status.code;
        StatusReceived();
        return;
    }
    TraceUnknownSysex(n);
}

void BaseDevice::TraceUnknownSysex(std::int32_t n) const {
    char dump[kDumpBufferSize];
    const std::int32_t shown = n <= kWholeDumpLimit ? n : kShortDumpBytes;
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t at = 0;
    for (std::int32_t i = 0; i < shown; ++i) {
        dump[at++] = kHex[sysexBuffer[i] >> 4];
        dump[at++] = kHex[sysexBuffer[i] & 0x0F];
        dump[at++] = ' ';
    }
    if (shown < n) {
        std::memcpy(dump + at, "... ", 4);
        at += 4;
    }
    dump[at] = '\0';
    DebugTrace("Ignoring unknown Sysex msg >%s<[%d]\n", dump, n);
}
