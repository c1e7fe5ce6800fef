// Per-poll and per-message costs of the port layer on the host stand-in: one port name on a
// system of 16 ports, and one 44-byte SysEx send over a link that is done at once.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "midi/device_list.h"
#include "midi/midi_output.h"
#include "midi/port_names.h"
#include "platform/host/sim.h"

namespace {

void SixteenPorts() {
    sim::Reset();
    static NullDeviceList emptyList;
    deviceList = &emptyList;
    for (int i = 0; i < 16; ++i) {
        sim::AddOutputPort("MIDIOUT" + std::to_string(i % 10) + " (" + std::to_string(i) + "- Quadrilux)");
    }
}

void BM_OutputPortName(benchmark::State& state) {
    SixteenPorts();
    const bool fullName = state.range(0) != 0;
    const bool withPortNumber = state.range(1) != 0;
    int index = 0;
    while (state.KeepRunning()) {
        benchmark::DoNotOptimize(OutputPortName(index, fullName, withPortNumber));
        index = (index + 1) % 16;
    }
}
BENCHMARK(BM_OutputPortName)->Args({0, 0})->Args({1, 1})->Args({1, 0});

// One pass of the controller's search: the count and every name with both options off.
void BM_SearchAllSixteenPorts(benchmark::State& state) {
    SixteenPorts();
    while (state.KeepRunning()) {
        int found = -1;
        for (int i = 0; i < OutputPortCount(); ++i) {
            if (OutputPortName(i).find("Quadrilux Pro") != std::string::npos) {
                found = i;
            }
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_SearchAllSixteenPorts);

void BM_SendSysEx44(benchmark::State& state) {
    SixteenPorts();
    MIDI::Output* port = OpenOutputPort(0);
    std::vector<std::uint8_t> message(44, 0x01);
    message.front() = 0xF0;
    message.back() = 0xF7;
    while (state.KeepRunning()) {
        if (!port->SendSysEx(message)) {
            state.SkipWithError("send failed");
            break;
        }
    }
    port->Release();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 44);
}
BENCHMARK(BM_SendSysEx44);

}  // namespace

BENCHMARK_MAIN();
