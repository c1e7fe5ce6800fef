// The system's own modules as the host stand-in models them (shared by the KERNEL32 sources).
#pragma once

#include "platform/host/api/types.h"

namespace host {

// GetModuleHandleA of a system module by name: KERNEL32 (its GetProcAddress serves the loader
// calls a program may look up at run time); null for every other name.
HMODULE SystemModuleHandle(LPCSTR moduleName);

}  // namespace host
