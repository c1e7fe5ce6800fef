// The virtual Quadrilux Pro that the terminal program talks to.
#pragma once

#include <cstdint>
#include <string>

namespace terminal {

struct DeviceOptions {
    // Settings of the virtual controller (see model::ParseScenario); later ones win. The terminal's
    // default link is one of a USB MIDI device, slower than the tests' instant one.
    std::string scenario = "rate=8000";
    bool attached = true;
    // Connected this long after the start (0: from the start).
    std::uint64_t plugInNs = 0;
};

// A time as the scenario settings write it ("5s", "2500ms", a bare number of milliseconds).
bool ParseDelay(const std::string& text, std::uint64_t* ns);

// Connects the controller now or at its plug-in time. False, with the reason, when the scenario
// cannot be read.
bool AttachVirtualDevice(const DeviceOptions& options, std::string* error);

// Tells on standard error what the controller received.
void ReportVirtualDevice();

}  // namespace terminal
