// KERNEL32 of the host stand-in.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <thread>
#include <utility>

#include "platform/host/faults.h"
#include "platform/host/modules.h"
#include "platform/host/objects.h"
#include "platform/host/resources.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

using host::Guard;

class Event : public host::KernelObject {
public:
    Event(bool manual, bool signalled) : manual_(manual), signalled_(signalled) {}
    bool Signalled() const override { return signalled_; }
    void Acquired() override {
        if (!manual_) {
            signalled_ = false;
        }
    }
    void Set(bool value) { signalled_ = value; }

private:
    bool manual_;
    bool signalled_;
};

class Thread : public host::KernelObject {
public:
    bool Signalled() const override { return ended; }
    bool ended = false;
};

thread_local DWORD lastError = 0;

// Resource table: the built-in entries from res/, changed by tests through sim::SetResource.
using ResourceKey = std::pair<int, int>;
using ResourceBytes = std::shared_ptr<const std::vector<std::uint8_t>>;
struct Resources {
    std::map<ResourceKey, ResourceBytes> table;
};
Resources& R() {
    static Resources* r = new Resources();
    return *r;
}
void LoadBuiltinResourcesLocked() {
    R().table.clear();
    std::size_t count = 0;
    const host::BuiltinResource* entries = host::BuiltinResources(&count);
    for (std::size_t i = 0; i < count; ++i) {
        R().table[{entries[i].type, entries[i].id}] = std::make_shared<const std::vector<std::uint8_t>>(
            entries[i].bytes, entries[i].bytes + entries[i].size);
    }
}
int ResourceInt(LPCSTR name) {
    return IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<ULONG_PTR>(name)) : -1;
}

struct DebugChannel {
    std::vector<std::string> lines;
    std::function<void(const std::string&)> sink;
};
DebugChannel& D() {
    static DebugChannel* d = new DebugChannel();
    return *d;
}

DWORD majorVersion = 10;

// Threads made by CreateThread that have not ended yet.
int liveThreads = 0;

const host::ResetHook resetKernel([] {
    LoadBuiltinResourcesLocked();
    D().lines.clear();
    majorVersion = 10;
});

DWORD WaitFor(HANDLE handle, DWORD milliseconds);

}  // namespace

// ---- Resources -----------------------------------------------------------------------------------

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    // The executable's own module, or one of the system's (kernel32_modules.cpp).
    static int self = 0;
    return moduleName == nullptr ? reinterpret_cast<HMODULE>(&self) : host::SystemModuleHandle(moduleName);
}

namespace host {

std::shared_ptr<const std::vector<std::uint8_t>> ResourceData(LPCSTR type, LPCSTR name) {
    Guard lock(host::Mutex());
    if (R().table.empty()) {
        LoadBuiltinResourcesLocked();
    }
    auto it = R().table.find({ResourceInt(type), ResourceInt(name)});
    return it == R().table.end() ? nullptr : it->second;
}

}  // namespace host

HRSRC WINAPI FindResourceA(HMODULE /*module*/, LPCSTR name, LPCSTR type) {
    if (host::FailsSettingLastError("FindResourceA")) {
        return nullptr;
    }
    // The handle is the entry's byte block, which lives as long as the process keeps it in the table
    // or a ResourceOverride keeps it.
    std::shared_ptr<const std::vector<std::uint8_t>> data = host::ResourceData(type, name);
    return data ? reinterpret_cast<HRSRC>(const_cast<std::vector<std::uint8_t>*>(data.get())) : nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE /*module*/, HRSRC resource) {
    if (host::FailsSettingLastError("LoadResource")) {
        return nullptr;
    }
    return resource;
}

DWORD WINAPI SizeofResource(HMODULE /*module*/, HRSRC resource) {
    if (host::FailsSettingLastError("SizeofResource")) {
        return 0;
    }
    if (resource == nullptr) {
        return 0;
    }
    return static_cast<DWORD>(reinterpret_cast<const std::vector<std::uint8_t>*>(resource)->size());
}

LPVOID WINAPI LockResource(HGLOBAL data) {
    if (host::FailsSettingLastError("LockResource")) {
        return nullptr;
    }
    if (data == nullptr) {
        return nullptr;
    }
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(data);
    return bytes->empty() ? static_cast<LPVOID>(bytes) : bytes->data();
}

// ---- Debugger channel ----------------------------------------------------------------------------

void WINAPI OutputDebugStringA(LPCSTR text) {
    std::string line = text == nullptr ? std::string() : std::string(text);
    std::function<void(const std::string&)> sink;
    {
        Guard lock(host::Mutex());
        D().lines.push_back(line);
        sink = D().sink;
    }
    if (sink) {
        sink(line);
    }
}

// ---- Events, waits, handles ----------------------------------------------------------------------

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manualReset, BOOL initialState,
                           LPCSTR /*name*/) {
    if (host::FailsSettingLastError("CreateEventA")) {
        return nullptr;
    }
    Guard lock(host::Mutex());
    return host::AddHandleLocked(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

namespace {
BOOL SetEventState(HANDLE handle, bool value) {
    Guard lock(host::Mutex());
    auto event = std::dynamic_pointer_cast<Event>(host::FindHandleLocked(handle));
    if (!event) {
        lastError = 6;  // ERROR_INVALID_HANDLE
        return FALSE;
    }
    event->Set(value);
    host::WakeLocked();
    return TRUE;
}
}  // namespace

BOOL WINAPI SetEvent(HANDLE event) { return SetEventState(event, true); }
BOOL WINAPI ResetEvent(HANDLE event) { return SetEventState(event, false); }

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (host::FailsSettingLastError("WaitForSingleObject")) {
        return WAIT_FAILED;
    }
    return WaitFor(handle, milliseconds);
}

namespace {
DWORD WaitFor(HANDLE handle, DWORD milliseconds) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::KernelObject> object = host::FindHandleLocked(handle);
    if (!object) {
        lastError = 6;
        return WAIT_FAILED;
    }
    std::optional<host::Nanos> deadline;
    if (milliseconds != INFINITE) {
        deadline = host::NowLocked() + host::Nanos{milliseconds} * host::kNanosPerMilli;
    }
    auto signalled = [&] { return object->Signalled(); };
    if (!host::BlockUntil(lock, signalled, deadline)) {
        return WAIT_TIMEOUT;
    }
    object->Acquired();
    return WAIT_OBJECT_0;
}
}  // namespace

BOOL WINAPI CloseHandle(HANDLE handle) {
    Guard lock(host::Mutex());
    if (!host::CloseHandleLocked(handle)) {
        lastError = 6;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetLastError() { return lastError; }

void host::SetLastErrorCode(DWORD error) { lastError = error; }

// ---- Threads and time ----------------------------------------------------------------------------

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/, SIZE_T /*stackSize*/,
                           LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD /*creationFlags*/,
                           LPDWORD threadId) {
    if (host::FailsSettingLastError("CreateThread")) {
        return nullptr;
    }
    auto thread = std::make_shared<Thread>();
    HANDLE handle = nullptr;
    {
        Guard lock(host::Mutex());
        handle = host::AddHandleLocked(thread);
        host::ThreadStartingLocked();
        ++liveThreads;
    }
    std::thread worker([thread, start, parameter] {
        host::EnterStartedThread();
        start(parameter);
        Guard lock(host::Mutex());
        thread->ended = true;
        --liveThreads;
        host::ThreadEndedLocked();
    });
    if (threadId != nullptr) {
        *threadId = static_cast<DWORD>(std::hash<std::thread::id>{}(worker.get_id()));
    }
    worker.detach();
    return handle;
}

DWORD WINAPI GetCurrentThreadId() {
    return static_cast<DWORD>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

void WINAPI Sleep(DWORD milliseconds) {
    Guard lock(host::Mutex());
    auto never = [] { return false; };
    host::BlockUntil(lock, never, host::NowLocked() + host::Nanos{milliseconds} * host::kNanosPerMilli);
}

DWORD WINAPI GetTickCount() {
    Guard lock(host::Mutex());
    return static_cast<DWORD>(host::NowLocked() / host::kNanosPerMilli);
}

// ---- OS version ----------------------------------------------------------------------------------

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        return FALSE;
    }
    Guard lock(host::Mutex());
    info->dwMajorVersion = majorVersion;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 19045;
    info->dwPlatformId = 2;  // VER_PLATFORM_WIN32_NT
    info->szCSDVersion[0] = '\0';
    return TRUE;
}

// ---- Control surface -----------------------------------------------------------------------------

namespace sim {

void Reset(bool realTime) {
    Guard lock(host::Mutex());
    host::ResetClockLocked(realTime);
    host::ParticipateLocked();
    host::RunResetHooksLocked();
}

std::uint64_t NowNs() {
    Guard lock(host::Mutex());
    return host::NowLocked();
}

void At(std::uint64_t timeNs, std::function<void()> fn) {
    Guard lock(host::Mutex());
    host::ScheduleLocked(timeNs, std::move(fn));
}

std::size_t OpenHandleCount() {
    Guard lock(host::Mutex());
    return host::OpenHandleCountLocked();
}

void JoinThread(HANDLE thread) { WaitFor(thread, INFINITE); }

bool WaitForThreads(std::uint64_t timeoutNs) {
    Guard lock(host::Mutex());
    return host::BlockUntil(
        lock, [] { return liveThreads == 0; }, host::NowLocked() + timeoutNs);
}

std::vector<std::string> DebugLines() {
    Guard lock(host::Mutex());
    return D().lines;
}

void ClearDebugLines() {
    Guard lock(host::Mutex());
    D().lines.clear();
}

void SetDebugSink(std::function<void(const std::string&)> sink) {
    Guard lock(host::Mutex());
    D().sink = std::move(sink);
}

StdoutCapture::StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    char path[] = "/tmp/qlx-stdout-XXXXXX";
    fileFd_ = mkstemp(path);
    if (fileFd_ >= 0) {
        unlink(path);
        savedFd_ = dup(STDOUT_FILENO);
        dup2(fileFd_, STDOUT_FILENO);
    }
}

StdoutCapture::~StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    if (savedFd_ >= 0) {
        dup2(savedFd_, STDOUT_FILENO);
        close(savedFd_);
    }
    if (fileFd_ >= 0) {
        close(fileFd_);
    }
}

std::string StdoutCapture::Text() {
    std::cout.flush();
    std::fflush(stdout);
    std::string text;
    if (fileFd_ < 0) {
        return text;
    }
    off_t end = lseek(fileFd_, 0, SEEK_END);
    text.resize(static_cast<std::size_t>(end > 0 ? end : 0));
    if (!text.empty()) {
        ssize_t got = pread(fileFd_, text.data(), text.size(), 0);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    return text;
}

void SetResource(LPCSTR type, int id, std::vector<std::uint8_t> bytes) {
    Guard lock(host::Mutex());
    if (R().table.empty()) {
        LoadBuiltinResourcesLocked();
    }
    R().table[{ResourceInt(type), id}] = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

void RemoveResource(LPCSTR type, int id) {
    Guard lock(host::Mutex());
    if (R().table.empty()) {
        LoadBuiltinResourcesLocked();
    }
    R().table.erase({ResourceInt(type), id});
}

namespace {
ResourceBytes CurrentResource(LPCSTR type, int id) {
    Guard lock(host::Mutex());
    if (R().table.empty()) {
        LoadBuiltinResourcesLocked();
    }
    auto it = R().table.find({ResourceInt(type), id});
    return it == R().table.end() ? nullptr : it->second;
}
}  // namespace

ResourceOverride::ResourceOverride(LPCSTR type, int id, std::vector<std::uint8_t> bytes)
    : type_(type), id_(id), previous_(CurrentResource(type, id)) {
    SetResource(type, id, std::move(bytes));
}

ResourceOverride::ResourceOverride(LPCSTR type, int id)
    : type_(type), id_(id), previous_(CurrentResource(type, id)) {
    RemoveResource(type, id);
}

ResourceOverride::~ResourceOverride() {
    Guard lock(host::Mutex());
    if (previous_) {
        R().table[{ResourceInt(type_), id_}] = previous_;
    } else {
        R().table.erase({ResourceInt(type_), id_});
    }
}

void SetWindowsMajorVersion(DWORD major) {
    Guard lock(host::Mutex());
    majorVersion = major;
}

}  // namespace sim
