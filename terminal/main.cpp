// quadrilux-update: the updater in a terminal. The same WinMain as the Windows executable runs on
// the host stand-in; message boxes become prompts, the progress dialog a progress bar, and the
// MIDI ports are those of a virtual Quadrilux Pro.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/win_main.h"
#include "platform/host/sim.h"
#include "platform/win32.h"
#include "terminal/box_prompt.h"
#include "terminal/progress_view.h"
#include "terminal/virtual_device.h"

namespace {

const char kUsage[] =
    "Usage: quadrilux-update [options]\n"
    "\n"
    "Puts the firmware it carries on a Quadrilux Pro. Here the controller is a virtual one,\n"
    "attached from the start, on the real clock.\n"
    "\n"
    "Options:\n"
    "  --answer=LIST     answer the message boxes in order from LIST, a comma-separated list of\n"
    "                    ok, cancel, yes, no (for example --answer=yes,ok); when LIST runs out\n"
    "                    the boxes are asked at the terminal\n"
    "  --yes             answer every box with its first button (OK or Yes)\n"
    "  --scenario=LIST   how the virtual controller behaves: comma-separated settings\n"
    "                      name=TEXT        its port name (default \"Quadrilux Pro\")\n"
    "                      second=TEXT      a second output port of the device; secondfirst lists it first\n"
    "                      boot=TIME        restart time in update mode (default 2500ms)\n"
    "                      rate=N|instant   link rate in bytes per second (default 16000)\n"
    "                      never            never comes back after the switch to update mode\n"
    "                      busy=N           the first N opens fail (another program holds the port)\n"
    "                      busyupd=N        the first N opens in update mode fail\n"
    "                      stall=K          message K of the stream never finishes\n"
    "                      refuse=K         message K of the stream is refused\n"
    "                      vanish=K         the device disappears at message K\n"
    "                      refuseswitch     the switch to update mode is refused\n"
    "                    TIME takes ns, us, ms or s (a bare number is milliseconds)\n"
    "  --plug-in=TIME    the controller is connected TIME after the start instead of at once\n"
    "  --no-device       no controller at all\n"
    "  --trace=FILE|-    write the debugger trace lines to FILE, or with - to standard error\n"
    "  --virtual-clock   run on the stand-in's virtual clock: waits take no real time\n"
    "  --help            this text\n"
    "\n"
    "Standard output holds what the program writes there (each port name it examines).\n"
    "Exit code: 0 after a completed update, 255 (-1) otherwise.\n";

bool TakeValue(const std::string& arg, const std::string& option, std::string* value) {
    if (arg.rfind(option + "=", 0) != 0) {
        return false;
    }
    *value = arg.substr(option.size() + 1);
    return true;
}

int Usage(const std::string& problem) {
    std::cerr << "quadrilux-update: " << problem << "\n(see --help)\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    terminal::PromptOptions prompt;
    terminal::DeviceOptions device;
    std::string trace;
    bool virtualClock = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        std::string error;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (TakeValue(arg, "--answer", &value)) {
            std::optional<std::vector<std::string>> answers = terminal::ParseAnswers(value, &error);
            if (!answers) {
                return Usage("--answer: " + error);
            }
            prompt.answers = *answers;
        } else if (arg == "--yes") {
            prompt.acceptAll = true;
        } else if (TakeValue(arg, "--scenario", &value)) {
            device.scenario += "," + value;
        } else if (TakeValue(arg, "--plug-in", &value)) {
            if (!terminal::ParseDelay(value, &device.plugInNs)) {
                return Usage("--plug-in: '" + value + "' is not a time");
            }
        } else if (arg == "--no-device") {
            device.attached = false;
        } else if (TakeValue(arg, "--trace", &value)) {
            trace = value;
        } else if (arg == "--virtual-clock") {
            virtualClock = true;
        } else {
            return Usage("unknown option '" + arg + "'");
        }
    }

    sim::Reset(!virtualClock);

    std::shared_ptr<std::ostream> traceFile;
    if (trace == "-") {
        sim::SetDebugSink([](const std::string& line) {
            std::cerr << line << (line.empty() || line.back() != '\n' ? "\n" : "") << std::flush;
        });
    } else if (!trace.empty()) {
        traceFile = std::make_shared<std::ofstream>(trace);
        if (!*traceFile) {
            return Usage("--trace: cannot write " + trace);
        }
        sim::SetDebugSink([traceFile](const std::string& line) {
            *traceFile << line << (line.empty() || line.back() != '\n' ? "\n" : "") << std::flush;
        });
    }

    std::string error;
    if (!terminal::AttachVirtualDevice(device, &error)) {
        return Usage("--scenario: " + error);
    }
    int exitCode = 0;
    {
        terminal::ProgressView progress;
        prompt.beforeBox = [&progress] { progress.Settle(); };
        terminal::InstallBoxPrompt(prompt);
        exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, argv[0], SW_SHOWNORMAL);
        sim::SetMessageBoxHandler(nullptr);
    }
    std::cout.flush();
    std::cerr << "\nquadrilux-update: exit code " << exitCode << "\n";
    terminal::ReportVirtualDevice();
    sim::SetDebugSink(nullptr);
    // The shell shows -1 as 255, as it does for the Windows program.
    return exitCode;
}
