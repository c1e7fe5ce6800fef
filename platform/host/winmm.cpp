// WINMM of the host stand-in: MIDI output and input ports that tests and simulated devices add,
// rename and remove at any time, long messages that finish on the stand-in's clock.
#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <utility>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

using host::Guard;

// What a port added without a device of its own does; its settings change under the lock.
class DefaultDevice : public sim::OutputPortDevice {
public:
    MMRESULT Open() override {
        Guard lock(host::Mutex());
        return openError;
    }
    LongMessagePlan BeginLongMessage(std::size_t /*length*/) override {
        Guard lock(host::Mutex());
        return {longError, transferNs};
    }
    MMRESULT openError = MMSYSERR_NOERROR;
    MMRESULT longError = MMSYSERR_NOERROR;
    std::optional<std::uint64_t> transferNs = 0;
};

struct OutPort {
    int id = 0;
    std::string name;
    std::shared_ptr<sim::OutputPortDevice> device;
    std::shared_ptr<DefaultDevice> defaultDevice;  // set when the port has no device of its own
    MMRESULT capsError = MMSYSERR_NOERROR;
    MMRESULT prepareError = MMSYSERR_NOERROR;
    MMRESULT unprepareError = MMSYSERR_NOERROR;
    bool removed = false;
    int openHandles = 0;
    std::vector<std::vector<std::uint8_t>> longReceived;
    std::vector<DWORD> shortReceived;
};

struct InPort {
    int id = 0;
    std::string name;
    MMRESULT capsError = MMSYSERR_NOERROR;
};

struct Pending {
    MIDIHDR* header = nullptr;
    std::optional<std::uint64_t> transferNs;
    std::uint64_t sequence = 0;
    bool started = false;
    std::uint64_t timer = 0;
};

struct OpenOut {
    HMIDIOUT handle = nullptr;
    std::shared_ptr<OutPort> port;
    HANDLE event = nullptr;  // CALLBACK_EVENT, or null
    std::deque<Pending> queue;
};

struct State {
    std::vector<std::shared_ptr<OutPort>> outputs;  // in device-identifier order
    std::vector<std::shared_ptr<InPort>> inputs;
    std::map<int, std::shared_ptr<OutPort>> outputsById;  // also the removed ones, for their records
    std::map<HMIDIOUT, std::shared_ptr<OpenOut>> open;
    int nextId = 1;
    std::uintptr_t nextHandle = 0xA0000;
    std::uint64_t nextSequence = 1;
    sim::MidiCounters counters;
};

State& S() {
    static State* state = new State();
    return *state;
}

const host::ResetHook resetWinmm([] { S() = State(); });

void Signal(HANDLE event) {
    if (event != nullptr) {
        SetEvent(event);
    }
}

std::shared_ptr<OpenOut> FindOpenLocked(HMIDIOUT handle) {
    auto it = S().open.find(handle);
    return it == S().open.end() ? nullptr : it->second;
}

std::shared_ptr<OutPort> FindOutputLocked(int id) {
    auto it = S().outputsById.find(id);
    return it == S().outputsById.end() ? nullptr : it->second;
}

std::shared_ptr<InPort> FindInputLocked(int id) {
    for (const auto& port : S().inputs) {
        if (port->id == id) {
            return port;
        }
    }
    return nullptr;
}

void CopyName(const std::string& name, CHAR (&field)[32]) {
    std::size_t length = std::min(name.size(), sizeof(field) - 1);
    std::memcpy(field, name.data(), length);
    field[length] = '\0';
}

// Gives every pending long message back as done, without taking its bytes. Returns how many.
std::size_t HandBackLocked(OpenOut& open) {
    std::size_t count = open.queue.size();
    for (Pending& pending : open.queue) {
        if (pending.started && pending.transferNs) {
            host::CancelLocked(pending.timer);
        }
        pending.header->dwFlags = (pending.header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    }
    open.queue.clear();
    return count;
}

void FinishLongMessage(HMIDIOUT handle, std::uint64_t sequence);

// Starts the transfer of the message at the head of the queue. Returns its sequence number when it
// is done at once (transfer time 0), for the caller to finish without the lock.
std::optional<std::uint64_t> StartHeadLocked(OpenOut& open) {
    if (open.queue.empty() || open.queue.front().started) {
        return std::nullopt;
    }
    Pending& head = open.queue.front();
    head.started = true;
    if (!head.transferNs) {
        return std::nullopt;  // never finishes
    }
    if (*head.transferNs == 0) {
        return head.sequence;
    }
    HMIDIOUT handle = open.handle;
    std::uint64_t sequence = head.sequence;
    head.timer = host::ScheduleLocked(host::NowLocked() + *head.transferNs,
                                      [handle, sequence] { FinishLongMessage(handle, sequence); });
    return std::nullopt;
}

// The platform is done with a long message: its bytes are read from the caller's buffer now.
void FinishLongMessage(HMIDIOUT handle, std::uint64_t sequence) {
    std::optional<std::uint64_t> next = sequence;
    while (next) {
        std::vector<std::uint8_t> bytes;
        std::shared_ptr<sim::OutputPortDevice> device;
        HANDLE event = nullptr;
        {
            Guard lock(host::Mutex());
            std::shared_ptr<OpenOut> open = FindOpenLocked(handle);
            if (!open || open->queue.empty() || open->queue.front().sequence != *next) {
                return;
            }
            MIDIHDR* header = open->queue.front().header;
            if (header->lpData != nullptr) {
                const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData);
                bytes.assign(data, data + header->dwBufferLength);
            }
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            open->queue.pop_front();
            open->port->longReceived.push_back(bytes);
            device = open->port->device;
            event = open->event;
            next = StartHeadLocked(*open);
        }
        device->LongMessageDone(bytes);
        Signal(event);
    }
}

// The open port behind a handle, for a call that passes a long-message header. Lock held.
MMRESULT FindHeaderCallLocked(HMIDIOUT handle, const MIDIHDR* header, UINT size,
                              std::shared_ptr<OpenOut>& open) {
    open = FindOpenLocked(handle);
    if (!open) {
        return MMSYSERR_INVALHANDLE;
    }
    return header == nullptr || size < sizeof(MIDIHDR) ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}

}  // namespace

// A count that fails reads as no ports at all.
UINT WINAPI midiOutGetNumDevs() {
    if (host::CallFails("midiOutGetNumDevs")) {
        return 0;
    }
    Guard lock(host::Mutex());
    return static_cast<UINT>(S().outputs.size());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR deviceId, LPMIDIOUTCAPSA caps, UINT capsSize) {
    if (std::optional<DWORD> error = host::CallFails("midiOutGetDevCapsA")) {
        return *error;
    }
    if (caps == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    Guard lock(host::Mutex());
    std::shared_ptr<OutPort> port;
    if (deviceId < S().outputs.size()) {
        port = S().outputs[deviceId];
        // NOLINTNEXTLINE(performance-no-int-to-ptr): handles are numbers
    } else if (std::shared_ptr<OpenOut> open = FindOpenLocked(reinterpret_cast<HMIDIOUT>(deviceId))) {
        port = open->port;
        if (port->removed) {
            return MMSYSERR_NODRIVER;
        }
    } else {
        return MMSYSERR_BADDEVICEID;
    }
    if (port->capsError != MMSYSERR_NOERROR) {
        return port->capsError;
    }
    MIDIOUTCAPSA record{};
    record.vDriverVersion = 0x0100;
    CopyName(port->name, record.szPname);
    record.wTechnology = 1;  // MOD_MIDIPORT
    record.wChannelMask = 0xFFFF;
    std::memcpy(caps, &record, std::min<std::size_t>(capsSize, sizeof(record)));
    return MMSYSERR_NOERROR;
}

UINT WINAPI midiInGetNumDevs() {
    if (host::CallFails("midiInGetNumDevs")) {
        return 0;
    }
    Guard lock(host::Mutex());
    return static_cast<UINT>(S().inputs.size());
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR deviceId, LPMIDIINCAPSA caps, UINT capsSize) {
    if (std::optional<DWORD> error = host::CallFails("midiInGetDevCapsA")) {
        return *error;
    }
    if (caps == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    Guard lock(host::Mutex());
    if (deviceId >= S().inputs.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    const InPort& port = *S().inputs[deviceId];
    if (port.capsError != MMSYSERR_NOERROR) {
        return port.capsError;
    }
    MIDIINCAPSA record{};
    record.vDriverVersion = 0x0100;
    CopyName(port.name, record.szPname);
    std::memcpy(caps, &record, std::min<std::size_t>(capsSize, sizeof(record)));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR /*instance*/,
                            DWORD flags) {
    const std::optional<DWORD> error = host::CallFails("midiOutOpen");
    if (handle == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *handle = nullptr;
    if (error) {
        return *error;
    }
    const DWORD callbackType = flags & 0x00070000u;
    if (callbackType != 0 && callbackType != CALLBACK_EVENT) {
        return MMSYSERR_INVALPARAM;  // only events and no callback are modelled
    }
    std::shared_ptr<OutPort> port;
    {
        Guard lock(host::Mutex());
        if (deviceId >= S().outputs.size()) {
            return MMSYSERR_BADDEVICEID;
        }
        port = S().outputs[deviceId];
        if (port->openHandles > 0) {
            return MMSYSERR_ALLOCATED;
        }
    }
    MMRESULT result = port->device->Open();
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): handles are numbers
    HANDLE event = callbackType == CALLBACK_EVENT ? reinterpret_cast<HANDLE>(callback) : nullptr;
    {
        Guard lock(host::Mutex());
        if (port->removed) {
            return MMSYSERR_NODRIVER;
        }
        auto open = std::make_shared<OpenOut>();
        // NOLINTNEXTLINE(performance-no-int-to-ptr): handles are numbers
        open->handle = reinterpret_cast<HMIDIOUT>(S().nextHandle);
        S().nextHandle += 4;
        open->port = port;
        open->event = event;
        ++port->openHandles;
        ++S().counters.opens;
        S().open[open->handle] = open;
        *handle = open->handle;
    }
    Signal(event);  // MOM_OPEN
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    if (std::optional<DWORD> error = host::CallFails("midiOutClose")) {
        return *error;
    }
    std::shared_ptr<OpenOut> open;
    {
        Guard lock(host::Mutex());
        open = FindOpenLocked(handle);
        if (!open) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!open->queue.empty()) {
            return MIDIERR_STILLPLAYING;
        }
        S().open.erase(handle);
        --open->port->openHandles;
        ++S().counters.closes;
    }
    if (!open->port->removed) {
        open->port->device->Close();
    }
    Signal(open->event);  // MOM_CLOSE
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT headerSize) {
    if (std::optional<DWORD> error = host::CallFails("midiOutPrepareHeader")) {
        return *error;
    }
    Guard lock(host::Mutex());
    std::shared_ptr<OpenOut> open;
    if (MMRESULT check = FindHeaderCallLocked(handle, header, headerSize, open); check != MMSYSERR_NOERROR) {
        return check;
    }
    if (header->lpData == nullptr && header->dwBufferLength > 0) {
        return MMSYSERR_INVALPARAM;
    }
    if (open->port->prepareError != MMSYSERR_NOERROR) {
        return open->port->prepareError;
    }
    if ((header->dwFlags & MHDR_PREPARED) == 0) {
        header->dwFlags |= MHDR_PREPARED;
        ++S().counters.prepares;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT headerSize) {
    if (std::optional<DWORD> error = host::CallFails("midiOutUnprepareHeader")) {
        return *error;
    }
    Guard lock(host::Mutex());
    std::shared_ptr<OpenOut> open;
    if (MMRESULT check = FindHeaderCallLocked(handle, header, headerSize, open); check != MMSYSERR_NOERROR) {
        return check;
    }
    if (open->port->unprepareError != MMSYSERR_NOERROR) {
        return open->port->unprepareError;
    }
    if ((header->dwFlags & MHDR_PREPARED) == 0) {
        return MMSYSERR_NOERROR;  // never prepared: nothing to release
    }
    if ((header->dwFlags & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    header->dwFlags &= ~MHDR_PREPARED;
    ++S().counters.unprepares;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT headerSize) {
    const std::optional<sim::Fault> fault = host::CountCall("midiOutLongMsg");
    if (fault && fault->kind == sim::FaultKind::Fails) {
        return fault->error;
    }
    std::shared_ptr<OpenOut> open;
    {
        Guard lock(host::Mutex());
        if (MMRESULT check = FindHeaderCallLocked(handle, header, headerSize, open);
            check != MMSYSERR_NOERROR) {
            return check;
        }
        if ((header->dwFlags & MHDR_PREPARED) == 0) {
            return MIDIERR_UNPREPARED;
        }
        if ((header->dwFlags & MHDR_INQUEUE) != 0) {
            return MIDIERR_STILLPLAYING;
        }
        if (open->port->removed) {
            return MMSYSERR_NODRIVER;
        }
    }
    sim::OutputPortDevice::LongMessagePlan plan =
        open->port->device->BeginLongMessage(header->dwBufferLength);
    if (plan.result != MMSYSERR_NOERROR) {
        return plan.result;
    }
    if (fault && fault->kind == sim::FaultKind::NeverFinishes) {
        plan.transferNs.reset();
    }
    std::optional<std::uint64_t> finishNow;
    {
        Guard lock(host::Mutex());
        if (open->port->removed || !FindOpenLocked(handle)) {
            return MMSYSERR_NODRIVER;
        }
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        open->queue.push_back(Pending{header, plan.transferNs, S().nextSequence++});
        ++S().counters.longMessages;
        finishNow = StartHeadLocked(*open);
    }
    if (finishNow) {
        FinishLongMessage(handle, *finishNow);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT handle, DWORD message) {
    std::shared_ptr<OpenOut> open;
    {
        Guard lock(host::Mutex());
        open = FindOpenLocked(handle);
        if (!open) {
            return MMSYSERR_INVALHANDLE;
        }
        if (open->port->removed) {
            return MMSYSERR_NODRIVER;
        }
        if (!open->queue.empty()) {
            return MIDIERR_NOTREADY;  // busy with a long message
        }
    }
    MMRESULT result = open->port->device->ShortMessage(message);
    if (result == MMSYSERR_NOERROR) {
        Guard lock(host::Mutex());
        open->port->shortReceived.push_back(message);
    }
    return result;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT handle) {
    if (std::optional<DWORD> error = host::CallFails("midiOutReset")) {
        return *error;
    }
    std::shared_ptr<OpenOut> open;
    std::size_t handedBack = 0;
    {
        Guard lock(host::Mutex());
        open = FindOpenLocked(handle);
        if (!open) {
            return MMSYSERR_INVALHANDLE;
        }
        handedBack = HandBackLocked(*open);
        ++S().counters.resets;
    }
    if (!open->port->removed) {
        open->port->device->Reset();
    }
    if (handedBack > 0) {
        Signal(open->event);  // MOM_DONE
    }
    return MMSYSERR_NOERROR;
}

// ---- Control surface -----------------------------------------------------------------------------

namespace sim {

int AddOutputPort(const std::string& name, std::shared_ptr<OutputPortDevice> device) {
    Guard lock(host::Mutex());
    auto port = std::make_shared<OutPort>();
    port->id = S().nextId++;
    port->name = name;
    if (device) {
        port->device = std::move(device);
    } else {
        port->defaultDevice = std::make_shared<DefaultDevice>();
        port->device = port->defaultDevice;
    }
    S().outputs.push_back(port);
    S().outputsById[port->id] = port;
    return port->id;
}

void RenameOutputPort(int id, const std::string& name) {
    Guard lock(host::Mutex());
    if (std::shared_ptr<OutPort> port = FindOutputLocked(id)) {
        port->name = name;
    }
}

void RemoveOutputPort(int id) {
    std::vector<HANDLE> events;
    {
        Guard lock(host::Mutex());
        std::shared_ptr<OutPort> port = FindOutputLocked(id);
        if (!port || port->removed) {
            return;
        }
        port->removed = true;
        std::erase(S().outputs, port);
        for (auto& [handle, open] : S().open) {
            if (open->port == port && HandBackLocked(*open) > 0) {
                events.push_back(open->event);
            }
        }
    }
    for (HANDLE event : events) {
        Signal(event);
    }
}

void SetOutputCapsError(int id, MMRESULT error) {
    Guard lock(host::Mutex());
    if (std::shared_ptr<OutPort> port = FindOutputLocked(id)) {
        port->capsError = error;
    }
}

int AddInputPort(const std::string& name) {
    Guard lock(host::Mutex());
    auto port = std::make_shared<InPort>();
    port->id = S().nextId++;
    port->name = name;
    S().inputs.push_back(port);
    return port->id;
}

void RenameInputPort(int id, const std::string& name) {
    Guard lock(host::Mutex());
    if (std::shared_ptr<InPort> port = FindInputLocked(id)) {
        port->name = name;
    }
}

void RemoveInputPort(int id) {
    Guard lock(host::Mutex());
    std::erase_if(S().inputs, [id](const auto& port) { return port->id == id; });
}

void SetInputCapsError(int id, MMRESULT error) {
    Guard lock(host::Mutex());
    if (std::shared_ptr<InPort> port = FindInputLocked(id)) {
        port->capsError = error;
    }
}

void SetPrepareError(int id, MMRESULT error) {
    Guard lock(host::Mutex());
    if (std::shared_ptr<OutPort> port = FindOutputLocked(id)) {
        port->prepareError = error;
    }
}

void SetUnprepareError(int id, MMRESULT error) {
    Guard lock(host::Mutex());
    if (std::shared_ptr<OutPort> port = FindOutputLocked(id)) {
        port->unprepareError = error;
    }
}

void SetTransferTime(int id, std::optional<std::uint64_t> transferNs) {
    Guard lock(host::Mutex());
    std::shared_ptr<OutPort> port = FindOutputLocked(id);
    if (port && port->defaultDevice) {
        port->defaultDevice->transferNs = transferNs;
    }
}

void SetOpenError(int id, MMRESULT error) {
    Guard lock(host::Mutex());
    std::shared_ptr<OutPort> port = FindOutputLocked(id);
    if (port && port->defaultDevice) {
        port->defaultDevice->openError = error;
    }
}

void SetLongMessageError(int id, MMRESULT error) {
    Guard lock(host::Mutex());
    std::shared_ptr<OutPort> port = FindOutputLocked(id);
    if (port && port->defaultDevice) {
        port->defaultDevice->longError = error;
    }
}

std::size_t PendingLongMessages(int id) {
    Guard lock(host::Mutex());
    std::size_t count = 0;
    for (const auto& [handle, open] : S().open) {
        if (open->port->id == id) {
            count += open->queue.size();
        }
    }
    return count;
}

std::vector<std::vector<std::uint8_t>> LongMessagesReceived(int id) {
    Guard lock(host::Mutex());
    std::shared_ptr<OutPort> port = FindOutputLocked(id);
    return port ? port->longReceived : std::vector<std::vector<std::uint8_t>>{};
}

std::vector<DWORD> ShortMessagesReceived(int id) {
    Guard lock(host::Mutex());
    std::shared_ptr<OutPort> port = FindOutputLocked(id);
    return port ? port->shortReceived : std::vector<DWORD>{};
}

MidiCounters Counters() {
    Guard lock(host::Mutex());
    return S().counters;
}

std::size_t OpenMidiHandleCount() {
    Guard lock(host::Mutex());
    return S().open.size();
}

}  // namespace sim
