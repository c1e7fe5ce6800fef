// USER32 of the host stand-in: the user-interface resources (strings, icons, cursors, class menus,
// accelerator tables) read from the executable's compiled resources, and message boxes.
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/resources.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/host/windowing.h"
#include "platform/win32.h"

namespace {

using host::Guard;
using host::WM;

// Accelerator flags of a compiled table entry.
constexpr BYTE kAccelVirtKey = 0x01;
constexpr BYTE kAccelShift = 0x04;
constexpr BYTE kAccelControl = 0x08;
constexpr BYTE kAccelAlt = 0x10;
constexpr WORD kAccelLast = 0x80;
constexpr std::size_t kAccelEntrySize = 8;

// Menu template item flags.
constexpr WORD kMenuPopup = 0x10;
constexpr WORD kMenuEnd = 0x80;
constexpr int kMenuMaxDepth = 8;

constexpr UINT kStringsPerBundle = 16;
constexpr int kGroupIcon = 14;
constexpr int kGroupCursor = 12;

// Icon, cursor and accelerator handles: the resource identifier under a tag, so that a handle says
// what it stands for and never looks like a window.
constexpr std::uintptr_t kTagMask = ~std::uintptr_t{0xFFFF};
constexpr std::uintptr_t kIconTag = 0x51C0000;
constexpr std::uintptr_t kSystemTag = 0x51D0000;
constexpr std::uintptr_t kAccelTag = 0x51E0000;

constexpr int kSystemArrow = 32512;

struct UiState {
    std::map<HACCEL, std::vector<sim::AccelEntry>> accelerators;
    std::vector<sim::MessageBoxRecord> boxes;
    sim::MessageBoxHandler boxHandler;
    int nextBoxSerial = 1;
};

UiState& U() {
    static auto* state = new UiState();  // never destroyed: detached threads may outlive main
    return *state;
}

const host::ResetHook resetUi([] {
    U().accelerators.clear();
    U().boxes.clear();
    U().boxHandler = nullptr;
    U().nextBoxSerial = 1;
});

std::optional<std::vector<std::uint8_t>> ResourceBytes(LPCSTR type, int id) {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes = host::ResourceData(type, MAKEINTRESOURCEA(id));
    if (!bytes) {
        return std::nullopt;
    }
    return *bytes;
}

// Little-endian reader that never reads past the data.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes, std::size_t pos = 0) : bytes_(bytes), pos_(pos) {}
    std::optional<WORD> Word() {
        if (pos_ > bytes_.size() || bytes_.size() - pos_ < 2) {
            return std::nullopt;
        }
        auto value = static_cast<WORD>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return value;
    }
    // A zero-terminated UTF-16 text, as the narrow text the ANSI functions give.
    std::optional<std::string> Text() {
        std::string text;
        for (;;) {
            std::optional<WORD> unit = Word();
            if (!unit) {
                return std::nullopt;
            }
            if (*unit == 0) {
                return text;
            }
            text += Narrow(*unit);
        }
    }
    bool Skip(std::size_t count) {
        if (pos_ > bytes_.size() || bytes_.size() - pos_ < count) {
            return false;
        }
        pos_ += count;
        return true;
    }

    // Western code page: the Latin-1 range passes, everything else becomes '?'.
    static char Narrow(WORD unit) {
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
            return static_cast<char>(static_cast<unsigned char>(unit));
        }
        return '?';
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_;
};

// String `id` from its bundle of sixteen (bundle id / 16 + 1, entry id % 16).
std::optional<std::string> FindString(UINT id) {
    auto bundle = ResourceBytes(RT_STRING, static_cast<int>(id / kStringsPerBundle + 1));
    if (!bundle) {
        return std::nullopt;
    }
    Reader reader(*bundle);
    for (UINT entry = 0; entry < kStringsPerBundle; ++entry) {
        std::optional<WORD> length = reader.Word();
        if (!length) {
            return std::nullopt;
        }
        if (entry == id % kStringsPerBundle) {
            std::string text;
            for (WORD i = 0; i < *length; ++i) {
                std::optional<WORD> unit = reader.Word();
                if (!unit) {
                    return std::nullopt;
                }
                text += Reader::Narrow(*unit);
            }
            return text;
        }
        if (!reader.Skip(std::size_t{*length} * 2)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::vector<sim::AccelEntry> ParseAccelerators(const std::vector<std::uint8_t>& bytes) {
    std::vector<sim::AccelEntry> entries;
    Reader reader(bytes);
    for (std::size_t i = 0; i < bytes.size() / kAccelEntrySize; ++i) {
        WORD flags = reader.Word().value_or(0);
        WORD key = reader.Word().value_or(0);
        WORD command = reader.Word().value_or(0);
        reader.Word();  // padding
        entries.push_back(sim::AccelEntry{static_cast<BYTE>(flags & 0x7F), key, command});
        if ((flags & kAccelLast) != 0) {
            break;
        }
    }
    return entries;
}

bool ParseMenuItems(Reader& reader, const std::string& prefix, int depth, std::vector<sim::MenuItem>& items) {
    for (;;) {
        std::optional<WORD> flags = reader.Word();
        if (!flags) {
            return false;
        }
        bool popup = (*flags & kMenuPopup) != 0;
        WORD command = 0;
        if (!popup) {
            std::optional<WORD> id = reader.Word();
            if (!id) {
                return false;
            }
            command = *id;
        }
        std::optional<std::string> text = reader.Text();
        if (!text) {
            return false;
        }
        items.push_back(sim::MenuItem{prefix + *text, command, popup});
        if (popup &&
            (depth >= kMenuMaxDepth || !ParseMenuItems(reader, prefix + *text + "/", depth + 1, items))) {
            return false;
        }
        if ((*flags & kMenuEnd) != 0) {
            return true;
        }
    }
}

// A standard menu template: header (version 0, offset to the items), then the items.
std::vector<sim::MenuItem> ParseMenu(const std::vector<std::uint8_t>& bytes) {
    Reader reader(bytes);
    std::optional<WORD> version = reader.Word();
    std::optional<WORD> offset = reader.Word();
    std::vector<sim::MenuItem> items;
    if (!version || *version != 0 || !offset || !reader.Skip(*offset) ||
        !ParseMenuItems(reader, "", 0, items)) {
        return {};
    }
    return items;
}

int ResourceIdOf(LPCSTR name) {
    return IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<ULONG_PTR>(name)) : 0;
}

template <typename Handle>
Handle TaggedHandle(std::uintptr_t tag, int id) {
    return reinterpret_cast<Handle>(tag | static_cast<std::uintptr_t>(id & 0xFFFF));
}

int DefaultAnswer(UINT type) {
    switch (type & 0xFu) {
        case MB_OKCANCEL:
        case 3:  // MB_YESNOCANCEL
        case 5:  // MB_RETRYCANCEL
            return IDCANCEL;
        case MB_YESNO:
            return IDNO;
        case 2:        // MB_ABORTRETRYIGNORE
            return 3;  // IDABORT
        default:
            return IDOK;
    }
}

sim::MessageBoxRecord* FindBoxLocked(int serial) {
    for (sim::MessageBoxRecord& box : U().boxes) {
        if (box.serial == serial) {
            return &box;
        }
    }
    return nullptr;
}

// The modal loop of an open box: serves messages sent from other threads and dispatches the
// thread's posted window messages until the box is answered. A quit request stays queued for the
// loop that owns it.
int WaitForAnswerLocked(Guard& lock, int serial) {
    std::thread::id self = std::this_thread::get_id();
    auto postedWaiting = [self] {
        const host::MessageQueue& queue = WM().queues[self];
        return !queue.posted.empty() && queue.posted.front().message != WM_QUIT;
    };
    for (;;) {
        sim::MessageBoxRecord* box = FindBoxLocked(serial);
        if (box == nullptr) {
            return 0;  // the stand-in was reset under the box
        }
        if (box->answered) {
            return box->answer;
        }
        if (host::HandleSentMessagesLocked(lock)) {
            continue;
        }
        if (postedWaiting()) {
            MSG msg = WM().queues[self].posted.front();
            WM().queues[self].posted.pop_front();
            if (msg.hwnd != nullptr) {
                host::CallWindowLocked(lock, msg.hwnd, msg.message, msg.wParam, msg.lParam);
            }
            continue;
        }
        host::BlockUntil(
            lock,
            [self, serial, postedWaiting] {
                const sim::MessageBoxRecord* b = FindBoxLocked(serial);
                return b == nullptr || b->answered || !WM().queues[self].sent.empty() || postedWaiting();
            },
            std::nullopt);
    }
}

}  // namespace

// ---- Strings, icons, cursors ---------------------------------------------------------------------

int WINAPI LoadStringA(HINSTANCE /*instance*/, UINT id, LPSTR buffer, int bufferMax) {
    if (host::FailsSettingLastError("LoadStringA")) {
        return 0;
    }
    if (buffer == nullptr || bufferMax <= 0) {
        return 0;
    }
    std::string text = FindString(id).value_or("");
    std::size_t count = std::min(text.size(), static_cast<std::size_t>(bufferMax - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (host::FailsSettingLastError("LoadIconA")) {
        return nullptr;
    }
    int id = ResourceIdOf(name);
    if (id == 0) {
        return nullptr;  // icons are looked up by number only
    }
    if (instance == nullptr) {
        return id >= 32512 && id <= 32518 ? TaggedHandle<HICON>(kSystemTag, id) : nullptr;
    }
    return ResourceBytes(MAKEINTRESOURCEA(kGroupIcon), id) ? TaggedHandle<HICON>(kIconTag, id) : nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (host::FailsSettingLastError("LoadCursorA")) {
        return nullptr;
    }
    int id = ResourceIdOf(name);
    if (id == 0) {
        return nullptr;
    }
    if (instance == nullptr) {
        return id >= kSystemArrow && id <= 32651 ? TaggedHandle<HCURSOR>(kSystemTag, id) : nullptr;
    }
    return ResourceBytes(MAKEINTRESOURCEA(kGroupCursor), id) ? TaggedHandle<HCURSOR>(kIconTag, id) : nullptr;
}

// ---- Accelerators --------------------------------------------------------------------------------

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE /*instance*/, LPCSTR tableName) {
    if (host::FailsSettingLastError("LoadAcceleratorsA")) {
        return nullptr;
    }
    int id = ResourceIdOf(tableName);
    std::optional<std::vector<std::uint8_t>> bytes = ResourceBytes(RT_ACCELERATOR, id);
    if (id == 0 || !bytes) {
        return nullptr;
    }
    std::vector<sim::AccelEntry> entries = ParseAccelerators(*bytes);
    if (entries.empty()) {
        return nullptr;
    }
    auto handle = TaggedHandle<HACCEL>(kAccelTag, id);
    Guard lock(host::Mutex());
    U().accelerators[handle] = std::move(entries);
    return handle;
}

// Character entries match WM_CHAR and WM_SYSCHAR by character code, virtual-key entries match
// WM_KEYDOWN and WM_SYSKEYDOWN; the Alt key counts as held when the context code (bit 29) is set.
// Shift and Control states are not modelled, so entries that need them never match.
int WINAPI TranslateAcceleratorA(HWND window, HACCEL table, LPMSG msg) {
    if (window == nullptr || msg == nullptr) {
        return 0;
    }
    bool character = msg->message == WM_CHAR || msg->message == WM_SYSCHAR;
    bool key = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
    if (!character && !key) {
        return 0;
    }
    bool alt = (msg->lParam & sim::kAltDown) != 0;
    WORD command = 0;
    bool found = false;
    {
        Guard lock(host::Mutex());
        auto it = U().accelerators.find(table);
        if (it == U().accelerators.end() || !host::FindWindowLocked(window)) {
            return 0;
        }
        for (const sim::AccelEntry& entry : it->second) {
            bool virtualKey = (entry.flags & kAccelVirtKey) != 0;
            if (virtualKey != key || entry.key != msg->wParam || ((entry.flags & kAccelAlt) != 0) != alt) {
                continue;
            }
            if (virtualKey && (entry.flags & (kAccelShift | kAccelControl)) != 0) {
                continue;
            }
            command = entry.command;
            found = true;
            break;
        }
    }
    if (!found) {
        return 0;
    }
    host::SendToWindow(window, WM_COMMAND, static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(command, 1))), 0);
    return 1;
}

// ---- Message boxes -------------------------------------------------------------------------------

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const std::optional<DWORD> error = host::CallFails("MessageBoxA");
    sim::MessageBoxRecord record;
    sim::MessageBoxHandler handler;
    {
        Guard lock(host::Mutex());
        record.serial = U().nextBoxSerial++;
        record.owner = owner;
        record.caption = caption == nullptr ? "Error" : caption;
        record.text = text == nullptr ? "" : text;
        record.type = type;
        record.shownNs = host::NowLocked();
        record.failed = error.has_value();
        U().boxes.push_back(record);
        handler = U().boxHandler;
    }
    if (error) {
        host::SetLastErrorCode(*error);
        return 0;
    }
    std::optional<int> answer = handler ? handler(record) : std::optional<int>(DefaultAnswer(type));
    Guard lock(host::Mutex());
    if (!answer) {
        return WaitForAnswerLocked(lock, record.serial);
    }
    if (sim::MessageBoxRecord* box = FindBoxLocked(record.serial)) {
        box->answered = true;
        box->answer = *answer;
    }
    return *answer;
}

// ---- Control surface -----------------------------------------------------------------------------

namespace sim {

void SetMessageBoxHandler(MessageBoxHandler handler) {
    Guard lock(host::Mutex());
    U().boxHandler = std::move(handler);
}

bool AnswerMessageBox(int serial, int answer) {
    Guard lock(host::Mutex());
    MessageBoxRecord* box = FindBoxLocked(serial);
    if (box == nullptr || box->answered) {
        return false;
    }
    box->answered = true;
    box->answer = answer;
    host::WakeLocked();
    return true;
}

std::vector<MessageBoxRecord> MessageBoxes() {
    Guard lock(host::Mutex());
    return U().boxes;
}

std::vector<BoxButton> ButtonsOf(UINT type) {
    switch (type & 0xFu) {
        case MB_OKCANCEL:
            return {{"OK", IDOK}, {"Cancel", IDCANCEL}};
        case 2:
            return {{"Abort", 3}, {"Retry", 4}, {"Ignore", 5}};
        case 3:
            return {{"Yes", IDYES}, {"No", IDNO}, {"Cancel", IDCANCEL}};
        case MB_YESNO:
            return {{"Yes", IDYES}, {"No", IDNO}};
        case 5:
            return {{"Retry", 4}, {"Cancel", IDCANCEL}};
        default:
            return {{"OK", IDOK}};
    }
}

std::optional<ClassRecord> RegisteredClass(const std::string& className) {
    Guard lock(host::Mutex());
    auto it = WM().classes.find(host::LowerCase(className));
    if (it == WM().classes.end()) {
        return std::nullopt;
    }
    const WNDCLASSEXA& info = it->second.info;
    ClassRecord record;
    record.size = info.cbSize;
    record.style = info.style;
    record.proc = info.lpfnWndProc;
    record.classExtra = info.cbClsExtra;
    record.windowExtra = info.cbWndExtra;
    record.instance = info.hInstance;
    record.iconId = IconResourceId(info.hIcon);
    record.smallIconId = IconResourceId(info.hIconSm);
    record.arrowCursor = info.hCursor == TaggedHandle<HCURSOR>(kSystemTag, kSystemArrow);
    record.brush = reinterpret_cast<LONG_PTR>(info.hbrBackground);
    record.menuId = ResourceIdOf(info.lpszMenuName);
    return record;
}

int IconResourceId(HICON icon) {
    auto value = reinterpret_cast<std::uintptr_t>(icon);
    return (value & kTagMask) == kIconTag ? static_cast<int>(value & 0xFFFF) : 0;
}

std::vector<MenuItem> WindowMenu(HWND window) {
    int menuId = 0;
    {
        Guard lock(host::Mutex());
        std::shared_ptr<host::Window> w = host::FindWindowLocked(window);
        if (!w) {
            return {};
        }
        auto cls = WM().classes.find(host::LowerCase(w->className));
        if (cls == WM().classes.end()) {
            return {};
        }
        menuId = ResourceIdOf(cls->second.info.lpszMenuName);
    }
    std::optional<std::vector<std::uint8_t>> bytes = ResourceBytes(RT_MENU, menuId);
    return menuId == 0 || !bytes ? std::vector<MenuItem>{} : ParseMenu(*bytes);
}

bool ChooseMenuCommand(HWND window, int command) {
    for (const MenuItem& item : WindowMenu(window)) {
        if (!item.popup && item.command == command) {
            return host::PostToWindow(window, WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(command)),
                                      0) != FALSE;
        }
    }
    return false;
}

std::vector<AccelEntry> AcceleratorEntries(HACCEL table) {
    Guard lock(host::Mutex());
    auto it = U().accelerators.find(table);
    return it == U().accelerators.end() ? std::vector<AccelEntry>{} : it->second;
}

}  // namespace sim
