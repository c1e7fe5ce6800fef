// Kernel objects and handles of the host stand-in, and the hooks that reset its state.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/host/api/types.h"
#include "platform/host/scheduler.h"

namespace host {

// Something a HANDLE can refer to. Waitable objects say whether they are signalled.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    virtual bool Signalled() const { return false; }
    // Called when a wait is satisfied by this object (an auto-reset event resets here).
    virtual void Acquired() {}
};

// Handle table. Lock held for all of these.
HANDLE AddHandleLocked(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandleLocked(HANDLE handle);
bool CloseHandleLocked(HANDLE handle);
std::size_t OpenHandleCountLocked();

// A piece of the stand-in registers how to return to its initial state; sim::Reset runs them all
// with the lock held.
class ResetHook {
public:
    explicit ResetHook(std::function<void()> resetLocked);
};
void RunResetHooksLocked();

}  // namespace host
