// Configuration of the Wine MIDI driver, read once from the environment of the process that
// loads it. The test harness sets these before starting the program under test.
#pragma once

#include <string>

namespace wineqlx {

struct DriverConfig {
    // QLX_WINE_SCENARIO: how the virtual Quadrilux Pro behaves, in the model's own text form
    // (port name, boot time, link rate, faults), e.g. "boot=2500ms,rate=31250,stall=9".
    std::string scenario;
    // QLX_WINE_DEVICE=absent: the device is not plugged in at all; it is not even counted.
    bool deviceAbsent = false;
    // QLX_WINE_EXTRA_PORT: a plain, always-present port listed before the device (empty: none).
    std::string extraPort;
    // QLX_WINE_VERDICT: Windows path of the verdict file (empty: none is written).
    std::string verdictPath;
    // QLX_WINE_LOG: Windows path of a log of every request winmm made (empty: no log).
    std::string logPath;
};

DriverConfig ReadConfig();

}  // namespace wineqlx
