// Arbitrary raw port names through the naming, on both Windows version families and with every
// option pair. Input: one control byte, then the raw name (any bytes, cut to 31 by the platform).
// Control byte: bits 0-1 the number of input ports that carry "Soravel" (0 to 3), bit 2 a failing
// capability query of the first of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "midi/device_list.h"
#include "midi/port_names.h"
#include "platform/host/sim.h"

namespace {

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static NullDeviceList emptyList;
    deviceList = &emptyList;
    const std::uint8_t control = data[0];
    const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);

    for (DWORD major : {5u, 10u}) {
        sim::Reset();
        sim::SetWindowsMajorVersion(major);
        sim::AddOutputPort(raw);
        for (int i = 0; i < (control & 3); ++i) {
            int input = sim::AddInputPort("Soravel In");
            if (i == 0 && (control & 4) != 0) {
                sim::SetInputCapsError(input, MMSYSERR_NODRIVER);
            }
        }
        const std::string modelOnly = OutputPortName(0, false, false);
        OutputPortName(0, false, true);
        const std::string full = OutputPortName(0, true, false);
        const std::string fullNumber = OutputPortName(0, true, true);
        // The model name is the same on every Windows version and never keeps a parenthesis.
        Check(modelOnly.find_first_of("()") == std::string::npos);
        if (major >= 6) {
            Check(full.find_first_of("()") == std::string::npos);
            Check(fullNumber.find_first_of("()") == std::string::npos);
        } else {
            // Older systems add a blank and the port number taken from the raw name.
            Check(fullNumber.size() > full.size() && fullNumber.compare(0, full.size(), full) == 0);
        }
        Check(OutputPortName(1, true, true).empty());
    }

    // The steps alone, on names of any length.
    PortNames::ComposePortName(raw, true, true);
    std::string name = raw;
    PortNames::EraseMarker(name, "MIDIOUT");
    PortNames::TakePortSuffix(name);
    return 0;
}
