// The WinMM output port, and the opening of any port of the port index space.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "midi/output.h"
#include "platform/win32.h"

// 32-bit FNV-1a over the bytes of a name.
std::uint32_t NameHashOf(std::string_view name);

class MidiOutput : public MIDI::Output {
public:
    static constexpr std::size_t kSendBufferSize = 4352;

    // Opens WinMM output port `index`; throws GeneralError when it cannot be opened.
    explicit MidiOutput(std::int32_t index);
    ~MidiOutput() override;
    MidiOutput(const MidiOutput&) = delete;
    MidiOutput& operator=(const MidiOutput&) = delete;
    MidiOutput(MidiOutput&&) = delete;
    MidiOutput& operator=(MidiOutput&&) = delete;

    void ReservedA() override {}
    // Waits up to 1000 ms for the previous message to be done, then hands this one to the platform
    // and returns without waiting for it. A message longer than the send buffer is refused.
    bool SendSysEx(std::span<const std::uint8_t> message) override;
    bool SendShort(const MIDI::ShortMessage& message) override;
    std::uint32_t NameHash() override { return nameHash; }
    std::uint32_t NameHashNoPort() override { return nameHashNoPort; }
    bool IsPresent() override;
    void ReservedB() override {}
    // Finished once the platform has signalled the last message done; the signal stays for the
    // next send. A port that left the system signals its message done without sending it (its
    // IsPresent tells). After a send that failed, Unfinished once the wait runs out.
    MIDI::Completion WaitForCompletion(std::uint32_t timeoutMs) override;

private:
    // Owned by the platform from a successful send until it signals doneEvent.
    std::array<std::uint8_t, kSendBufferSize> sendBuffer{};
    MIDIHDR header{};
    HMIDIOUT handle = nullptr;
    // Auto-reset; signalled whenever no long message of this port is owned by the platform.
    HANDLE doneEvent = nullptr;
    std::int32_t portIndex = 0;
    std::uint32_t nameHash = 0;
    std::uint32_t nameHashNoPort = 0;
};

// Port `index` of the port index space: a MidiOutput for a WinMM port, the device list's port
// beyond them, or null. Holds one reference for the caller. Lets GeneralError through.
MIDI::Output* OpenOutputPort(int index);
