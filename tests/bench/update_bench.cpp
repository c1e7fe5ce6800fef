// Figures of a whole update against the virtual Quadrilux Pro (they never fail):
//   worker CPU time per stream message over an instant link;
//   stream efficiency (link transfer time / stream duration, virtual clock) at 3,125 and 1,000,000 B/s;
//   how long the worker goes on after the final message has finished (virtual clock);
//   peak heap during an update.
// Run: build/host/tests/update_bench
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <string>

#include "midi/device_list.h"
#include "midi/device_notify.h"
#include "midi/output.h"
#include "platform/host/sim.h"
#include "platform/win32.h"
#include "sim/host/virtual_device.h"
#include "sim/model/scenario.h"
#include "update/firmware_image.h"
#include "update/progress.h"
#include "update/update_worker.h"

// ---- Heap accounting: every operator new of the process, live bytes and their peak ----------------

namespace {

std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};
constexpr std::size_t kPrefix = alignof(std::max_align_t);

void* Allocate(std::size_t size) {
    void* block = std::malloc(size + kPrefix);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    std::int64_t live =
        liveBytes.fetch_add(static_cast<std::int64_t>(size)) + static_cast<std::int64_t>(size);
    std::int64_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(block) + kPrefix;
}

void Free(void* pointer) {
    if (pointer == nullptr) {
        return;
    }
    void* block = static_cast<char*>(pointer) - kPrefix;
    liveBytes.fetch_sub(static_cast<std::int64_t>(*static_cast<std::size_t*>(block)));
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* pointer) noexcept { Free(pointer); }
void operator delete[](void* pointer) noexcept { Free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Free(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Free(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { Free(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { Free(pointer); }

namespace {

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Measured {
    UpdateThreadArgs args{};
    double workerCpuSeconds = 0;
    std::uint64_t endedNs = 0;  // on the stand-in's clock
};

DWORD WINAPI MeasuredWorker(LPVOID parameter) {
    auto* measured = static_cast<Measured*>(parameter);
    double start = ThreadCpuSeconds();
    DWORD result = UpdateThreadProc(&measured->args);
    measured->workerCpuSeconds = ThreadCpuSeconds() - start;
    measured->endedNs = sim::NowNs();
    return result;
}

// A port of the device list that takes every message at once and keeps nothing, so that the heap
// figure holds no record of the traffic: only what the update itself needs.
class SilentOutput : public MIDI::Output {
public:
    void ReservedA() override {}
    bool SendSysEx(std::span<const std::uint8_t> message) override {
        ++messages;
        bytes += message.size();
        return true;
    }
    bool SendShort(const MIDI::ShortMessage&) override { return true; }
    std::uint32_t NameHash() override { return 0; }
    std::uint32_t NameHashNoPort() override { return 0; }
    bool IsPresent() override { return true; }
    void ReservedB() override {}
    MIDI::Completion WaitForCompletion(std::uint32_t) override { return MIDI::Completion::Finished; }
    static inline std::size_t messages = 0;
    static inline std::size_t bytes = 0;
};

class SilentList : public QuenwickDeviceList {
public:
    std::string FullPortName(std::int32_t) override { return "Quadrilux Pro"; }
    std::int32_t PortCount() override { return 1; }
    std::string PortName(std::int32_t) override { return "Quadrilux Pro"; }
    MIDI::Output* CreateOutput(std::int32_t) override { return new SilentOutput(); }
    std::uintptr_t ReservedOperation(std::int32_t) override { return 0; }
};

struct Run {
    std::int32_t status = 1;
    double workerCpuSeconds = 0;
    double wallSeconds = 0;
    std::uint64_t workerEndedNs = 0;
    std::shared_ptr<simhost::VirtualDevice> device;
    std::int64_t heapBefore = 0;  // before the image is loaded
    std::int64_t heapPeak = 0;
    std::int64_t heapAfter = 0;  // once the worker has ended
    std::uint32_t imageSize = 0;
};

// One whole update, set up as the application does, on the virtual clock.
// With no scenario, the only port is a silent port of the device list.
Run RunUpdate(const char* scenarioText) {
    Run run;
    sim::Reset();
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof(WNDCLASSEXA);
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = "UpdateBenchMain";
    RegisterClassExA(&cls);
    HWND mainWindow =
        CreateWindowExA(0, "UpdateBenchMain", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (scenarioText != nullptr) {
        run.device = simhost::VirtualDevice::Plug(model::ParseScenario(scenarioText).value());
    }

    run.heapBefore = liveBytes.load();
    peakBytes.store(run.heapBefore);
    auto* image = new FirmwareImage();
    image->Load();
    run.imageSize = image->Size();
    AddDeviceChangeListener(nullptr);
    deviceList = scenarioText != nullptr ? static_cast<QuenwickDeviceList*>(new NullDeviceList())
                                         : static_cast<QuenwickDeviceList*>(new SilentList());
    Progress progress(GetModuleHandleA(nullptr));
    Measured measured;
    measured.args = UpdateThreadArgs{image, &progress, nullptr, -1, mainWindow};

    timespec wallStart{};
    clock_gettime(CLOCK_MONOTONIC, &wallStart);
    HANDLE thread = CreateThread(nullptr, 0, MeasuredWorker, &measured, 0, nullptr);
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (msg.message == WM_UPDATE_RESULT) {
            break;
        }
        DispatchMessageA(&msg);
    }
    sim::JoinThread(thread);
    timespec wallEnd{};
    clock_gettime(CLOCK_MONOTONIC, &wallEnd);
    CloseHandle(thread);
    run.heapPeak = peakBytes.load();
    run.heapAfter = liveBytes.load();
    run.status = measured.args.status;
    run.workerCpuSeconds = measured.workerCpuSeconds;
    run.workerEndedNs = measured.endedNs;
    run.wallSeconds = static_cast<double>(wallEnd.tv_sec - wallStart.tv_sec) +
                      static_cast<double>(wallEnd.tv_nsec - wallStart.tv_nsec) * 1e-9;
    delete image;
    return run;
}

constexpr double kStreamMessages = 2758;

// Virtual milliseconds from the moment the device finished the final message until the worker
// ended: what a healthy update spends after its last message is safely delivered.
double WorkerTailMs(Run& run) {
    std::uint64_t lastDone = 0;
    for (const auto& e : run.device->Events()) {
        if (e.kind == simhost::VirtualDevice::Event::Kind::Done) {
            lastDone = e.atNs;
        }
    }
    return static_cast<double>(run.workerEndedNs - lastDone) * 1e-6;
}

void WorkerCpuPerMessage(benchmark::State& state) {
    double cpu = 0;
    double wall = 0;
    double tailMs = 0;
    std::int64_t runs = 0;
    std::string verdict;
    for (auto _ : state) {
        Run run = RunUpdate("rate=instant");
        cpu += run.workerCpuSeconds;
        wall += run.wallSeconds;
        tailMs = WorkerTailMs(run);
        ++runs;
        verdict = run.device->Report().verdict;
    }
    state.counters["worker_end_after_last_done_ms"] = tailMs;
    state.counters["worker_cpu_us_per_msg"] = cpu / static_cast<double>(runs) / kStreamMessages * 1e6;
    state.counters["wall_us_per_msg"] = wall / static_cast<double>(runs) / kStreamMessages * 1e6;
    state.SetLabel(verdict);
}
BENCHMARK(WorkerCpuPerMessage)->Iterations(5)->Unit(benchmark::kMillisecond);

void StreamEfficiency(benchmark::State& state) {
    std::string scenario = "rate=" + std::to_string(state.range(0));
    double efficiency = 0;
    double streamSeconds = 0;
    double tailMs = 0;
    std::string verdict;
    for (auto _ : state) {
        Run run = RunUpdate(scenario.c_str());
        tailMs = WorkerTailMs(run);
        using Kind = simhost::VirtualDevice::Event::Kind;
        // The stream: every message on the device's port after it came back in update mode.
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        std::uint64_t begun = 0;
        std::uint64_t busy = 0;
        bool started = false;
        for (const auto& e : run.device->Events()) {
            if (e.incarnation < 2 || e.role != simhost::VirtualDevice::Role::Main) {
                continue;
            }
            if (e.kind == Kind::Begin && e.result == MMSYSERR_NOERROR) {
                first = started ? first : e.atNs;
                started = true;
                begun = e.atNs;
            } else if ((e.kind == Kind::Done || e.kind == Kind::Aborted) && started) {
                busy += e.atNs - begun;
                last = e.atNs;
            }
        }
        efficiency = last > first ? static_cast<double>(busy) / static_cast<double>(last - first) : 0;
        streamSeconds = static_cast<double>(last - first) * 1e-9;
        verdict = run.device->Report().verdict;
    }
    state.counters["efficiency"] = efficiency;
    state.counters["stream_s_virtual"] = streamSeconds;
    state.counters["worker_end_after_last_done_ms"] = tailMs;
    state.SetLabel(verdict);
}
BENCHMARK(StreamEfficiency)->Arg(3125)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);

void PeakHeap(benchmark::State& state) {
    Run run;
    for (auto _ : state) {
        SilentOutput::messages = 0;
        SilentOutput::bytes = 0;
        run = RunUpdate(nullptr);
    }
    // Measured from before the image is loaded until the worker has ended, over a port that keeps
    // no record of the traffic. The image stays (the process ends with it).
    state.counters["image_bytes"] = run.imageSize;
    state.counters["peak_over_start"] = static_cast<double>(run.heapPeak - run.heapBefore);
    state.counters["peak_over_image"] = static_cast<double>(run.heapPeak - run.heapBefore - run.imageSize);
    state.counters["held_at_end"] = static_cast<double>(run.heapAfter - run.heapBefore);
    state.counters["messages"] = static_cast<double>(SilentOutput::messages);
    state.SetLabel(run.status == 0 ? "status 0" : "status -1");
}
BENCHMARK(PeakHeap)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
