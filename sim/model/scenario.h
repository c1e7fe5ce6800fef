// How a virtual Quadrilux Pro behaves: its port names, its boot time, its link and the faults it
// shows on demand. One text form ("busy=3,stall=10,boot=2500ms,rate=3125") configures it the same
// way from a test, the terminal program's environment and the Wine driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace model {

inline constexpr std::uint64_t kNanosPerMilli = 1'000'000;
inline constexpr std::uint64_t kNanosPerSecond = 1'000'000'000;

struct Scenario {
    // The name its output port shows, in normal mode and again in update mode.
    std::string portName = "Quadrilux Pro";
    // A second output port of the same device (empty: none). It comes and goes with the device but
    // takes no part in the update; traffic to it is only counted.
    std::string secondPortName;
    bool secondFirst = false;  // the second port is listed before the main one

    // From the end of the header message in normal mode until the port is back in update mode.
    std::uint64_t bootNs = 2'500 * kNanosPerMilli;
    bool neverBack = false;

    // The first N opens in normal mode (busy) and in update mode (busyUpdate) fail as "allocated".
    int busyOpens = 0;
    int busyUpdateOpens = 0;

    // Faults at a message of the update-mode stream, counted from 0 (0 is the header again, so the
    // tenth message of the stream has index 9): never finishes, is refused, or the device vanishes
    // from the bus for good as that message starts.
    std::optional<std::size_t> stallAt;
    std::optional<std::size_t> refuseAt;
    std::optional<std::size_t> vanishAt;
    // The header is refused in normal mode.
    bool refuseSwitch = false;

    // The rate, in bytes per second, at which the device takes messages in update mode, where it
    // stores what it receives (0: instant, messages finish as they are accepted; at most 10^9). In
    // normal mode the running firmware takes its USB traffic at once.
    std::uint64_t bytesPerSecond = 3125;

    // How long a message of `length` bytes takes on the link.
    std::uint64_t TransferNs(std::size_t length) const;
};

// Parses a comma-separated list of settings; unknown keys or malformed values fail with a reason
// in *error. Keys (times take ns, us, ms or s; a bare number is milliseconds):
//   name=TEXT  second=TEXT  secondfirst  boot=TIME  never  busy=N  busyupd=N  stall=K  refuse=K
//   vanish=K  refuseswitch  rate=BYTES_PER_SECOND|instant
std::optional<Scenario> ParseScenario(std::string_view text, std::string* error = nullptr);

}  // namespace model
