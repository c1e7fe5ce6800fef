#include "sim/wine_driver/config.h"

#include <windows.h>

#include <cstdlib>

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

void GetNumber(const char* name, std::uint64_t& out) {
    std::string text;
    if (Get(name, text)) {
        out = std::strtoull(text.c_str(), nullptr, 10);
    }
}

}  // namespace

DriverConfig ReadConfig() {
    DriverConfig config;
    Get("QLX_WINE_PORT", config.portName);
    Get("QLX_WINE_EXTRA_PORT", config.extraPort);
    GetNumber("QLX_WINE_BOOT_MS", config.bootMs);
    GetNumber("QLX_WINE_LINK_BPS", config.linkBytesPerSecond);
    Get("QLX_WINE_SCENARIO", config.scenario);
    Get("QLX_WINE_VERDICT", config.verdictPath);
    return config;
}

}  // namespace wineqlx
