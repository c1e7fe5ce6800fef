// A Windows module: the host build compiles nothing of it (its lint pass sees every source).
#if defined(_WIN32)

#include "sim/wine_driver/config.h"

#include <windows.h>

namespace wineqlx {
namespace {

bool Get(const char* name, std::string& out) {
    char buffer[1024];
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer)) {
        return false;
    }
    out.assign(buffer, length);
    return true;
}

}  // namespace

DriverConfig ReadConfig() {
    DriverConfig config;
    Get("QLX_WINE_SCENARIO", config.scenario);
    std::string device;
    config.deviceAbsent = Get("QLX_WINE_DEVICE", device) && device == "absent";
    Get("QLX_WINE_EXTRA_PORT", config.extraPort);
    Get("QLX_WINE_VERDICT", config.verdictPath);
    Get("QLX_WINE_LOG", config.logPath);
    return config;
}

}  // namespace wineqlx

#endif  // defined(_WIN32)
