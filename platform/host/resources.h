// The resource table of the host build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/host/api/types.h"

namespace host {

struct BuiltinResource {
    int type;  // RT_* integer identifier
    int id;
    const std::uint8_t* bytes;
    std::size_t size;
};

// Generated from res/ at build time.
const BuiltinResource* BuiltinResources(std::size_t* count);

// The bytes of the executable's resource of that type and name (integer identifiers), or null;
// for the stand-in's own lookups, which the program does not see as platform calls.
std::shared_ptr<const std::vector<std::uint8_t>> ResourceData(LPCSTR type, LPCSTR name);

}  // namespace host
