#include "update/update_worker.h"

#include <array>
#include <span>
#include <string>

#include "device/sysex_writer.h"
#include "device/updater_dev.h"
#include "diag/general_error.h"
#include "diag/trace.h"
#include "midi/device_list.h"
#include "midi/device_notify.h"
#include "midi/midi_output.h"
#include "midi/output.h"
#include "midi/port_names.h"
#include "update/firmware_image.h"
#include "update/progress.h"

namespace {

// From the header until the first polling pass begins its pause: the device leaves normal mode and
// comes back.
constexpr DWORD kRestartPauseMs = 5000;
// The longest a port may take over one message: a send waits this long for the one before.
constexpr DWORD kFinishMs = 1000;
constexpr int kPollingPasses = 300;
// A result that cannot be posted (the main window's queue is full) is tried again this often, for
// as long as the window exists, up to this many times.
constexpr DWORD kRepostPauseMs = 100;
constexpr int kPostAttempts = 50;
constexpr DWORD kPollingPauseMs = 1000;
constexpr std::int32_t kFailed = -1;

using MessageBuffer = std::array<std::uint8_t, FirmwareImage::kMessageBufferSize>;

// What an open that fails does to a search.
enum class OnOpenError { EndSearch, TryNext };

// The first port, in index order, whose name holds the product name and that opens. The bound is
// taken again before every index, so ports that come or go meanwhile are seen.
MIDI::Output* FindDevice(OnOpenError onError) {
    for (int index = 0; index < OutputPortCount(); ++index) {
        if (OutputPortName(index).find(kProductName) == std::string::npos) {
            continue;
        }
        MIDI::Output* port = nullptr;
        try {
            port = OpenOutputPort(index);
        } catch (const GeneralError&) {
            if (onError == OnOpenError::EndSearch) {
                return nullptr;
            }
            continue;
        }
        if (port != nullptr) {
            return port;
        }
    }
    return nullptr;
}

// Passes the message in the buffer through a fresh SysEx writer to the port.
bool SendBuffer(MIDI::Output& port, const MessageBuffer& buffer) {
    SysExWriter writer;
    for (std::uint8_t byte : buffer) {
        if (writer.Write(byte)) {
            return port.SendSysEx(writer.Message());
        }
    }
    return false;  // no complete message in the buffer: nothing is sent
}

// Bytes of the message at the start of the buffer, up to and including its 0xF7.
std::size_t MessageLength(const MessageBuffer& buffer) {
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] == 0xF7) {
            return i + 1;
        }
    }
    return buffer.size();
}

// Releasing a port resets it, and a reset hands back a message the port has not finished, unsent.
// So the message the port must deliver is confirmed finished before the port is let go. A port
// that cannot tell is given the time a send would give its message.
bool Finished(MIDI::Output& port, const char* message) {
    switch (port.WaitForCompletion(kFinishMs)) {
        case MIDI::Completion::Finished:
            return true;
        case MIDI::Completion::Unknown:
            Sleep(kFinishMs);
            return true;
        case MIDI::Completion::Unfinished:
            break;
    }
    DebugTrace("The %s did not finish within %u ms\n", message, static_cast<unsigned>(kFinishMs));
    return false;
}

// A cancel is honoured until the stream begins: up to then the device holds nothing of the new
// image. Once the stream has begun, only sending the image to its end leaves the device usable,
// so the stream is not stopped.
bool CancelledBeforeStream(Progress& progress) {
    if (!progress.CancelRequested()) {
        return false;
    }
    DebugTrace("Update cancelled before the image was sent\n");
    return true;
}

void Update(UpdateThreadArgs& args) {
    FirmwareImage& image = *args.image;
    Progress& progress = *args.progress;
    const int total = static_cast<int>(image.BlockCount());

    HRESULT shown = progress.SetProgress(0, total);
    args.status = 0;
    MessageBuffer buffer{};
    if (!image.ReadHeader(buffer)) {
        args.status = kFailed;
        return;
    }
    std::uint64_t bytesRead = MessageLength(buffer);
    if (shown == E_ABORT && CancelledBeforeStream(progress)) {
        args.status = kFailed;
        return;
    }

    // Switch the device into its update mode with the header.
    MIDI::Output* port = FindDevice(OnOpenError::EndSearch);
    if (port == nullptr) {
        args.status = kFailed;
        return;
    }
    if (!SendBuffer(*port, buffer)) {
        args.status = kFailed;
        port->Release();
        return;
    }
    const DWORD headerGiven = GetTickCount();
    // A header that never left means the device never switched: whatever port answers next would
    // get the image in normal mode.
    const bool switched = Finished(*port, "header");
    port->Release();
    if (!switched) {
        args.status = kFailed;
        return;
    }

    // Wait for it to come back as a new port, counted from when the header was given.
    const DWORD sinceHeader = GetTickCount() - headerGiven;
    Sleep(sinceHeader < kRestartPauseMs ? kRestartPauseMs - sinceHeader : 0);
    port = nullptr;
    for (int pass = 0; pass < kPollingPasses && port == nullptr; ++pass) {
        Sleep(kPollingPauseMs);
        if (CancelledBeforeStream(progress)) {
            args.status = kFailed;
            return;
        }
        port = FindDevice(OnOpenError::TryNext);
    }
    if (port == nullptr) {
        args.status = kFailed;
        return;
    }

    // The stream: the header again, then every further message in stored order.
    int count = 0;
    for (;;) {
        if (!SendBuffer(*port, buffer)) {
            args.status = kFailed;
            break;
        }
        ++count;
        progress.SetProgress(count, total);
        if (!image.ReadNextMessage(buffer)) {
            break;
        }
        bytesRead += MessageLength(buffer);
    }
    // The image refuses a damaged message as if it had ended there; an image not read to its end
    // was not sent whole.
    if (args.status == 0 && bytesRead != image.Size()) {
        DebugTrace("Firmware image damaged after %u of %u bytes\n", static_cast<unsigned>(bytesRead),
                   static_cast<unsigned>(image.Size()));
        args.status = kFailed;
    }
    // The final message carries the image's check: the update is complete only once it arrived.
    // A device that left the system with it had it handed back as done, unsent. (After the header
    // the device leaves on purpose, so there its absence says nothing.)
    if (args.status == 0 && !Finished(*port, "final message")) {
        args.status = kFailed;
    } else if (args.status == 0 && !port->IsPresent()) {
        DebugTrace("The device left with the final message\n");
        args.status = kFailed;
    }
    port->Release();
}

}  // namespace

void FinishUpdate(UpdateThreadArgs& args) {
    ShowWindow(args.progress->dialog, SW_HIDE);
    // The main window learns the result only from this message, and the user waits for it.
    const auto result = static_cast<WPARAM>(static_cast<INT_PTR>(args.status));
    for (int attempt = 1; PostMessageA(args.mainWindow, WM_UPDATE_RESULT, result, 0) == FALSE &&
                          attempt < kPostAttempts && IsWindow(args.mainWindow) != FALSE;
         ++attempt) {
        Sleep(kRepostPauseMs);
    }
    delete deviceList;
    deviceList = nullptr;
    RemoveDeviceChangeListener(nullptr);
}

DWORD WINAPI UpdateThreadProc(LPVOID parameter) {
    auto& args = *static_cast<UpdateThreadArgs*>(parameter);
    Update(args);
    FinishUpdate(args);  // every path ends here
    return 0;
}
