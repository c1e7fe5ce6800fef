// Control surface of the simulated kernel: clock, handles, debugger channel, standard output,
// resources and the OS version.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/api/types.h"

namespace sim {

// Returns the whole stand-in to its initial state: virtual clock at 0, no timers, no handles, no
// windows, no ports, empty registry, no captured lines. Call it at the start of every test.
void Reset(bool realTime = false);

// The stand-in's clock (virtual in tests, the wall clock in the terminal program).
std::uint64_t NowNs();
inline std::uint64_t NowMs() { return NowNs() / 1'000'000; }
// Runs fn at the given time on the stand-in's clock, from whichever thread moves the clock, without
// the stand-in's lock held. For simulated devices.
void At(std::uint64_t timeNs, std::function<void()> fn);
inline void After(std::uint64_t delayNs, std::function<void()> fn) { At(NowNs() + delayNs, std::move(fn)); }

// Open kernel handles (events, threads).
std::size_t OpenHandleCount();

// Waits for a thread made by CreateThread to end, through the stand-in (so the virtual clock runs).
void JoinThread(HANDLE thread);
// Waits, through the stand-in, until every thread made by CreateThread has ended; false when some
// still runs after `timeoutNs` on the stand-in's clock.
bool WaitForThreads(std::uint64_t timeoutNs);

// Debugger channel: every OutputDebugStringA text, one entry per call.
std::vector<std::string> DebugLines();
void ClearDebugLines();
// Also hands each line to sink as it is written (the terminal program uses this); null to stop.
void SetDebugSink(std::function<void(const std::string&)> sink);

// Captures what the process writes to its standard output (file descriptor 1) while alive.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    // Everything written since construction (flushes stdout and std::cout first).
    std::string Text();

private:
    int savedFd_ = -1;
    int fileFd_ = -1;
};

// Resources of the executable: a table keyed by type and integer identifier, filled at start from
// res/. SetResource replaces or adds an entry until the next Reset; ResourceOverride does it for one
// scope and puts the previous state back.
void SetResource(LPCSTR type, int id, std::vector<std::uint8_t> bytes);
void RemoveResource(LPCSTR type, int id);
class ResourceOverride {
public:
    ResourceOverride(LPCSTR type, int id, std::vector<std::uint8_t> bytes);  // replace
    ResourceOverride(LPCSTR type, int id);                                   // remove
    ~ResourceOverride();
    ResourceOverride(const ResourceOverride&) = delete;
    ResourceOverride& operator=(const ResourceOverride&) = delete;

private:
    LPCSTR type_;
    int id_;
    std::shared_ptr<const std::vector<std::uint8_t>> previous_;
};

// What GetVersionExA reports as dwMajorVersion (10 after Reset).
void SetWindowsMajorVersion(DWORD major);

}  // namespace sim
