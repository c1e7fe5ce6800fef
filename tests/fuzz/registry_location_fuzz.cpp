// Arbitrary bytes as the driver library's registry location, through OpenConnection. The first
// byte picks the value's type; the rest is the value. Locations that name no loadable library with
// the three exports must end in the dummy connection, and nothing may read past the value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/driver_connection.h"
#include "platform/host/sim.h"
#include "platform/win32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    sim::Reset();
    std::vector<std::uint8_t> value(data + 1, data + size);
    // Names with a path separator would reach the file system; the bytes of a name are what matter.
    for (std::uint8_t& byte : value) {
        if (byte == '/') {
            byte = '_';
        }
    }
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Quenwick\\Shlk", "Location", data[0] % 8,
                          std::move(value));
    QuenwickShadeLink::Connection* connection = OpenConnection(nullptr);
    if (connection != &dummyConnection || sim::OpenRegistryKeyCount() != 0) {
        std::abort();
    }
    return 0;
}
