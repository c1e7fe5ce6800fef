// Control surface of the simulated registry and of dynamic library loading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/host/api/types.h"

namespace sim {

// Registry: keys are paths under a root such as HKEY_LOCAL_MACHINE, compared without regard to
// case, like value names. A key exists once created or given a value. Empty after Reset.
void CreateRegistryKey(HKEY root, const std::string& path);
// Stores the text with its terminating zero, as a REG_SZ value.
void SetRegistryString(HKEY root, const std::string& path, const std::string& name, const std::string& value);
// Stores the bytes exactly as given (for example a string without its terminator).
void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      std::vector<std::uint8_t> bytes);
// Removes the key, its values and every key below it.
void RemoveRegistryKey(HKEY root, const std::string& path);
// Keys opened by RegOpenKeyExA and not yet closed.
std::size_t OpenRegistryKeyCount();

// Dynamic libraries: LoadLibraryA/LoadLibraryExA/GetProcAddress/FreeLibrary work on real shared
// objects. Windows paths on drive Z: name files from the Linux root, as under Wine; other drives
// and UNC paths name nothing. The counts start at 0 at Reset; libraries stay mapped across Reset.
// Successful loads minus frees of this Linux path since Reset.
int LibraryLoadCount(const std::string& path);
// Every LoadLibraryA and LoadLibraryExA call since Reset, successful or not.
int LibraryLoadAttempts();
struct LibraryLoadCall {
    std::string fileName;  // as the program gave it
    DWORD flags = 0;       // LoadLibraryExA's flags; 0 for LoadLibraryA
    bool ex = false;       // through LoadLibraryExA
};
std::vector<LibraryLoadCall> LibraryLoadCalls();

// The search directories set by SetDefaultDllDirectories since Reset (0: never set).
DWORD DefaultDllDirectories();
// Called inside every accepted SetDefaultDllDirectories, without the stand-in's lock, so a test
// can see what had already happened by then. Null to stop; cleared by Reset.
void SetDefaultDllDirectoriesObserver(std::function<void(DWORD flags)> observer);
// false: a system from before the search-directory flags (Windows before 8 without its loader
// update). KERNEL32 then has no SetDefaultDllDirectories, and LoadLibraryExA refuses the
// LOAD_LIBRARY_SEARCH_ flags. true after Reset.
void SetSearchFlagsSupported(bool supported);

}  // namespace sim
