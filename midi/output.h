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

// What a port knows of the last message it handed to the platform.
enum class Completion : std::int32_t {
    Finished,    // the platform has finished it
    Unfinished,  // the platform still owned it when the wait ran out, or the wait failed
    Unknown,     // this port cannot tell
};

// The virtual operations keep this order: ports made elsewhere rely on the slots. New operations
// go after the last one.
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
    // Waits at most `timeoutMs` for the platform to finish the last message handed over, so that a
    // holder can let go of the port without the reset of the release taking that message back.
    virtual Completion WaitForCompletion(std::uint32_t timeoutMs) = 0;
};

}  // namespace MIDI
