// Arbitrary bytes as the driver library's registry location, through OpenConnection. The first
// byte picks the value's type; the rest is the value. Whatever it holds, the result is the dummy
// connection, nothing reads past the value, and only a full Windows path reaches the loader: once,
// with the library's own folder and the system folder as its only search directories.
//
// No name reaches the file system: anything but a full path is refused before loading, and in the
// stand-in only drive Z: leads to files (the Linux root), which the target turns into drive Y:.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/driver_connection.h"
#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

bool Separator(char c) { return c == '\\' || c == '/'; }

// Written apart from the product's check, from the rule: a drive path or a UNC path.
bool FullWindowsPath(const std::string& name) {
    const bool drive = name.size() >= 3 &&
                       ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z')) &&
                       name[1] == ':' && Separator(name[2]);
    const bool unc = name.size() >= 2 && Separator(name[0]) && Separator(name[1]);
    return drive || unc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    sim::Reset();
    std::vector<std::uint8_t> value(data + 1, data + size);
    if (!value.empty() && (value[0] == 'Z' || value[0] == 'z')) {
        value[0] = 'Y';
    }
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, "Software\\Quenwick\\Shlk", "Location", data[0] % 8,
                          std::move(value));
    QuenwickShadeLink::Connection* connection = OpenConnection(nullptr);
    if (connection != &dummyConnection || sim::OpenRegistryKeyCount() != 0) {
        std::abort();
    }
    const std::vector<sim::LibraryLoadCall> calls = sim::LibraryLoadCalls();
    if (calls.size() > 1) {
        std::abort();
    }
    for (const sim::LibraryLoadCall& call : calls) {
        if (!call.ex || call.flags != (LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32) ||
            !FullWindowsPath(call.fileName) || call.fileName.size() >= 256) {
            std::abort();
        }
    }
    return 0;
}
