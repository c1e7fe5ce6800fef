#include "device/driver_connection.h"

#include "device/attach.h"
#include "platform/win32.h"

std::int32_t DummyConnection::DeviceCount() { return 0; }

DriverDevice* DummyConnection::Device(std::int32_t /*index*/) { return nullptr; }

void* DummyConnection::DeletingDestructor(unsigned int /*flags*/) { return this; }

// Constant-initialised, so it exists before any code runs (also before other static constructors).
constinit DummyConnection dummyConnection;

ShlkDestroyFunction driverDestroy = nullptr;

namespace {

constexpr char kKeyPath[] = "Software\\Quenwick\\Shlk";
constexpr char kValueName[] = "Location";
constexpr DWORD kLocationBufferSize = 256;

// Exports are looked up as FARPROC; going through the generic function type keeps the conversion
// to the real signature explicit.
template <typename Function>
Function ExportAs(FARPROC address) {
    using Generic = void (*)();
    return reinterpret_cast<Function>(reinterpret_cast<Generic>(address));
}

// Reads the library's path. False when the key or value is missing, or the value with its
// terminating zero does not fit the buffer (a value of exactly the buffer's size without a
// terminator is refused rather than read past).
bool ReadLibraryLocation(char (&path)[kLocationBufferSize]) {
    HKEY key = nullptr;
    HKEY machine = HKEY_LOCAL_MACHINE;  // NOLINT(performance-no-int-to-ptr): a predefined handle value
    if (RegOpenKeyExA(machine, kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = kLocationBufferSize;
    const LONG result =
        RegQueryValueExA(key, kValueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(path), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || size > kLocationBufferSize) {
        return false;
    }
    if (size > 0 && path[size - 1] == '\0') {
        return true;
    }
    if (size >= kLocationBufferSize) {
        return false;  // no room left for the terminator
    }
    path[size] = '\0';  // stored without a terminator: end it here
    return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A full path: a drive path ("C:\..." or "C:/...") or a UNC path ("\\server\..."). Any other name
// would be looked for along the library search path, the updater's own folder first, and that is
// the downloads folder.
bool IsFullPath(const char* path) {
    const auto letter = static_cast<unsigned char>(path[0] | 0x20);
    const bool drive = letter >= 'a' && letter <= 'z' && path[1] == ':' && IsSeparator(path[2]);
    const bool unc = IsSeparator(path[0]) && IsSeparator(path[1]);
    return drive || unc;
}

}  // namespace

QuenwickShadeLink::Connection* OpenConnection(BaseDevice* context) {
    char path[kLocationBufferSize] = {};
    if (!ReadLibraryLocation(path)) {
        return &dummyConnection;
    }
    if (!IsFullPath(path)) {
        return &dummyConnection;
    }
    // The library's own dependencies come from its folder and the system folder, nowhere else.
    HMODULE library =
        LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        return &dummyConnection;
    }
    // All three are looked up before any of them is tested; the library stays loaded either way.
    const auto getVersion = ExportAs<ShlkGetVersionFunction>(GetProcAddress(library, "SHLKGetVersion"));
    const auto create = ExportAs<ShlkCreateFunction>(GetProcAddress(library, "SHLKCreate"));
    const auto destroy = ExportAs<ShlkDestroyFunction>(GetProcAddress(library, "SHLKDestroy"));
    driverDestroy = destroy;
    if (getVersion == nullptr || create == nullptr || destroy == nullptr) {
        return &dummyConnection;
    }
    if (getVersion() != 1) {
        return &dummyConnection;
    }
    QuenwickShadeLink::Connection* connection = create(&Attach, context);
    if (connection == nullptr) {
        return &dummyConnection;
    }
    return connection;
}

void GiveUpConnection(QuenwickShadeLink::Connection* connection) {
    if (driverDestroy != nullptr && connection != nullptr && connection != &dummyConnection) {
        driverDestroy(connection);
    }
}
