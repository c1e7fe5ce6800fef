// The resource table of the host build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

struct BuiltinResource {
    int type;  // RT_* integer identifier
    int id;
    const std::uint8_t* bytes;
    std::size_t size;
};

// Generated from res/ at build time.
const BuiltinResource* BuiltinResources(std::size_t* count);

}  // namespace host
