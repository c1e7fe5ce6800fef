// Control surface of the simulated WinMM: MIDI ports that tests and simulated devices add, rename
// and remove at any time, and what happens to the traffic sent to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/host/api/winmm.h"

namespace sim {

// The far end of a simulated MIDI output port. The default does what a plain, always-ready port
// does; simulated devices and tests override what they need. Called without the stand-in's lock,
// on whichever thread makes the WinMM call (or moves the clock, for LongMessageDone).
class OutputPortDevice {
public:
    virtual ~OutputPortDevice() = default;
    // midiOutOpen: MMSYSERR_NOERROR to accept, or the error to report (MMSYSERR_ALLOCATED, ...).
    virtual MMRESULT Open() { return MMSYSERR_NOERROR; }
    virtual void Close() {}
    // midiOutLongMsg accepted a message of `length` bytes: result is the code midiOutLongMsg returns
    // (non-zero refuses the message); transferNs is how long until the platform is done with it, or
    // nullopt for never.
    struct LongMessagePlan {
        MMRESULT result = MMSYSERR_NOERROR;
        std::optional<std::uint64_t> transferNs = 0;
    };
    virtual LongMessagePlan BeginLongMessage(std::size_t /*length*/) { return {}; }
    // The bytes of a long message, read from the caller's buffer at the moment it finishes.
    virtual void LongMessageDone(std::span<const std::uint8_t> /*bytes*/) {}
    virtual MMRESULT ShortMessage(DWORD /*message*/) { return MMSYSERR_NOERROR; }
    // midiOutReset: pending long messages are handed back as done without their bytes being taken.
    virtual void Reset() {}
};

// Output ports, in device-identifier order. Each has a stable id (not its device identifier).
// A port serves one client: a second midiOutOpen while it is open gives MMSYSERR_ALLOCATED. A long
// message with a transfer time of 0 is done inside midiOutLongMsg when nothing is queued before it.
// Removing an open port hands its pending long messages back as done (bytes not taken); later
// midiOutLongMsg, midiOutShortMsg and midiOutGetDevCapsA on the handle fail with
// MMSYSERR_NODRIVER, while midiOutReset and midiOutClose still release it.
int AddOutputPort(const std::string& name, std::shared_ptr<OutputPortDevice> device = nullptr);
void RenameOutputPort(int id, const std::string& name);
void RemoveOutputPort(int id);
// midiOutGetDevCapsA on this port fails with `error` (0 to succeed again).
void SetOutputCapsError(int id, MMRESULT error);
// Input ports (they only have names; the naming rules count some of them).
int AddInputPort(const std::string& name);
void RemoveInputPort(int id);
void SetInputCapsError(int id, MMRESULT error);

// For a port added without a device: the transfer time of every long message (0 after adding;
// nullopt: never finishes) and an open error. What reached a port is recorded for every port.
void SetTransferTime(int id, std::optional<std::uint64_t> transferNs);
void SetOpenError(int id, MMRESULT error);
std::vector<std::vector<std::uint8_t>> LongMessagesReceived(int id);
std::vector<DWORD> ShortMessagesReceived(int id);

void RenameInputPort(int id, const std::string& name);

// Errors on demand for midiOutPrepareHeader and midiOutUnprepareHeader on this port (0: succeed).
void SetPrepareError(int id, MMRESULT error);
void SetUnprepareError(int id, MMRESULT error);
// For a port added without a device: what midiOutLongMsg returns (0: accept).
void SetLongMessageError(int id, MMRESULT error);
// Long messages of this port that the platform still owns (queued or in transfer), over its open
// handles.
std::size_t PendingLongMessages(int id);

// prepares/unprepares count the headers that became prepared or unprepared; longMessages the long
// messages accepted; opens/closes/resets the successful calls.
struct MidiCounters {
    int opens = 0;
    int closes = 0;
    int resets = 0;
    int longMessages = 0;
    int prepares = 0;
    int unprepares = 0;
};
MidiCounters Counters();
// MIDI output handles open right now.
std::size_t OpenMidiHandleCount();

}  // namespace sim
