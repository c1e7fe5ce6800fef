// Control surface of the simulated registry and of dynamic library loading.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Dynamic libraries: LoadLibraryA/GetProcAddress/FreeLibrary work on real shared objects. The
// counts start at 0 at Reset; libraries stay mapped across Reset.
// Successful loads minus frees of this path since Reset.
int LibraryLoadCount(const std::string& path);
// Every LoadLibraryA call since Reset, successful or not.
int LibraryLoadAttempts();

}  // namespace sim
