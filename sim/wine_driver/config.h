// Configuration of the Wine MIDI driver, read once from the environment of the process that
// loads it. The test harness sets these before starting the program under test.
#pragma once

#include <cstdint>
#include <string>

namespace wineqlx {

struct DriverConfig {
    // QLX_WINE_PORT: the device's port name.
    std::string portName = "Quadrilux Pro";
    // QLX_WINE_EXTRA_PORT: a plain, always-present port counted before the device (empty: none).
    std::string extraPort;
    // QLX_WINE_BOOT_MS: how long the device is off the bus after the header.
    std::uint64_t bootMs = 2500;
    // QLX_WINE_LINK_BPS: bytes per second of the link; 0 is an instant link (still completed from
    // the driver thread, after at least kMinTransferNs).
    std::uint64_t linkBytesPerSecond = 31250;
    // QLX_WINE_SCENARIO: the fault scenario handed to the device model ("" is a healthy device).
    std::string scenario;
    // QLX_WINE_VERDICT: Windows path of the verdict file (empty: none is written).
    std::string verdictPath;
};

DriverConfig ReadConfig();

}  // namespace wineqlx
