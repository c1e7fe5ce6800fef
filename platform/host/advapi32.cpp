// ADVAPI32 of the host stand-in: an in-memory registry.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

using host::Guard;

struct Value {
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> bytes;
};

struct Key {
    std::map<std::string, Value> values;  // by lower-case name
};

// An open key; its address is the handle given out.
struct OpenKey {
    std::string name;
};

struct Registry {
    std::map<std::string, Key> keys;  // by "<root>\<lower-case path>"
    std::map<HKEY, std::unique_ptr<OpenKey>> open;
};

Registry& Reg() {
    static Registry* r = new Registry();
    return *r;
}

const host::ResetHook resetRegistry([] {
    Reg().keys.clear();
    Reg().open.clear();
});

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trimmed(std::string path) {
    while (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    while (!path.empty() && path.front() == '\\') {
        path.erase(path.begin());
    }
    return path;
}

// The predefined root keys are handle values made from numbers.
HKEY LocalMachine() {
    return HKEY_LOCAL_MACHINE;  // NOLINT(performance-no-int-to-ptr)
}
HKEY CurrentUser() {
    return HKEY_CURRENT_USER;  // NOLINT(performance-no-int-to-ptr)
}

bool IsRoot(HKEY key) { return key == LocalMachine() || key == CurrentUser(); }

std::string RootName(HKEY root) { return root == LocalMachine() ? "hklm" : "hkcu"; }

// The full name of a key given by a handle (a root or an open key) and a sub-path. Lock held.
bool FullNameLocked(HKEY key, const std::string& subPath, std::string& out) {
    std::string base;
    if (IsRoot(key)) {
        base = RootName(key);
    } else {
        auto it = Reg().open.find(key);
        if (it == Reg().open.end()) {
            return false;
        }
        base = it->second->name;
    }
    const std::string sub = Lower(Trimmed(subPath));
    out = sub.empty() ? base : base + "\\" + sub;
    return true;
}

std::string FullName(HKEY root, const std::string& path) {
    const std::string sub = Lower(Trimmed(path));
    return sub.empty() ? RootName(root) : RootName(root) + "\\" + sub;
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*desired*/, PHKEY result) {
    if (std::optional<DWORD> error = host::CallFails("RegOpenKeyExA")) {
        return static_cast<LONG>(*error);
    }
    if (result == nullptr) {
        return 87L;  // ERROR_INVALID_PARAMETER
    }
    Guard lock(host::Mutex());
    std::string name;
    if (!FullNameLocked(key, subKey == nullptr ? std::string() : std::string(subKey), name)) {
        return ERROR_INVALID_HANDLE;
    }
    if (Reg().keys.find(name) == Reg().keys.end() && name.find('\\') != std::string::npos) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto opened = std::make_unique<OpenKey>(OpenKey{name});
    const auto handle = reinterpret_cast<HKEY>(opened.get());
    Reg().open[handle] = std::move(opened);
    *result = handle;
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) {
    if (std::optional<DWORD> error = host::CallFails("RegQueryValueExA")) {
        return static_cast<LONG>(*error);
    }
    Guard lock(host::Mutex());
    std::string name;
    if (!FullNameLocked(key, std::string(), name)) {
        return ERROR_INVALID_HANDLE;
    }
    auto keyIt = Reg().keys.find(name);
    if (keyIt == Reg().keys.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto valueIt =
        keyIt->second.values.find(Lower(valueName == nullptr ? std::string() : std::string(valueName)));
    if (valueIt == keyIt->second.values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const Value& value = valueIt->second;
    if (type != nullptr) {
        *type = value.type;
    }
    const auto size = static_cast<DWORD>(value.bytes.size());
    if (data != nullptr) {
        if (dataSize == nullptr) {
            return 998L;  // ERROR_NOACCESS
        }
        if (*dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (size > 0) {
            std::memcpy(data, value.bytes.data(), size);
        }
    }
    if (dataSize != nullptr) {
        *dataSize = size;
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
    Guard lock(host::Mutex());
    if (IsRoot(key)) {
        return ERROR_SUCCESS;
    }
    if (Reg().open.erase(key) == 0) {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

namespace sim {

void CreateRegistryKey(HKEY root, const std::string& path) {
    Guard lock(host::Mutex());
    // Every key on the way exists too.
    std::string name = FullName(root, path);
    for (std::size_t at = name.find('\\'); at != std::string::npos; at = name.find('\\', at + 1)) {
        Reg().keys[name.substr(0, at)];
    }
    Reg().keys[name];
}

void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      std::vector<std::uint8_t> bytes) {
    CreateRegistryKey(root, path);
    Guard lock(host::Mutex());
    Value& value = Reg().keys[FullName(root, path)].values[Lower(name)];
    value.type = type;
    value.bytes = std::move(bytes);
}

void SetRegistryString(HKEY root, const std::string& path, const std::string& name,
                       const std::string& value) {
    std::vector<std::uint8_t> bytes(value.begin(), value.end());
    bytes.push_back(0);
    SetRegistryValue(root, path, name, REG_SZ, std::move(bytes));
}

void RemoveRegistryKey(HKEY root, const std::string& path) {
    Guard lock(host::Mutex());
    const std::string name = FullName(root, path);
    const std::string below = name + "\\";
    for (auto it = Reg().keys.begin(); it != Reg().keys.end();) {
        if (it->first == name || it->first.compare(0, below.size(), below) == 0) {
            it = Reg().keys.erase(it);
        } else {
            ++it;
        }
    }
}

std::size_t OpenRegistryKeyCount() {
    Guard lock(host::Mutex());
    return Reg().open.size();
}

}  // namespace sim
