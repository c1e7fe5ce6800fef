// COMCTL32 of the host stand-in: the progress-bar control.
#include <utility>

#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/host/sim/dialogs.h"
#include "platform/host/windowing.h"
#include "platform/win32.h"

namespace {

using host::Guard;
using host::WM;

// What PBM_GETRANGE fills in when given a place for it.
struct PBRANGE {
    int iLow;
    int iHigh;
};

std::function<void(const sim::ProgressBarChange&)>& Observer() {
    static auto* observer = new std::function<void(const sim::ProgressBarChange&)>();
    return *observer;
}

const host::ResetHook resetProgress([] {
    WM().classes.erase(host::LowerCase(PROGRESS_CLASSA));
    Observer() = nullptr;
});

int Clamp(int value, int low, int high) {
    if (high < low) {
        std::swap(low, high);
    }
    return value < low ? low : (value > high ? high : value);
}

LRESULT PackRange(int low, int high) { return static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(low, high))); }

// The control keeps its range and a position inside it, as the real control does: a position
// outside the range is moved to the nearest end, and a new range moves the position into it.
LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    sim::ProgressBarChange change{window, message, wParam, lParam, {}};
    LRESULT result = 0;
    {
        Guard lock(host::Mutex());
        auto bar = host::FindWindowLocked(window);
        if (!bar) {
            return 0;
        }
        switch (message) {
            case PBM_SETRANGE:
                result = PackRange(bar->rangeMin, bar->rangeMax);
                bar->rangeMin = LOWORD(lParam);
                bar->rangeMax = HIWORD(lParam);
                break;
            case PBM_SETRANGE32:
                result = PackRange(bar->rangeMin, bar->rangeMax);
                bar->rangeMin = static_cast<int>(static_cast<LONG>(wParam));
                bar->rangeMax = static_cast<int>(lParam);
                break;
            case PBM_SETPOS:
                result = bar->position;
                bar->position = static_cast<int>(static_cast<LONG>(wParam));
                break;
            case PBM_GETPOS:
                return bar->position;
            case PBM_GETRANGE: {
                if (lParam != 0) {
                    auto* range = reinterpret_cast<PBRANGE*>(lParam);
                    range->iLow = bar->rangeMin;
                    range->iHigh = bar->rangeMax;
                }
                return wParam != 0 ? bar->rangeMin : bar->rangeMax;
            }
            default:
                lock.unlock();
                return DefWindowProcA(window, message, wParam, lParam);
        }
        bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
        change.state = sim::ProgressBarState{bar->rangeMin, bar->rangeMax, bar->position};
    }
    std::function<void(const sim::ProgressBarChange&)> observer;
    {
        Guard lock(host::Mutex());
        observer = Observer();
    }
    if (observer) {
        observer(change);
    }
    return result;
}

}  // namespace

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    if (init == nullptr || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        return FALSE;
    }
    Guard lock(host::Mutex());
    if ((init->dwICC & ICC_PROGRESS_CLASS) != 0 && !WM().classes.contains(host::LowerCase(PROGRESS_CLASSA))) {
        host::RegisterBuiltinClassLocked(PROGRESS_CLASSA, ProgressProc);
    }
    return TRUE;
}

namespace sim {

std::optional<ProgressBarState> ProgressBar(HWND bar) {
    Guard lock(host::Mutex());
    auto window = host::FindWindowLocked(bar);
    if (!window || host::LowerCase(window->className) != host::LowerCase(PROGRESS_CLASSA)) {
        return std::nullopt;
    }
    return ProgressBarState{window->rangeMin, window->rangeMax, window->position};
}

void SetProgressBarObserver(std::function<void(const ProgressBarChange&)> observer) {
    Guard lock(host::Mutex());
    Observer() = std::move(observer);
}

bool ProgressClassRegistered() {
    Guard lock(host::Mutex());
    return WM().classes.contains(host::LowerCase(PROGRESS_CLASSA));
}

}  // namespace sim
