// The one clock and the one lock of the host stand-in.
//
// Every blocking call of the stand-in (Sleep, WaitForSingleObject, GetMessageA, SendMessageA
// across threads, ...) waits through BlockUntil. In virtual mode the clock stands still while any
// participating thread runs, and jumps to the next deadline or timer once all of them are blocked,
// so a 305-second failure finishes in milliseconds and always the same way. In real mode the same
// waits follow the wall clock.
//
// Participating threads: every thread made by CreateThread, the thread that called sim::Reset (the
// test's own thread, which must not let a thread it started run the clock ahead of it before its
// own first wait), and every other thread from its first blocking call on. A thread that waits outside the
// stand-in (std::thread::join, a condition variable of its own) freezes the virtual clock, so tests wait
// through the stand-in.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace host {

using Nanos = std::uint64_t;
constexpr Nanos kNanosPerMilli = 1'000'000;

// The lock that guards all state of the stand-in.
std::mutex& Mutex();
using Guard = std::unique_lock<std::mutex>;

// Current time on the stand-in's clock, in nanoseconds since the last reset. Lock held.
Nanos NowLocked();

// Blocks the calling thread until ready() holds or the deadline (absolute, on the stand-in's clock)
// has passed. ready() is evaluated with the lock held, possibly on another thread. Returns true when
// ready, false on time-out. The lock is held on entry and on return.
bool BlockUntil(Guard& lock, std::function<bool()> ready, std::optional<Nanos> deadline);

// Re-evaluates the waiting threads after a change of shared state. Lock held.
void WakeLocked();

// Runs fn at time `at` on the stand-in's clock, without the lock held, on whichever thread moves
// the clock. Returns an identifier for CancelLocked. Lock held.
std::uint64_t ScheduleLocked(Nanos at, std::function<void()> fn);
void CancelLocked(std::uint64_t id);

// Registers a thread made by CreateThread before it starts, and retires it when it ends. Lock held.
void ThreadStartingLocked();
void EnterStartedThread();  // first thing on the new thread, no lock needed
void ThreadEndedLocked();

// Counts the calling thread as participating from now on. Lock held.
void ParticipateLocked();

// Resets the clock to 0 and drops all timers. Lock held.
void ResetClockLocked(bool realTime);
bool RealTimeLocked();

}  // namespace host
