#include "midi/midi_output.h"

#include <cstdio>
#include <cstring>

#include "diag/general_error.h"
#include "midi/device_list.h"
#include "midi/port_names.h"

namespace {
constexpr DWORD kSendTimeoutMs = 1000;
}  // namespace

std::uint32_t NameHashOf(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (char c : name) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 16777619u;
    }
    return hash;
}

MidiOutput::MidiOutput(std::int32_t index) : portIndex(index) {
    doneEvent = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    nameHash = NameHashOf(OutputPortName(portIndex, true, true));
    nameHashNoPort = NameHashOf(OutputPortName(portIndex, true, false));
    MMRESULT result = midiOutOpen(&handle, static_cast<UINT>(portIndex),
                                  reinterpret_cast<DWORD_PTR>(doneEvent), 0, CALLBACK_EVENT);
    if (result != MMSYSERR_NOERROR) {
        if (handle != nullptr) {
            midiOutReset(handle);
            midiOutClose(handle);
            handle = nullptr;
        }
        CloseHandle(doneEvent);
        char text[64];
        std::snprintf(text, sizeof(text), "midiOutOpen failed with error: %u", static_cast<unsigned>(result));
        throw GeneralError(text);
    }
}

MidiOutput::~MidiOutput() {
    // The reset hands a message still in flight back as done, so the close needs no wait.
    if (handle != nullptr) {
        midiOutReset(handle);
        // A close refused (a message still queued, the driver short of memory) would leave the port
        // held by this process: once more after another reset.
        if (midiOutClose(handle) != MMSYSERR_NOERROR) {
            midiOutReset(handle);
            midiOutClose(handle);
        }
        handle = nullptr;
    }
    CloseHandle(doneEvent);
}

bool MidiOutput::SendSysEx(std::span<const std::uint8_t> message) {
    if (message.size() > sendBuffer.size()) {
        return false;  // refused before the wait, so the port stays usable
    }
    // The platform owns sendBuffer and header until it signals the previous message done.
    if (WaitForSingleObject(doneEvent, kSendTimeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    if (midiOutUnprepareHeader(handle, &header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR) {
        return false;
    }
    if (!message.empty()) {
        std::memcpy(sendBuffer.data(), message.data(), message.size());
    }
    header = MIDIHDR{};
    header.lpData = reinterpret_cast<LPSTR>(sendBuffer.data());
    header.dwBufferLength = static_cast<DWORD>(message.size());
    if (midiOutPrepareHeader(handle, &header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR) {
        return false;
    }
    return midiOutLongMsg(handle, &header, sizeof(MIDIHDR)) == MMSYSERR_NOERROR;
}

MIDI::Completion MidiOutput::WaitForCompletion(std::uint32_t timeoutMs) {
    if (WaitForSingleObject(doneEvent, timeoutMs) != WAIT_OBJECT_0) {
        return MIDI::Completion::Unfinished;
    }
    // The wait took the signal: give it back, so that the next send finds the port idle.
    SetEvent(doneEvent);
    return MIDI::Completion::Finished;
}

bool MidiOutput::SendShort(const MIDI::ShortMessage& message) {
    const DWORD packed =
        (message.status & 0xFFu) | ((message.data1 & 0xFFu) << 8) | ((message.data2 & 0xFFu) << 16);
    return midiOutShortMsg(handle, packed) == MMSYSERR_NOERROR;
}

bool MidiOutput::IsPresent() {
    MIDIOUTCAPSA caps{};
    return midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(handle), &caps, sizeof(caps)) == MMSYSERR_NOERROR;
}

MIDI::Output* OpenOutputPort(int index) {
    const int systemPorts = static_cast<int>(midiOutGetNumDevs());
    if (index < systemPorts) {
        return new MidiOutput(index);
    }
    return deviceList != nullptr ? deviceList->CreateOutput(index - systemPorts) : nullptr;
}
