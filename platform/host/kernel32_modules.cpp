// KERNEL32 of the host stand-in, dynamic libraries: real shared objects through the dynamic loader.
//
// Paths are Windows paths: drive Z: is the Linux root, as under Wine ("Z:\\tmp\\x.so" loads
// /tmp/x.so); other drives and UNC paths name nothing here. A name in no Windows form (a Linux
// path, as tests load libraries by) goes to the dynamic loader unchanged.
#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/faults.h"
#include "platform/host/modules.h"
#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

using host::Guard;

constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                               LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                               LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

struct Modules {
    std::map<std::string, int> loads;  // by the path the loader was given
    std::map<void*, std::string> paths;
    int attempts = 0;
    std::vector<sim::LibraryLoadCall> calls;
    DWORD defaultDirectories = 0;
    bool searchFlagsSupported = true;
    std::function<void(DWORD)> defaultDirectoriesObserver;
};

Modules& M() {
    static Modules* m = new Modules();
    return *m;
}

// Counts start again; what is mapped stays mapped (its threads may still run).
const host::ResetHook resetModules([] {
    M().loads.clear();
    M().attempts = 0;
    M().calls.clear();
    M().defaultDirectories = 0;
    M().searchFlagsSupported = true;
    M().defaultDirectoriesObserver = nullptr;
});

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDrivePath(const char* name) { return IsLetter(name[0]) && name[1] == ':' && IsSeparator(name[2]); }
bool IsUncPath(const char* name) { return IsSeparator(name[0]) && IsSeparator(name[1]); }

// What the dynamic loader gets for a name, or nothing when the name is a Windows path that leads
// nowhere on this machine.
std::optional<std::string> HostPath(const char* name) {
    if (IsUncPath(name) || (IsDrivePath(name) && name[0] != 'Z' && name[0] != 'z')) {
        return std::nullopt;
    }
    if (!IsDrivePath(name)) {
        return std::string(name);
    }
    std::string path(name + 2);
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

// The one stand-in object behind GetModuleHandleA("kernel32.dll").
int kernel32Module = 0;

HMODULE Load(LPCSTR fileName, HANDLE file, DWORD flags, bool ex) {
    {
        Guard lock(host::Mutex());
        ++M().attempts;
        M().calls.push_back({fileName == nullptr ? std::string() : std::string(fileName), flags, ex});
    }
    if (host::FailsSettingLastError(ex ? "LoadLibraryExA" : "LoadLibraryA")) {
        return nullptr;
    }
    {
        Guard lock(host::Mutex());
        if ((flags & kSearchFlags) != 0 && !M().searchFlagsSupported) {
            host::SetLastErrorCode(87);  // ERROR_INVALID_PARAMETER: a system without the search flags
            return nullptr;
        }
    }
    if (fileName == nullptr || *fileName == '\0' || file != nullptr) {
        return nullptr;
    }
    // The library's own folder only makes sense for a full path; the system refuses anything else.
    if ((flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) != 0 && !IsDrivePath(fileName) && !IsUncPath(fileName)) {
        return nullptr;
    }
    const std::optional<std::string> path = HostPath(fileName);
    if (!path) {
        return nullptr;
    }
    // Without the stand-in's lock: the library's constructors may call into the stand-in.
    void* handle = dlopen(path->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return nullptr;
    }
    Guard lock(host::Mutex());
    ++M().loads[*path];
    M().paths[handle] = *path;
    return static_cast<HMODULE>(handle);
}

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) { return Load(fileName, nullptr, 0, false); }

HMODULE WINAPI LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags) {
    return Load(fileName, file, flags, true);
}

BOOL WINAPI SetDefaultDllDirectories(DWORD directoryFlags) {
    if (host::FailsSettingLastError("SetDefaultDllDirectories")) {
        return FALSE;
    }
    std::function<void(DWORD)> observer;
    {
        Guard lock(host::Mutex());
        // Only search-directory flags, at least one of them.
        if (directoryFlags == 0 || (directoryFlags & ~kSearchFlags) != 0 || !M().searchFlagsSupported) {
            return FALSE;
        }
        M().defaultDirectories = directoryFlags;
        observer = M().defaultDirectoriesObserver;
    }
    if (observer) {
        observer(directoryFlags);
    }
    return TRUE;
}

HMODULE host::SystemModuleHandle(LPCSTR moduleName) {
    if (moduleName == nullptr) {
        return nullptr;
    }
    std::string name(moduleName);
    for (char& c : name) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return name == "kernel32.dll" || name == "kernel32" ? reinterpret_cast<HMODULE>(&kernel32Module)
                                                        : nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (host::FailsSettingLastError("GetProcAddress")) {
        return nullptr;
    }
    if (module == nullptr || procName == nullptr) {
        return nullptr;
    }
    if (module == reinterpret_cast<HMODULE>(&kernel32Module)) {
        // The loader calls a program looks up because older systems lack them.
        Guard lock(host::Mutex());
        if (std::strcmp(procName, "SetDefaultDllDirectories") == 0 && M().searchFlagsSupported) {
            using Generic = void (*)();
            return reinterpret_cast<FARPROC>(reinterpret_cast<Generic>(&SetDefaultDllDirectories));
        }
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

std::vector<LibraryLoadCall> LibraryLoadCalls() {
    Guard lock(host::Mutex());
    return M().calls;
}

DWORD DefaultDllDirectories() {
    Guard lock(host::Mutex());
    return M().defaultDirectories;
}

void SetDefaultDllDirectoriesObserver(std::function<void(DWORD flags)> observer) {
    Guard lock(host::Mutex());
    M().defaultDirectoriesObserver = std::move(observer);
}

void SetSearchFlagsSupported(bool supported) {
    Guard lock(host::Mutex());
    M().searchFlagsSupported = supported;
}

}  // namespace sim
