// The virtual Quadrilux Pro: one model of the controller, hosted by the simulated WinMM of the host
// stand-in and by our Wine MIDI driver alike.
//
// The model makes no OS calls and keeps no clock: every call takes the host's current time, and the
// model answers what ports exist at a given time, whether an open succeeds, and how long a message
// takes on the link. The host delivers a message's bytes when the link has carried it
// (MessageDone), or tells the model that it was taken back before that (MessageAborted). The model
// is not thread-safe; its host serialises the calls.
//
// Normal mode: the header message (byte 5 = 0x71) makes the device drop off the bus when it has
// arrived, and after the boot time it comes back as a port of the same name in update mode.
// Update mode: it takes the header again and then the whole image, checks order, framing and the
// image's own CRC, and reports either "image received intact" or the first bad message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/model/scenario.h"

namespace model {

inline constexpr const char* kIntact = "image received intact";

class VirtualQuadrilux {
public:
    enum class Mode { Normal, Rebooting, Update, Gone };
    enum class PortRole { Main, Second };

    struct Port {
        PortRole role;
        std::string name;
        // Changes every time the device comes back on the bus, so a host can tell a port that
        // returned from one that stayed.
        unsigned incarnation;
    };

    enum class OpenResult { Ok, Busy, Gone };

    struct Transfer {
        bool accepted = true;
        // How long until the link has carried the message; nullopt: never.
        std::optional<std::uint64_t> durationNs = 0;
    };

    struct Report {
        Mode mode = Mode::Normal;
        int opens = 0;                   // successful opens, every port and mode
        int busyRefusals = 0;            // opens refused as busy
        int headersReceived = 0;         // complete header messages, either mode
        int switches = 0;                // times the header sent it into update mode
        std::size_t streamMessages = 0;  // messages taken in update mode since the last header there
        std::size_t streamBytes = 0;
        std::uint32_t streamCrc = 0;  // CRC-32 of every byte of those messages, in order
        int abortedMessages = 0;      // messages taken back by a reset before they arrived
        int secondPortMessages = 0;
        bool complete = false;  // the final message arrived
        // "image received intact", or what went wrong first ("message 9: ..."), or, while the
        // image is still coming, how far it has got.
        std::string verdict;
        std::optional<std::size_t> firstBadIndex;
    };

    explicit VirtualQuadrilux(Scenario scenario);

    const Scenario& Config() const { return scenario_; }

    // Ports on the bus at nowNs, in listing order. Calling it moves the model to nowNs.
    std::vector<Port> Ports(std::uint64_t nowNs);
    // The next instant after nowNs at which Ports() may change by itself, if any.
    std::optional<std::uint64_t> NextChange(std::uint64_t nowNs) const;

    OpenResult Open(PortRole port, unsigned incarnation, std::uint64_t nowNs);
    void Close(PortRole port, std::uint64_t nowNs);
    // A long message of `length` bytes starts on the link.
    Transfer BeginMessage(PortRole port, std::size_t length, std::uint64_t nowNs);
    // The link has carried the message that began last on this port.
    void MessageDone(PortRole port, std::span<const std::uint8_t> bytes, std::uint64_t nowNs);
    // A reset took the pending message back before it arrived.
    void MessageAborted(PortRole port, std::uint64_t nowNs);

    Report GetReport() const;
    Mode CurrentMode() const { return mode_; }

private:
    void Advance(std::uint64_t nowNs);
    void TakeNormal(std::span<const std::uint8_t> bytes, std::uint64_t nowNs);
    void TakeUpdate(std::span<const std::uint8_t> bytes);
    void Fault(std::size_t index, const std::string& what);
    bool Present(PortRole port) const;

    Scenario scenario_;
    Mode mode_ = Mode::Normal;
    unsigned incarnation_ = 1;
    std::uint64_t backAtNs_ = 0;
    int normalOpens_ = 0;
    int updateOpens_ = 0;
    std::size_t streamBegun_ = 0;  // messages begun on the main port in update mode

    Report report_;
    std::uint32_t payloadCrc_ = 0;  // CRC over the block payloads, as the final message carries it
};

const char* ModeName(VirtualQuadrilux::Mode mode);

}  // namespace model
