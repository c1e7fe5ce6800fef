// Plugs the virtual Quadrilux Pro into the host stand-in's simulated WinMM: its ports appear,
// vanish and come back at the model's instants on the stand-in's clock (virtual in tests, real in
// the terminal program), and the traffic the product sends through WinMM reaches the model.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/model/scenario.h"
#include "sim/model/virtual_quadrilux.h"

namespace simhost {

class VirtualDevice : public std::enable_shared_from_this<VirtualDevice> {
public:
    using Role = model::VirtualQuadrilux::PortRole;

    // What the device saw, with the stand-in's time of each.
    struct Event {
        enum class Kind { PortAdded, PortRemoved, Open, Close, Begin, Done, Aborted };
        std::uint64_t atNs = 0;
        Kind kind = Kind::Open;
        Role role = Role::Main;
        unsigned incarnation = 0;
        int portId = 0;          // the simulated WinMM port's id
        unsigned result = 0;     // Open, Begin: the WinMM result code
        std::size_t length = 0;  // Begin, Done: message length
    };

    // Connects a device configured by `scenario`; its ports are on the bus at once. The device lives
    // while the caller or any of its ports or pending timers hold it, until sim::Reset.
    static std::shared_ptr<VirtualDevice> Plug(const model::Scenario& scenario);
    // Scenario text from an environment variable (for example QLX_DEVICE="busy=1,rate=instant");
    // the default scenario when it is not set. nullopt, with the reason in *error, when unreadable.
    static std::optional<model::Scenario> ScenarioFromEnvironment(const char* variable, std::string* error);

    model::VirtualQuadrilux::Report Report();
    std::vector<Event> Events();
    // Ids of its simulated ports now on the bus, in listing order.
    std::vector<int> PortIds();
    // Pulls the device out: its ports go at once and it never comes back.
    void Unplug();

    // Internal: the far end of one of its ports.
    class PortEnd;

    explicit VirtualDevice(const model::Scenario& scenario);

private:
    friend class PortEnd;
    std::uint64_t Now();
    void Record(Event event);
    // Brings the simulated ports in line with the model and arranges the next change.
    void Sync();
    void SyncSoon();

    std::mutex mutex_;      // the model and the records
    std::mutex syncMutex_;  // one Sync at a time; taken before the stand-in's lock, never after
    model::VirtualQuadrilux model_;
    struct Live {
        Role role;
        unsigned incarnation;
        int portId;
    };
    std::vector<Live> live_;
    std::vector<Event> events_;
    std::optional<std::uint64_t> scheduledAt_;
    bool unplugged_ = false;
};

}  // namespace simhost
