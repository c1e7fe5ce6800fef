// KERNEL32 of the host stand-in, dynamic libraries: real shared objects through the dynamic loader.
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <string>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

using host::Guard;

struct Modules {
    std::map<std::string, int> loads;  // by path as given
    std::map<void*, std::string> paths;
    int attempts = 0;
};

Modules& M() {
    static Modules* m = new Modules();
    return *m;
}

// Counts start again; what is mapped stays mapped (its threads may still run).
const host::ResetHook resetModules([] {
    M().loads.clear();
    M().attempts = 0;
});

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    {
        Guard lock(host::Mutex());
        ++M().attempts;
    }
    if (std::optional<DWORD> error = host::CallFails("LoadLibraryA")) {
        host::SetLastErrorCode(*error);
        return nullptr;
    }
    if (fileName == nullptr || *fileName == '\0') {
        return nullptr;
    }
    // Without the stand-in's lock: the library's constructors may call into the stand-in.
    void* handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return nullptr;
    }
    Guard lock(host::Mutex());
    ++M().loads[fileName];
    M().paths[handle] = fileName;
    return static_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (std::optional<DWORD> error = host::CallFails("GetProcAddress")) {
        host::SetLastErrorCode(*error);
        return nullptr;
    }
    if (module == nullptr || procName == nullptr) {
        return nullptr;
    }
    void* symbol = dlsym(static_cast<void*>(module), procName);
    // The loader hands out data pointers; the platform's type for an export is a function pointer.
    FARPROC address = nullptr;
    static_assert(sizeof address == sizeof symbol);
    std::memcpy(&address, &symbol, sizeof address);
    return address;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        return FALSE;
    }
    {
        Guard lock(host::Mutex());
        auto it = M().paths.find(static_cast<void*>(module));
        if (it != M().paths.end()) {
            auto count = M().loads.find(it->second);
            if (count != M().loads.end() && count->second > 0) {
                --count->second;
            }
        }
    }
    return dlclose(static_cast<void*>(module)) == 0 ? TRUE : FALSE;
}

namespace sim {

int LibraryLoadCount(const std::string& path) {
    Guard lock(host::Mutex());
    auto it = M().loads.find(path);
    return it == M().loads.end() ? 0 : it->second;
}

int LibraryLoadAttempts() {
    Guard lock(host::Mutex());
    return M().attempts;
}

}  // namespace sim
