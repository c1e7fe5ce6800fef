// The fault sweep: the whole program once per single fault, each platform call on the road of an
// update failing in turn and each fault of the virtual controller, checking every time that the
// program says "completed" only when the controller holds the whole image, and otherwise fails
// the way the user can see, ends in time and leaves nothing open. Prints a table of what it tried.
// Run: build/host/tests/app_tests --gtest_filter='*FaultSweep*'
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/win_main.h"
#include "midi/device_list.h"
#include "midi/device_notify.h"
#include "platform/host/sim.h"
#include "platform/win32.h"
#include "sim/host/virtual_device.h"
#include "sim/model/scenario.h"
#include "sim/model/virtual_quadrilux.h"
#include "tests/device/support.h"

namespace {

const char kConsentStart[] = "This updater will update your Quadrilux Pro firmware";
const char kCompleted[] = "Quadrilux Pro firmware update completed.";
const char kFailedStart[] = "An error occurred updating the Quadrilux Pro firmware.";

// Every platform call on the road of an update, with an error that function really gives on
// Windows. A function the program calls that is missing here fails the sweep.
struct Faultable {
    const char* function;
    DWORD error;
};
const Faultable kFaultable[] = {
    // resources: the strings, icons, cursor and accelerators of WinMain, the firmware image
    {"LoadStringA", 1814},  // ERROR_RESOURCE_NAME_NOT_FOUND
    {"LoadIconA", 1814},
    {"LoadCursorA", 1814},
    {"LoadAcceleratorsA", 1814},
    {"FindResourceA", 1814},
    {"LoadResource", 1812},  // ERROR_RESOURCE_DATA_NOT_FOUND
    {"SizeofResource", 1812},
    {"LockResource", 1812},
    // kernel
    {"CreateEventA", 1450},      // ERROR_NO_SYSTEM_RESOURCES
    {"WaitForSingleObject", 6},  // ERROR_INVALID_HANDLE
    {"CreateThread", 8},         // ERROR_NOT_ENOUGH_MEMORY
    // windows, dialogs, boxes, notifications, and the messages between the two threads
    {"CreateWindowExA", 8},
    {"CreateDialogParamA", 1814},
    {"RegisterDeviceNotificationA", 13},  // ERROR_INVALID_DATA
    {"MessageBoxA", 8},
    {"SendMessageA", 1400},  // ERROR_INVALID_WINDOW_HANDLE
    {"SendDlgItemMessageA", 1400},
    {"PostMessageA", 1816},  // ERROR_NOT_ENOUGH_QUOTA: the queue is full
    // MIDI ports (a count that fails reads as none)
    {"midiOutGetNumDevs", 0},
    {"midiOutGetDevCapsA", 6},  // MMSYSERR_NODRIVER
    {"midiInGetNumDevs", 0},
    {"midiInGetDevCapsA", 6},
    {"midiOutOpen", 7},  // MMSYSERR_NOMEM
    {"midiOutPrepareHeader", 7},
    {"midiOutUnprepareHeader", 65},  // MIDIERR_STILLPLAYING
    {"midiOutLongMsg", 67},          // MIDIERR_NOTREADY
    {"midiOutReset", 5},             // MMSYSERR_INVALHANDLE
    {"midiOutClose", 7},
    // the DLL search, restricted first thing (a failure leaves the old search; the update goes on)
    {"SetDefaultDllDirectories", 87},  // ERROR_INVALID_PARAMETER
    // the driver library
    {"RegOpenKeyExA", 5},  // ERROR_ACCESS_DENIED
    {"RegQueryValueExA", 5},
    {"LoadLibraryExA", 126},  // ERROR_MOD_NOT_FOUND
    {"GetProcAddress", 127},  // ERROR_PROC_NOT_FOUND
};

// Calls made fewer times than this are each failed in turn; of the others a sample.
constexpr int kEveryCallBelow = 50;
// The longest the design waits: 5 s after the header and 300 passes of 1 s, then the final
// message's wait.
constexpr std::uint64_t kLongestRunMs = 305'000 + 1'000;
constexpr std::uint64_t kWatchdogMs = kLongestRunMs + 60'000;
constexpr int kHangExitCode = 0x4841;
// The image's stream: messages 0 (the header again) to 2757.
constexpr int kStreamMessages = 2758;

// The first, second, tenth, middle, second-to-last and last of `count` (numbered from 1).
std::vector<int> Sample(int count) {
    std::set<int> picks{1, 2, 10, count / 2, count - 1, count};
    std::vector<int> result;
    for (int pick : picks) {
        if (pick >= 1 && pick <= count) {
            result.push_back(pick);
        }
    }
    return result;
}

std::vector<int> Occurrences(int count) {
    if (count >= kEveryCallBelow) {
        return Sample(count);
    }
    std::vector<int> all;
    for (int i = 1; i <= count; ++i) {
        all.push_back(i);
    }
    return all;
}

enum class Outcome { CompletedIntact, FailedWithBox, FailedSilently, Broken };

struct SweepRun {
    std::string what;
    int exitCode = 0;
    std::string verdict;
    bool intact = false;
    std::vector<sim::MessageBoxRecord> boxes;
    std::uint64_t endedMs = 0;
    std::map<std::string, int> calls;
    std::vector<std::string> broken;  // every promise this run broke
    Outcome outcome = Outcome::Broken;
};

bool StartsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

// One whole program: the controller plugged in from the start, behind another device's port,
// every box answered with its first button.
SweepRun RunProgram(const std::string& what, const std::string& scenario,
                    const std::optional<sim::Fault>& fault) {
    devtest::Shlk& library = devtest::Shlk::Main();  // loaded once, before any run counts calls
    SweepRun run;
    run.what = what;
    sim::Reset();
    // The maker's driver library is installed; it offers a device of another product, so the
    // update itself goes over the MIDI ports.
    library.reset();
    library.set("devices", "5:io");
    devtest::InstallLibrary(QLX_SHLK_SIM_PATH);
    sim::AddOutputPort("Soravel MIDI 1");
    sim::AddInputPort("Soravel MIDI 1");
    sim::AddInputPort("Soravel MIDI 2");
    std::shared_ptr<simhost::VirtualDevice> device =
        simhost::VirtualDevice::Plug(model::ParseScenario("rate=instant," + scenario).value());
    if (fault) {
        sim::InjectFault(*fault);
    }
    sim::SetMessageBoxHandler([](const sim::MessageBoxRecord& box) -> std::optional<int> {
        return sim::ButtonsOf(box.type).front().answer;
    });
    // A program still waiting long after the design would have given up is ended from outside.
    sim::At(kWatchdogMs * 1'000'000, [] {
        if (std::optional<sim::WindowInfo> main = sim::FindWindowByClass("RAZERUZERERAD")) {
            sim::Post(main->handle, WM_QUIT, kHangExitCode, 0);
        }
    });

    {
        sim::StdoutCapture portNames;  // the port names the presence check prints
        run.exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    }
    run.endedMs = sim::NowMs();
    const bool threadsEnded = sim::WaitForThreads(10'000'000'000ULL);
    run.calls = sim::PlatformCalls();
    run.boxes = sim::MessageBoxes();
    model::VirtualQuadrilux::Report report = device->Report();
    run.verdict = report.verdict;
    run.intact = report.complete && report.verdict == model::kIntact;

    auto breaks = [&run](bool broken, const std::string& promise) {
        if (broken) {
            run.broken.push_back(promise);
        }
    };
    if (fault) {
        std::vector<sim::Fault> hit = sim::FaultsHit();
        breaks(hit.size() != 1, "the fault never hit its call: the road differs from the counted one");
    }
    const bool consented = std::any_of(run.boxes.begin(), run.boxes.end(), [](const auto& box) {
        return StartsWith(box.text, kConsentStart) && box.answer == IDYES;
    });
    const sim::MessageBoxRecord* last = run.boxes.empty() ? nullptr : &run.boxes.back();
    const bool lastCompleted = last != nullptr && last->text == kCompleted;
    const bool lastFailed = last != nullptr && StartsWith(last->text, kFailedStart);
    breaks(run.exitCode == kHangExitCode || !threadsEnded, "hangs");
    breaks(run.endedMs > kLongestRunMs, "ends after the longest wait of the design");
    breaks(run.exitCode != 0 && run.exitCode != -1, "exit code other than 0 and -1");
    breaks(run.exitCode == 0 && !run.intact, "exit 0 without the image intact on the controller");
    breaks(run.exitCode == 0 && !lastCompleted, "exit 0 without the completed box last");
    breaks(consented && run.exitCode == -1 && !lastFailed, "failed update without the error box last");
    breaks(!consented && (lastCompleted || lastFailed), "a result box without an update");
    breaks(sim::OpenMidiHandleCount() != 0, "a MIDI port left open");
    breaks(sim::OpenHandleCount() != 0, "a kernel handle left open");
    breaks(sim::OpenRegistryKeyCount() != 0, "a registry key left open");
    breaks(consented && deviceList != nullptr, "the device list not destroyed");
    breaks(consented && !sim::DeviceNotifications().empty(), "the notification registration not removed");

    if (!run.broken.empty()) {
        run.outcome = Outcome::Broken;
    } else if (run.exitCode == 0) {
        run.outcome = Outcome::CompletedIntact;
    } else {
        run.outcome = consented ? Outcome::FailedWithBox : Outcome::FailedSilently;
    }

    // What a process that gave up early keeps until it ends, put away before the next run.
    sim::SetMessageBoxHandler(nullptr);
    delete deviceList;
    deviceList = nullptr;
    RemoveDeviceChangeListener(nullptr);
    return run;
}

struct Tally {
    int faults = 0;
    int byOutcome[4] = {};
    void Add(const SweepRun& run) {
        ++faults;
        ++byOutcome[static_cast<int>(run.outcome)];
    }
};

void PrintRow(const std::string& name, int calls, const Tally& t) {
    std::printf("  %-28s %6s %6d %9d %10d %7d %6d\n", name.c_str(),
                calls < 0 ? "" : std::to_string(calls).c_str(), t.faults, t.byOutcome[0], t.byOutcome[1],
                t.byOutcome[2], t.byOutcome[3]);
}

void ReportBroken(const SweepRun& run) {
    std::string promises;
    for (const std::string& promise : run.broken) {
        promises += "\n    " + promise;
    }
    ADD_FAILURE() << run.what << ": exit " << run.exitCode << ", " << run.boxes.size()
                  << " box(es), ended at " << run.endedMs << " ms, controller: " << run.verdict << promises;
}

// One run of the sweep: a single platform fault, or a scenario of the controller.
struct Trial {
    std::string row;  // the table's row it counts in
    std::string what;
    std::string scenario;
    std::optional<sim::Fault> fault;
};

std::vector<Trial> Trials(const std::map<std::string, int>& calls) {
    std::vector<Trial> trials;
    for (const Faultable& f : kFaultable) {
        auto counted = calls.find(f.function);
        if (counted == calls.end()) {
            continue;  // not on the road of this update
        }
        for (int occurrence : Occurrences(counted->second)) {
            trials.push_back({f.function,
                              std::string(f.function) + " #" + std::to_string(occurrence) + " fails", "",
                              sim::Fault{f.function, occurrence, sim::FaultKind::Fails, f.error}});
        }
        if (std::string(f.function) == "midiOutLongMsg") {
            for (int occurrence : Occurrences(counted->second)) {
                trials.push_back({f.function,
                                  "long message #" + std::to_string(occurrence) + " never finishes", "",
                                  sim::Fault{f.function, occurrence, sim::FaultKind::NeverFinishes, 0}});
            }
        }
    }
    // The controller's own faults, at the same positions of the stream, of the polling passes and
    // of the opens.
    std::vector<std::string> scenarios = {"refuseswitch", "never"};
    for (int position : Sample(kStreamMessages)) {
        for (const char* fault : {"stall", "refuse", "vanish"}) {
            scenarios.push_back(std::string(fault) + "=" + std::to_string(position - 1));
        }
    }
    for (int count : {1, 2, 10}) {
        scenarios.push_back("busy=" + std::to_string(count));
    }
    for (int count : Sample(300)) {
        scenarios.push_back("busyupd=" + std::to_string(count));
    }
    for (const std::string& scenario : scenarios) {
        trials.push_back({"controller faults", scenario, scenario, std::nullopt});
    }
    return trials;
}

// The sweep runs in shards, one process each, so that a parallel test run spreads it over the
// machine's cores; each prints its share of the table.
constexpr int kShards = 2;

class FaultSweep : public ::testing::TestWithParam<int> {};

TEST_P(FaultSweep, EverySingleFaultEndsCompletedWithTheImageIntactOrFailedAsTheUserCanSee) {
    const int shard = GetParam();
    const auto started = std::chrono::steady_clock::now();

    // The road of a healthy update, counted.
    SweepRun healthy = RunProgram("no fault", "", std::nullopt);
    ASSERT_EQ(healthy.outcome, Outcome::CompletedIntact) << healthy.verdict;
    std::map<std::string, DWORD> errors;
    for (const Faultable& f : kFaultable) {
        errors[f.function] = f.error;
    }
    for (const auto& [function, count] : healthy.calls) {
        EXPECT_TRUE(errors.contains(function)) << function << " is on the road but has no fault to inject";
    }

    std::vector<Trial> trials = Trials(healthy.calls);
    std::map<std::string, Tally> rows;
    Tally all;
    for (std::size_t i = static_cast<std::size_t>(shard); i < trials.size(); i += kShards) {
        const Trial& trial = trials[i];
        SweepRun run = RunProgram(trial.what, trial.scenario, trial.fault);
        if (run.outcome == Outcome::Broken) {
            ReportBroken(run);
        }
        rows[trial.row].Add(run);
        all.Add(run);
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "\nFault sweep, shard %d of %d: %zu platform functions on the road of an update, %zu faults "
        "in all, one per run\n",
        shard + 1, kShards, healthy.calls.size(), trials.size());
    std::printf("  %-28s %6s %6s %9s %10s %7s %6s\n", "function", "calls", "faults", "completed",
                "failed+box", "silent", "broken");
    for (const Faultable& f : kFaultable) {
        auto counted = healthy.calls.find(f.function);
        if (counted != healthy.calls.end()) {
            PrintRow(f.function, counted->second, rows[f.function]);
        }
    }
    PrintRow("controller faults", -1, rows["controller faults"]);
    PrintRow("this shard", -1, all);
    std::printf(
        "  %d runs (with the counted healthy one) in %.1f s; completed = exit 0 with the image intact,\n"
        "  failed+box = exit -1 after the error box, silent = exit -1 before consent without a box;\n"
        "  broken promises: %d\n\n",
        all.faults + 1, seconds, all.byOutcome[3]);
    EXPECT_EQ(all.byOutcome[3], 0);
}

INSTANTIATE_TEST_SUITE_P(Shard, FaultSweep, ::testing::Range(0, kShards),
                         [](const ::testing::TestParamInfo<int>& shardInfo) {
                             return std::to_string(shardInfo.param + 1) + "of" + std::to_string(kShards);
                         });

}  // namespace
