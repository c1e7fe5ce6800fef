// Control surface of the simulated dialogs and common controls: what a user does to a dialog, and
// what a test or the terminal program reads back from it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/api/types.h"

namespace sim {

// The stand-in's fixed dialog-unit conversion (the base units of an 8-point shell font at 96 dpi)
// and the frame a captioned dialog adds around its client area.
inline constexpr int kDialogBaseUnitX = 6;
inline constexpr int kDialogBaseUnitY = 13;
inline constexpr int kDialogFrame = 3;     // each side
inline constexpr int kDialogCaption = 20;  // caption bar, above the client area
inline int DialogUnitsToPixelsX(int units) { return (units * kDialogBaseUnitX + 2) / 4; }
inline int DialogUnitsToPixelsY(int units) { return (units * kDialogBaseUnitY + 4) / 8; }

struct DialogControl {
    HWND window = nullptr;
    int id = 0;
    std::string className;
    std::string text;
    DWORD style = 0;
    // In dialog units, as the template gives them.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct DialogInfo {
    HWND window = nullptr;
    int templateId = 0;
    std::string caption;
    DWORD style = 0;
    int widthUnits = 0;
    int heightUnits = 0;
    std::string fontName;
    int fontPoints = 0;
    bool modal = false;
    std::vector<DialogControl> controls;
};

// Every live dialog made from a template, in creation order; one by its window.
std::vector<DialogInfo> Dialogs();
std::optional<DialogInfo> Dialog(HWND dialog);

// Called on the dialog's own thread once a dialog has been created and has handled WM_INITDIALOG,
// before CreateDialogParamA returns or DialogBoxParamA enters its loop. Scripts answer modal
// dialogs from here (by posting a click). Null to stop.
void SetDialogObserver(std::function<void(HWND dialog, int templateId)> observer);

// The user clicks the close box of a window's caption: the system's close command is posted to the
// window, so it is handled on the window's own thread by its message loop.
bool ClickCloseBox(HWND window);
// The user clicks the push button `id` of a dialog (posted, like a real click).
bool ClickButton(HWND dialog, int id);

// A progress-bar control's state.
struct ProgressBarState {
    int low = 0;
    int high = 100;
    int position = 0;
};
std::optional<ProgressBarState> ProgressBar(HWND bar);

// Called after every message that changes a progress bar (range or position), on the thread that
// handled it, without the stand-in's lock held. The terminal program draws its bar from here.
struct ProgressBarChange {
    HWND bar = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    ProgressBarState state;
};
void SetProgressBarObserver(std::function<void(const ProgressBarChange&)> observer);

// Whether InitCommonControlsEx has registered the progress-bar class since the last reset.
bool ProgressClassRegistered();

}  // namespace sim
