#include "terminal/virtual_device.h"

#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/host/sim.h"
#include "sim/host/virtual_device.h"
#include "sim/model/scenario.h"

namespace terminal {
namespace {

struct Attached {
    std::mutex mutex;
    std::shared_ptr<simhost::VirtualDevice> device;
    bool wanted = false;
};

Attached& A() {
    static auto* attached = new Attached();  // never destroyed: the stand-in's timers may outlive main
    return *attached;
}

}  // namespace

bool ParseDelay(const std::string& text, std::uint64_t* ns) {
    std::optional<model::Scenario> parsed = model::ParseScenario("boot=" + text);
    if (!parsed || text.empty()) {
        return false;
    }
    *ns = parsed->bootNs;
    return true;
}

bool AttachVirtualDevice(const DeviceOptions& options, std::string* error) {
    std::optional<model::Scenario> scenario = model::ParseScenario(options.scenario, error);
    if (!scenario) {
        return false;
    }
    if (!options.attached) {
        return true;
    }
    A().wanted = true;
    auto plug = [scenario = *scenario] {
        std::shared_ptr<simhost::VirtualDevice> device = simhost::VirtualDevice::Plug(scenario);
        std::lock_guard<std::mutex> lock(A().mutex);
        A().device = device;
    };
    if (options.plugInNs == 0) {
        plug();
    } else {
        sim::After(options.plugInNs, plug);
    }
    return true;
}

void ReportVirtualDevice() {
    std::shared_ptr<simhost::VirtualDevice> device;
    {
        std::lock_guard<std::mutex> lock(A().mutex);
        device = A().device;
    }
    if (!device) {
        if (A().wanted) {
            std::cerr << "virtual Quadrilux Pro: never connected\n";
        }
        return;
    }
    model::VirtualQuadrilux::Report report = device->Report();
    std::cerr << "virtual Quadrilux Pro: " << model::ModeName(report.mode) << " mode, "
              << report.headersReceived << " header(s), " << report.streamMessages << " messages ("
              << report.streamBytes << " bytes) in update mode: " << report.verdict << "\n";
}

}  // namespace terminal
