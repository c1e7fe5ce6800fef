// The fault injector's side inside the stand-in: every counted platform function asks it, at its
// entry, whether this call is to fail.
#pragma once

#include <optional>

#include "platform/host/api/types.h"
#include "platform/host/sim/faults.h"

namespace host {

// Counts one call of `function` by the program and returns the fault armed for it, if any.
// Without the stand-in's lock held.
std::optional<sim::Fault> CountCall(const char* function);

// The same for a function that can only fail: the error of a fault of kind Fails armed for this
// call, if any.
std::optional<DWORD> CallFails(const char* function);

// The same for a function that reports its failures through GetLastError: true when this call is to
// fail, with the calling thread's last error set to the fault's error.
bool FailsSettingLastError(const char* function);

// What the calling thread's GetLastError reports from now on.
void SetLastErrorCode(DWORD error);

}  // namespace host
