// Control surface of the simulated message boxes and of the user-interface resources: who answers
// a box and what every box showed; the class menus, accelerator tables and icons the program loaded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/api/user32.h"

namespace sim {

struct MessageBoxRecord {
    int serial = 0;  // 1 for the first box after Reset, then counting up
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    UINT type = 0;
    std::uint64_t shownNs = 0;  // on the stand-in's clock
    bool answered = false;
    int answer = 0;  // what MessageBoxA returned (0 while the box is open)
    // The platform could not show it (an injected fault): MessageBoxA returned 0 at once, and no
    // handler was asked.
    bool failed = false;
};

// Decides the answer of each box. Called on the thread that shows the box, without the stand-in's
// lock. Returns the answer at once, or nullopt to keep the box open (the thread then serves its
// messages, as a modal box does) until AnswerMessageBox gives the answer from any thread.
// Without a handler a box is answered as closing it would: IDCANCEL for MB_OKCANCEL, IDNO for
// MB_YESNO, IDOK otherwise.
using MessageBoxHandler = std::function<std::optional<int>(const MessageBoxRecord&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// Answers the open box with that serial; false when no such box is waiting.
bool AnswerMessageBox(int serial, int answer);

// Every box shown since Reset, in order, with its answer.
std::vector<MessageBoxRecord> MessageBoxes();

// The buttons a box of this type offers, with their answers: {"OK", IDOK}, {"Cancel", IDCANCEL}...
struct BoxButton {
    std::string label;
    int answer;
};
std::vector<BoxButton> ButtonsOf(UINT type);

// A registered window class as the program described it.
struct ClassRecord {
    UINT size = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    int classExtra = 0;
    int windowExtra = 0;
    HINSTANCE instance = nullptr;
    int iconId = 0;       // resource identifier of the large icon, 0 when none
    int smallIconId = 0;  // of the small icon
    bool arrowCursor = false;
    LONG_PTR brush = 0;
    int menuId = 0;  // resource identifier of the class menu, 0 when none
};
std::optional<ClassRecord> RegisteredClass(const std::string& className);

// The resource identifier of an icon handed out by LoadIconA (0 for a system icon or none).
int IconResourceId(HICON icon);

// The class menu of a window, read from its RT_MENU resource.
struct MenuItem {
    std::string path;  // "&File/E&xit"
    int command = 0;   // 0 for a popup
    bool popup = false;
};
std::vector<MenuItem> WindowMenu(HWND window);
// Chooses the item with this command in the window's class menu, as a click does: posts WM_COMMAND
// to the window. False when the menu has no such item.
bool ChooseMenuCommand(HWND window, int command);

// The entries of an accelerator table handed out by LoadAcceleratorsA.
struct AccelEntry {
    BYTE flags = 0;  // FVIRTKEY, FSHIFT, FCONTROL, FALT
    WORD key = 0;
    WORD command = 0;
};
std::vector<AccelEntry> AcceleratorEntries(HACCEL table);
// The lParam of a character message typed with the Alt key held (context code set).
constexpr LPARAM kAltDown = LPARAM{1} << 29;

}  // namespace sim
