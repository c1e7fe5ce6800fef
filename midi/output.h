// The abstract MIDI output port through which the rest of the system sends MIDI.
#pragma once

#include <cstdint>
#include <span>

#include "midi/ref_counted.h"

namespace MIDI {

// A channel or system message of up to three bytes; only the low 8 bits of each field are sent.
struct ShortMessage {
    std::uint32_t status = 0;
    std::uint32_t data1 = 0;
    std::uint32_t data2 = 0;
};

// The virtual operations keep this order: ports made elsewhere rely on the slots.
class Output : public RefCounted {
public:
    virtual void ReservedA() = 0;
    // Hands one complete SysEx message to the platform; true when it was accepted. The bytes are
    // copied, so the caller may drop its own copy as soon as this returns.
    virtual bool SendSysEx(std::span<const std::uint8_t> message) = 0;
    virtual bool SendShort(const ShortMessage& message) = 0;
    // Hashes of the port's full name with and without its port number.
    virtual std::uint32_t NameHash() = 0;
    virtual std::uint32_t NameHashNoPort() = 0;
    // True while the platform still describes the open port.
    virtual bool IsPresent() = 0;
    virtual void ReservedB() = 0;
};

}  // namespace MIDI
