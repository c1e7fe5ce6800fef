// Control surface of the fault injector: any call the program makes of a platform function that
// the stand-in counts can be made to fail, one call at a time, chosen by the function's name and
// the call's number.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/host/api/types.h"

namespace sim {

enum class FaultKind {
    // The call fails as that function fails on Windows: it returns its failure value and reports
    // `error`, as its own result code (MMRESULT, LONG) or through GetLastError.
    Fails,
    // midiOutLongMsg accepts the message, and the platform never finishes it.
    NeverFinishes,
};

struct Fault {
    std::string function;  // the exported name: "midiOutOpen", "CreateEventA", ...
    int occurrence = 1;    // the call's number, counted per function from 1 after Reset
    FaultKind kind = FaultKind::Fails;
    DWORD error = 0;

    bool operator==(const Fault&) const = default;
};

// Arms a fault until Reset. Several may be armed, on the same function too.
void InjectFault(const Fault& fault);
// The next `count` calls of the function fail with `error`.
void FailNextCalls(const std::string& function, int count, DWORD error);

// How often the program has called each counted function since Reset (only those it called).
// Calls the stand-in makes of its own functions, and those of this control surface, are not counted.
std::map<std::string, int> PlatformCalls();
// The armed faults that have hit their call, in the order they did.
std::vector<Fault> FaultsHit();

}  // namespace sim
