// A Wine MIDI driver that puts simulated devices on the MIDI bus of a Wine prefix, so the real
// executable talks to them through winmm exactly as it talks to hardware on Windows.
//
// How Wine reaches it: mmdevapi picks the one audio driver named in HKCU\Software\Wine\Drivers
// (value Audio) and winmm loads that module as its MIDI driver. mmdevapi only takes a module that
// exports its four entry points; winmm then talks to DriverProc and modMessage. We offer no audio
// endpoints, only MIDI output ports.
// A Windows module: the host build compiles nothing of it (its lint pass sees every source).
#if defined(_WIN32)

#include <windows.h>
// clang-format off
#include <mmsystem.h>
#include <mmddk.h>
// clang-format on

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/wine_driver/bus.h"
#include "sim/wine_driver/config.h"

// winmm's completion helper; its mingw-w64 header does not declare it.
extern "C" __declspec(dllimport) BOOL WINAPI
    DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message, DWORD_PTR user,
                   DWORD_PTR param1, DWORD_PTR param2);

namespace wineqlx {
namespace {

// A long message never completes inside the call that sent it: code that touches a buffer the
// platform still owns must not get away with it.
constexpr std::uint64_t kMinTransferNs = 200'000;
constexpr std::uint64_t kNever = UINT64_MAX;
constexpr std::uint64_t kSpinNs = 2'000'000;

struct Pending {
    MIDIHDR* header;
    std::uint64_t dueNs;
};

struct Slot {
    bool open = false;
    MIDIOPENDESC desc{};
    DWORD flags = 0;
    std::deque<Pending> pending;
    std::uint64_t lastDueNs = 0;  // when the link is free again
    int notifying = 0;            // completions the driver thread is still delivering
};

struct Completion {
    MIDIOPENDESC desc;
    DWORD flags;
    UINT message;
    DWORD_PTR param1;
};

struct State {
    CRITICAL_SECTION lock;
    DriverConfig config;
    std::unique_ptr<Bus> bus;
    std::vector<Slot> slots;
    HANDLE wake = nullptr;
    HANDLE log = INVALID_HANDLE_VALUE;
    HANDLE thread = nullptr;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER epoch{};
};

State* state = nullptr;

std::uint64_t NowNs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<std::uint64_t>(now.QuadPart - state->epoch.QuadPart);
    const auto frequency = static_cast<std::uint64_t>(state->frequency.QuadPart);
    return ticks / frequency * 1'000'000'000ULL + ticks % frequency * 1'000'000'000ULL / frequency;
}

class Locked {
public:
    Locked() { EnterCriticalSection(&state->lock); }
    ~Locked() { LeaveCriticalSection(&state->lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// The driver's own account of what winmm asked of it, for the harness to read when a scenario
// goes wrong. Called with the lock held.
void Log(const char* format, ...) {
    if (state->log == INVALID_HANDLE_VALUE) {
        return;
    }
    char line[256];
    const std::uint64_t now = NowNs();
    int length = std::snprintf(line, sizeof(line), "%llu.%06llu ",
                               static_cast<unsigned long long>(now / 1'000'000'000),
                               static_cast<unsigned long long>(now / 1'000 % 1'000'000));
    va_list args;
    va_start(args, format);
    length += std::vsnprintf(line + length, sizeof(line) - static_cast<std::size_t>(length), format, args);
    va_end(args);
    if (length > static_cast<int>(sizeof(line)) - 1) {
        length = static_cast<int>(sizeof(line)) - 1;
    }
    DWORD written = 0;
    WriteFile(state->log, line, static_cast<DWORD>(length), &written, nullptr);
}

void Notify(const Completion& c) {
    DriverCallback(c.desc.dwCallback, HIWORD(c.flags) & DCB_TYPEMASK, reinterpret_cast<HDRVR>(c.desc.hMidi),
                   c.message, c.desc.dwInstance, c.param1, 0);
}

void WriteVerdictLocked() {
    if (state->config.verdictPath.empty()) {
        return;
    }
    const std::string text = state->bus->Report(NowNs());
    HANDLE file = CreateFileA(state->config.verdictPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void Finish(Pending& p) {
    p.header->dwFlags &= ~static_cast<DWORD>(MHDR_INQUEUE);
    p.header->dwFlags |= MHDR_DONE;
}

// Completes long messages when their transfer time is up, outside the caller's thread.
DWORD WINAPI CompletionThread(LPVOID) {
    for (;;) {
        std::vector<Completion> done;
        std::vector<std::size_t> finished;  // the slot of each completion
        DWORD waitMs = INFINITE;
        {
            Locked lock;
            const std::uint64_t now = NowNs();
            std::uint64_t next = kNever;
            for (std::size_t i = 0; i < state->slots.size(); ++i) {
                Slot& slot = state->slots[i];
                while (!slot.pending.empty() && slot.pending.front().dueNs <= now) {
                    Pending p = slot.pending.front();
                    slot.pending.pop_front();
                    const auto* bytes = reinterpret_cast<const std::uint8_t*>(p.header->lpData);
                    const std::size_t length = p.header->dwBufferLength;
                    state->bus->LongDone(static_cast<int>(i), {bytes, length}, now);
                    Log("slot %zu: done %zu bytes\n", i, length);
                    if (length != 44) {  // headers and the final message change the verdict
                        WriteVerdictLocked();
                    }
                    Finish(p);
                    done.push_back({slot.desc, slot.flags, MOM_DONE, reinterpret_cast<DWORD_PTR>(p.header)});
                    ++slot.notifying;
                    finished.push_back(i);
                }
                if (!slot.pending.empty() && slot.pending.front().dueNs < next) {
                    next = slot.pending.front().dueNs;
                }
            }
            if (next != kNever) {
                // Timed waits are only good to a millisecond or two, longer than a message takes
                // on a fast link: close to the end we yield instead of sleeping.
                const std::uint64_t left = next - now;
                waitMs = left < kSpinNs ? 0 : static_cast<DWORD>((left - kSpinNs) / 1'000'000 + 1);
            }
        }
        for (const Completion& c : done) {
            Notify(c);
        }
        if (!done.empty()) {
            Locked lock;
            for (std::size_t i : finished) {
                --state->slots[i].notifying;
            }
        } else {
            if (waitMs == 0) {
                SwitchToThread();
            } else {
                WaitForSingleObject(state->wake, waitMs);
            }
        }
    }
}

void Init() {
    if (state != nullptr) {
        return;
    }
    state = new State;
    InitializeCriticalSection(&state->lock);
    QueryPerformanceFrequency(&state->frequency);
    QueryPerformanceCounter(&state->epoch);
    state->config = ReadConfig();
    state->bus = MakeBus(state->config);
    state->slots.resize(static_cast<std::size_t>(state->bus->SlotCount()));
    state->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!state->config.logPath.empty()) {
        state->log =
            CreateFileA(state->config.logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    Locked lock;
    Log("loaded: %zu slots\n", state->slots.size());
}

void StartThreadLocked() {
    if (state->thread == nullptr) {
        state->thread = CreateThread(nullptr, 0, CompletionThread, nullptr, 0, nullptr);
    }
}

bool ValidSlot(UINT id) { return id < state->slots.size(); }

DWORD GetCaps(UINT id, MIDIOUTCAPSW* caps, DWORD_PTR size) {
    if (caps == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    std::string name;
    {
        Locked lock;
        if (!ValidSlot(id)) {
            return MMSYSERR_BADDEVICEID;
        }
        auto shown = state->bus->SlotName(static_cast<int>(id), NowNs());
        if (!shown) {
            return MMSYSERR_BADDEVICEID;  // off the bus: counted, but gone
        }
        name = *shown;
    }
    MIDIOUTCAPSW full{};
    full.wMid = 0xFF;
    full.wPid = static_cast<WORD>(0x100 + id);
    full.vDriverVersion = 0x0100;
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, full.szPname, MAXPNAMELEN);
    full.szPname[MAXPNAMELEN - 1] = 0;
    full.wTechnology = MOD_MIDIPORT;
    full.wChannelMask = 0xFFFF;
    std::memcpy(caps, &full, size < sizeof(full) ? size : sizeof(full));
    return MMSYSERR_NOERROR;
}

DWORD Open(UINT id, DWORD_PTR* user, const MIDIOPENDESC* desc, DWORD flags) {
    if (desc == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    Completion opened{};
    {
        Locked lock;
        if (!ValidSlot(id)) {
            return MMSYSERR_BADDEVICEID;
        }
        const std::uint64_t now = NowNs();
        if (!state->bus->SlotName(static_cast<int>(id), now)) {
            Log("slot %u: open: not on the bus\n", id);
            return MMSYSERR_BADDEVICEID;
        }
        Slot& slot = state->slots[id];
        if (slot.open) {
            Log("slot %u: open: already open\n", id);
            return MMSYSERR_ALLOCATED;
        }
        const unsigned refused = state->bus->Open(static_cast<int>(id), now);
        Log("slot %u: open: %u\n", id, refused);
        if (refused != 0) {
            return refused;
        }
        slot.open = true;
        slot.desc = *desc;
        slot.flags = flags;
        if (user != nullptr) {
            *user = id;
        }
        StartThreadLocked();
        opened = {slot.desc, slot.flags, MOM_OPEN, 0};
    }
    Notify(opened);
    return MMSYSERR_NOERROR;
}

DWORD Close(UINT id) {
    Completion closed{};
    {
        Locked lock;
        if (!ValidSlot(id) || !state->slots[id].open) {
            return MMSYSERR_INVALHANDLE;
        }
        Slot& slot = state->slots[id];
        if (!slot.pending.empty()) {
            Log("slot %u: close refused: still playing\n", id);
            return MIDIERR_STILLPLAYING;
        }
        // A completion on its way must reach the caller's event before the caller may close it.
        while (slot.notifying > 0) {
            LeaveCriticalSection(&state->lock);
            SwitchToThread();
            EnterCriticalSection(&state->lock);
        }
        Log("slot %u: close\n", id);
        state->bus->Close(static_cast<int>(id), NowNs());
        WriteVerdictLocked();
        slot.open = false;
        closed = {slot.desc, slot.flags, MOM_CLOSE, 0};
    }
    Notify(closed);
    return MMSYSERR_NOERROR;
}

DWORD Prepare(MIDIHDR* header, DWORD_PTR size) {
    if (header == nullptr || size < sizeof(MIDIHDR) || header->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

DWORD Unprepare(MIDIHDR* header, DWORD_PTR size) {
    if (header == nullptr || size < sizeof(MIDIHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    header->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

DWORD LongData(UINT id, MIDIHDR* header, DWORD_PTR size) {
    if (header == nullptr || size < sizeof(MIDIHDR) || header->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & MHDR_PREPARED) == 0) {
        return MIDIERR_UNPREPARED;
    }
    if ((header->dwFlags & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    Locked lock;
    if (!ValidSlot(id) || !state->slots[id].open) {
        return MMSYSERR_INVALHANDLE;
    }
    const std::uint64_t now = NowNs();
    const Bus::LongPlan plan = state->bus->BeginLong(static_cast<int>(id), header->dwBufferLength, now);
    if (plan.result != 0) {
        Log("slot %u: long message of %lu bytes refused\n", id,
            static_cast<unsigned long>(header->dwBufferLength));
        return plan.result;
    }
    header->dwFlags &= ~static_cast<DWORD>(MHDR_DONE);
    header->dwFlags |= MHDR_INQUEUE;
    std::uint64_t due = kNever;
    if (plan.transferNs) {
        Slot& slot = state->slots[id];
        const std::uint64_t start = slot.lastDueNs > now ? slot.lastDueNs : now;
        due = start + (*plan.transferNs > kMinTransferNs ? *plan.transferNs : kMinTransferNs);
        slot.lastDueNs = due;
    }
    state->slots[id].pending.push_back({header, due});
    if (due == kNever) {
        Log("slot %u: long message of %lu bytes, never done\n", id,
            static_cast<unsigned long>(header->dwBufferLength));
    } else {
        Log("slot %u: long message of %lu bytes, done in %llu us\n", id,
            static_cast<unsigned long>(header->dwBufferLength),
            static_cast<unsigned long long>((due - now) / 1000));
    }
    SetEvent(state->wake);
    return MMSYSERR_NOERROR;
}

// A reset hands every pending long message back at once. The one already on the link is carried to
// its end, as a USB link does with what it has started (the device gets it, and its bytes are read
// now, as the buffer goes back); those queued behind it, and one that would never finish, are lost.
DWORD Reset(UINT id) {
    std::vector<Completion> done;
    {
        Locked lock;
        if (!ValidSlot(id) || !state->slots[id].open) {
            return MMSYSERR_INVALHANDLE;
        }
        Slot& slot = state->slots[id];
        const std::uint64_t now = NowNs();
        std::size_t aborted = 0;
        for (std::size_t i = 0; i < slot.pending.size(); ++i) {
            Pending& p = slot.pending[i];
            if (i == 0 && p.dueNs != kNever) {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(p.header->lpData);
                state->bus->LongDone(static_cast<int>(id), {bytes, p.header->dwBufferLength}, now);
            } else {
                ++aborted;
            }
            Finish(p);
            done.push_back({slot.desc, slot.flags, MOM_DONE, reinterpret_cast<DWORD_PTR>(p.header)});
        }
        Log("slot %u: reset, %zu pending, %zu lost\n", id, slot.pending.size(), aborted);
        state->bus->Reset(static_cast<int>(id), aborted, now);
        slot.pending.clear();
        slot.lastDueNs = 0;
        WriteVerdictLocked();
    }
    for (const Completion& c : done) {
        Notify(c);
    }
    return MMSYSERR_NOERROR;
}

DWORD ShortData(UINT id, DWORD_PTR message) {
    Locked lock;
    if (!ValidSlot(id) || !state->slots[id].open) {
        return MMSYSERR_INVALHANDLE;
    }
    state->bus->ShortMessage(static_cast<int>(id), static_cast<std::uint32_t>(message), NowNs());
    return MMSYSERR_NOERROR;
}

}  // namespace
}  // namespace wineqlx

using namespace wineqlx;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH && state != nullptr) {
        // The process may end with threads still inside the lock; the last word is best effort.
        if (TryEnterCriticalSection(&state->lock)) {
            WriteVerdictLocked();
            LeaveCriticalSection(&state->lock);
        }
    }
    return TRUE;
}

__declspec(dllexport) LRESULT WINAPI DriverProc(DWORD_PTR, HDRVR, UINT message, LPARAM, LPARAM) {
    switch (message) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_OPEN:
        case DRV_CLOSE:
        case DRV_ENABLE:
        case DRV_DISABLE:
            return 1;
        case DRV_QUERYCONFIGURE:
            return 0;
        case DRV_CONFIGURE:
            return DRVCNF_OK;
        case DRV_INSTALL:
        case DRV_REMOVE:
            return DRVCNF_RESTART;
        default:
            return 0;
    }
}

__declspec(dllexport) DWORD WINAPI
    modMessage(UINT id, UINT message, DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2) {
    switch (message) {
        case DRVM_INIT:
            Init();
            return MMSYSERR_NOERROR;
        case DRVM_EXIT:
        case DRVM_ENABLE:
        case DRVM_DISABLE:
            return MMSYSERR_NOERROR;
        case MODM_GETNUMDEVS:
            Init();
            return static_cast<DWORD>(state->slots.size());
        case MODM_GETDEVCAPS:
            return GetCaps(id, reinterpret_cast<MIDIOUTCAPSW*>(param1), param2);
        case MODM_OPEN:
            return Open(id, reinterpret_cast<DWORD_PTR*>(user), reinterpret_cast<const MIDIOPENDESC*>(param1),
                        static_cast<DWORD>(param2));
        case MODM_CLOSE:
            return Close(id);
        case MODM_PREPARE:
            return Prepare(reinterpret_cast<MIDIHDR*>(param1), param2);
        case MODM_UNPREPARE:
            return Unprepare(reinterpret_cast<MIDIHDR*>(param1), param2);
        case MODM_LONGDATA:
            return LongData(id, reinterpret_cast<MIDIHDR*>(param1), param2);
        case MODM_DATA:
            return ShortData(id, param1);
        case MODM_RESET:
            return Reset(id);
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
}

// mmdevapi's side: a priority so we are picked, and no audio endpoints at all.
__declspec(dllexport) int WINAPI GetPriority() { return 3; }

__declspec(dllexport) HRESULT WINAPI
    GetEndpointIDs(int, WCHAR*** ids, GUID** guids, UINT* count, UINT* defaultIndex) {
    if (ids != nullptr) {
        *ids = nullptr;
    }
    if (guids != nullptr) {
        *guids = nullptr;
    }
    if (count != nullptr) {
        *count = 0;
    }
    if (defaultIndex != nullptr) {
        *defaultIndex = 0;
    }
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI GetAudioEndpoint(void*, void*, void** client) {
    if (client != nullptr) {
        *client = nullptr;
    }
    return E_NOTIMPL;
}

__declspec(dllexport) HRESULT WINAPI GetAudioSessionManager(void*, void** manager) {
    if (manager != nullptr) {
        *manager = nullptr;
    }
    return E_NOTIMPL;
}

}  // extern "C"

#endif  // defined(_WIN32)
