#include "sim/host/virtual_device.h"

#include <cstdlib>
#include <utility>

#include "platform/host/sim.h"
#include "platform/host/sim/winmm.h"

namespace simhost {

using Model = model::VirtualQuadrilux;

class VirtualDevice::PortEnd : public sim::OutputPortDevice {
public:
    PortEnd(std::shared_ptr<VirtualDevice> device, Role role, unsigned incarnation)
        : device_(std::move(device)), role_(role), incarnation_(incarnation) {}

    int portId = 0;

    MMRESULT Open() override {
        std::uint64_t now = device_->Now();
        MMRESULT result = MMSYSERR_NOERROR;
        {
            std::lock_guard lock(device_->mutex_);
            switch (device_->model_.Open(role_, incarnation_, now)) {
                case Model::OpenResult::Ok:
                    break;
                case Model::OpenResult::Busy:
                    result = MMSYSERR_ALLOCATED;
                    break;
                case Model::OpenResult::Gone:
                    result = MMSYSERR_NODRIVER;
                    break;
            }
        }
        Record(Event::Kind::Open, now, result, 0);
        return result;
    }

    void Close() override {
        std::uint64_t now = device_->Now();
        {
            std::lock_guard lock(device_->mutex_);
            device_->model_.Close(role_, now);
        }
        Record(Event::Kind::Close, now, 0, 0);
    }

    LongMessagePlan BeginLongMessage(std::size_t length) override {
        std::uint64_t now = device_->Now();
        Model::Transfer transfer;
        Model::Mode before{};
        Model::Mode after{};
        {
            std::lock_guard lock(device_->mutex_);
            before = device_->model_.CurrentMode();
            transfer = device_->model_.BeginMessage(role_, length, now);
            after = device_->model_.CurrentMode();
            pending_ = transfer.accepted;
        }
        LongMessagePlan plan;
        plan.result = transfer.accepted ? MMSYSERR_NOERROR : MIDIERR_NOTREADY;
        plan.transferNs = transfer.durationNs;
        Record(Event::Kind::Begin, now, plan.result, length);
        if (before != after) {
            device_->SyncSoon();
        }
        return plan;
    }

    void LongMessageDone(std::span<const std::uint8_t> bytes) override {
        std::uint64_t now = device_->Now();
        Model::Mode before{};
        Model::Mode after{};
        {
            std::lock_guard lock(device_->mutex_);
            pending_ = false;
            before = device_->model_.CurrentMode();
            device_->model_.MessageDone(role_, bytes, now);
            after = device_->model_.CurrentMode();
        }
        Record(Event::Kind::Done, now, 0, bytes.size());
        // The header may have sent the device off the bus.
        if (before != after) {
            device_->SyncSoon();
        }
    }

    void Reset() override {
        std::uint64_t now = device_->Now();
        bool aborted = false;
        {
            std::lock_guard lock(device_->mutex_);
            if (pending_) {
                pending_ = false;
                aborted = true;
                device_->model_.MessageAborted(role_, now);
            }
        }
        if (aborted) {
            Record(Event::Kind::Aborted, now, 0, 0);
        }
    }

private:
    void Record(Event::Kind kind, std::uint64_t now, unsigned result, std::size_t length) {
        Event event;
        event.atNs = now;
        event.kind = kind;
        event.role = role_;
        event.incarnation = incarnation_;
        event.portId = portId;
        event.result = result;
        event.length = length;
        device_->Record(event);
    }

    std::shared_ptr<VirtualDevice> device_;
    Role role_;
    unsigned incarnation_;
    bool pending_ = false;  // guarded by the device's mutex
};

VirtualDevice::VirtualDevice(const model::Scenario& scenario) : model_(scenario) {}

std::shared_ptr<VirtualDevice> VirtualDevice::Plug(const model::Scenario& scenario) {
    auto device = std::make_shared<VirtualDevice>(scenario);
    device->Sync();
    return device;
}

std::optional<model::Scenario> VirtualDevice::ScenarioFromEnvironment(const char* variable,
                                                                      std::string* error) {
    const char* text = variable == nullptr ? nullptr : std::getenv(variable);
    if (text == nullptr) {
        return model::Scenario{};
    }
    return model::ParseScenario(text, error);
}

std::uint64_t VirtualDevice::Now() { return sim::NowNs(); }

void VirtualDevice::Record(Event event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
}

model::VirtualQuadrilux::Report VirtualDevice::Report() {
    std::lock_guard lock(mutex_);
    return model_.GetReport();
}

std::vector<VirtualDevice::Event> VirtualDevice::Events() {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<int> VirtualDevice::PortIds() {
    std::lock_guard lock(mutex_);
    std::vector<int> ids;
    for (const Live& port : live_) {
        ids.push_back(port.portId);
    }
    return ids;
}

void VirtualDevice::Unplug() {
    {
        std::lock_guard lock(mutex_);
        unplugged_ = true;
    }
    Sync();
}

void VirtualDevice::SyncSoon() {
    std::shared_ptr<VirtualDevice> self = shared_from_this();
    sim::At(Now(), [self] { self->Sync(); });
}

void VirtualDevice::Sync() {
    std::lock_guard syncLock(syncMutex_);
    std::uint64_t now = Now();
    std::vector<Model::Port> wanted;
    std::vector<Live> current;
    {
        std::lock_guard lock(mutex_);
        if (!unplugged_) {
            wanted = model_.Ports(now);
        }
        current = live_;
    }
    auto isWanted = [&wanted](const Live& port) {
        for (const Model::Port& w : wanted) {
            if (w.role == port.role && w.incarnation == port.incarnation) {
                return true;
            }
        }
        return false;
    };
    std::vector<Live> kept;
    for (const Live& port : current) {
        if (isWanted(port)) {
            kept.push_back(port);
            continue;
        }
        sim::RemoveOutputPort(port.portId);
        Event event;
        event.atNs = now;
        event.kind = Event::Kind::PortRemoved;
        event.role = port.role;
        event.incarnation = port.incarnation;
        event.portId = port.portId;
        Record(event);
    }
    for (const Model::Port& w : wanted) {
        bool present = false;
        for (const Live& port : kept) {
            present = present || (port.role == w.role && port.incarnation == w.incarnation);
        }
        if (present) {
            continue;
        }
        auto end = std::make_shared<PortEnd>(shared_from_this(), w.role, w.incarnation);
        int id = sim::AddOutputPort(w.name, end);
        end->portId = id;
        kept.push_back(Live{w.role, w.incarnation, id});
        Event event;
        event.atNs = now;
        event.kind = Event::Kind::PortAdded;
        event.role = w.role;
        event.incarnation = w.incarnation;
        event.portId = id;
        Record(event);
    }

    std::optional<std::uint64_t> next;
    {
        std::lock_guard lock(mutex_);
        live_ = kept;
        next = unplugged_ ? std::nullopt : model_.NextChange(now);
        if (next && scheduledAt_ == next) {
            next.reset();  // already arranged
        } else if (next) {
            scheduledAt_ = next;
        }
    }
    if (next) {
        std::shared_ptr<VirtualDevice> self = shared_from_this();
        sim::At(*next, [self] { self->Sync(); });
    }
}

}  // namespace simhost
