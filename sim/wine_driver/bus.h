// What the Wine MIDI driver hosts: a fixed set of MIDI output slots behind which simulated devices
// live. The driver owns time and transport; the bus only answers for the devices. Every call is
// made with the driver's lock held, and never calls back into the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace wineqlx {

struct DriverConfig;

class Bus {
public:
    virtual ~Bus() = default;
    // How many output slots winmm counts. Fixed for the life of the process: winmm asks once.
    virtual int SlotCount() const = 0;
    // The name a slot shows right now, or nullopt while nothing is on the bus there.
    virtual std::optional<std::string> SlotName(int slot, std::uint64_t nowNs) = 0;
    // 0 to accept the open, or the MMSYSERR_ code to refuse it with.
    virtual unsigned Open(int slot, std::uint64_t nowNs) = 0;
    virtual void Close(int slot, std::uint64_t nowNs) = 0;
    struct LongPlan {
        unsigned result = 0;                          // non-zero: the long message is refused
        std::optional<std::uint64_t> transferNs = 0;  // nullopt: it never finishes
    };
    virtual LongPlan BeginLong(int slot, std::size_t length, std::uint64_t nowNs) = 0;
    // The bytes of a long message, read at the moment the transfer ends.
    virtual void LongDone(int slot, std::span<const std::uint8_t> bytes, std::uint64_t nowNs) = 0;
    virtual void ShortMessage(int slot, std::uint32_t message, std::uint64_t nowNs) = 0;
    // A reset handed `aborted` pending long messages back before the link had carried them.
    virtual void Reset(int slot, std::size_t aborted, std::uint64_t nowNs) = 0;
    // The verdict file's text: what the devices received and what they make of it.
    virtual std::string Report(std::uint64_t nowNs) = 0;
};

std::unique_ptr<Bus> MakeBus(const DriverConfig& config);

}  // namespace wineqlx
