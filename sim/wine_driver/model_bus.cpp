// The bus as the virtual Quadrilux Pro sees it: an optional plain port first, then the device's
// own ports, which come and go as the model says.
//
// winmm counts the ports once per process, so every port the device can ever show has a slot from
// the start; while the device is off the bus its slots stay counted and answer as gone.
#include <cstdio>
#include <utility>

#include "sim/model/scenario.h"
#include "sim/model/virtual_quadrilux.h"
#include "sim/wine_driver/bus.h"
#include "sim/wine_driver/config.h"

namespace wineqlx {
namespace {

constexpr unsigned kBadDeviceId = 2;  // MMSYSERR_BADDEVICEID
constexpr unsigned kAllocated = 4;    // MMSYSERR_ALLOCATED
constexpr unsigned kRefused = 1;      // MMSYSERR_ERROR

using Quadrilux = model::VirtualQuadrilux;

class ModelBus final : public Bus {
public:
    ModelBus(const DriverConfig& config, model::Scenario scenario, std::string problem)
        : extraPort_(config.extraPort),
          deviceSlots_(config.deviceAbsent || !problem.empty() ? 0
                       : scenario.secondPortName.empty()       ? 1
                                                               : 2),
          device_(std::move(scenario)),
          problem_(std::move(problem)) {}

    int SlotCount() const override {
        const int count = First() + deviceSlots_;
        return count > 0 ? count : 1;  // winmm drops a driver that has no port at all
    }

    std::optional<std::string> SlotName(int slot, std::uint64_t nowNs) override {
        if (slot < First()) {
            return extraPort_;
        }
        auto port = DevicePort(slot, nowNs);
        if (!port) {
            return std::nullopt;
        }
        return port->name;
    }

    unsigned Open(int slot, std::uint64_t nowNs) override {
        if (slot < First()) {
            return 0;
        }
        auto port = DevicePort(slot, nowNs);
        if (!port) {
            return kBadDeviceId;
        }
        switch (device_.Open(port->role, port->incarnation, nowNs)) {
            case Quadrilux::OpenResult::Ok:
                roles_[slot - First()] = port->role;
                return 0;
            case Quadrilux::OpenResult::Busy:
                return kAllocated;
            case Quadrilux::OpenResult::Gone:
                break;
        }
        return kBadDeviceId;
    }

    void Close(int slot, std::uint64_t nowNs) override {
        if (slot >= First()) {
            device_.Close(roles_[slot - First()], nowNs);
        }
    }

    LongPlan BeginLong(int slot, std::size_t length, std::uint64_t nowNs) override {
        if (slot < First()) {
            return {};
        }
        const Quadrilux::Transfer transfer = device_.BeginMessage(roles_[slot - First()], length, nowNs);
        if (!transfer.accepted) {
            return {kRefused, 0};
        }
        return {0, transfer.durationNs};
    }

    void LongDone(int slot, std::span<const std::uint8_t> bytes, std::uint64_t nowNs) override {
        if (slot >= First()) {
            device_.MessageDone(roles_[slot - First()], bytes, nowNs);
        }
    }

    void ShortMessage(int, std::uint32_t, std::uint64_t) override {}

    void Reset(int slot, std::size_t aborted, std::uint64_t nowNs) override {
        if (slot < First()) {
            return;
        }
        for (std::size_t i = 0; i < aborted; ++i) {
            device_.MessageAborted(roles_[slot - First()], nowNs);
        }
    }

    std::string Report(std::uint64_t nowNs) override {
        if (!problem_.empty()) {
            return "verdict: bad scenario: " + problem_ + "\n";
        }
        device_.Ports(nowNs);  // let a reboot that has run out show in the mode
        const Quadrilux::Report r = device_.GetReport();
        char counts[512];
        std::snprintf(counts, sizeof(counts),
                      "mode: %s\nheaders: %d\nswitches: %d\nopens: %d\nbusy refusals: %d\n"
                      "stream messages: %zu\nstream bytes: %zu\naborted messages: %d\n"
                      "second port messages: %d\ncomplete: %s\n",
                      model::ModeName(r.mode), r.headersReceived, r.switches, r.opens, r.busyRefusals,
                      r.streamMessages, r.streamBytes, r.abortedMessages, r.secondPortMessages,
                      r.complete ? "yes" : "no");
        return "verdict: " + r.verdict + "\n" + counts;
    }

private:
    int First() const { return extraPort_.empty() ? 0 : 1; }

    std::optional<Quadrilux::Port> DevicePort(int slot, std::uint64_t nowNs) {
        const auto index = static_cast<std::size_t>(slot - First());
        if (slot < First() || slot >= First() + deviceSlots_) {
            return std::nullopt;
        }
        std::vector<Quadrilux::Port> ports = device_.Ports(nowNs);
        if (index >= ports.size()) {
            return std::nullopt;
        }
        return ports[index];
    }

    std::string extraPort_;
    int deviceSlots_;
    Quadrilux device_;
    Quadrilux::PortRole roles_[2] = {Quadrilux::PortRole::Main, Quadrilux::PortRole::Main};
    std::string problem_;
};

}  // namespace

std::unique_ptr<Bus> MakeBus(const DriverConfig& config) {
    std::string problem;
    std::optional<model::Scenario> scenario = model::ParseScenario(config.scenario, &problem);
    if (!scenario) {
        return std::make_unique<ModelBus>(config, model::Scenario{},
                                          problem.empty() ? "unreadable" : problem);
    }
    return std::make_unique<ModelBus>(config, *scenario, std::string());
}

}  // namespace wineqlx
