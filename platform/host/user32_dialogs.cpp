// USER32 of the host stand-in, dialogs: windows made from the extended dialog templates of the
// resource table, the default dialog handling, and the modal loop.
#include <cstring>
#include <map>
#include <utility>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/resources.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/host/sim/dialogs.h"
#include "platform/host/windowing.h"
#include "platform/win32.h"

namespace {

using host::Guard;
using host::WM;

constexpr const char* kDialogClass = "#32770";
constexpr WORD kBnClicked = 0;

// ---- Template ------------------------------------------------------------------------------------

struct ItemTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
    int id = 0;
    std::string className;
    std::string text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
    std::string caption;
    std::string className;
    std::string fontName;
    int fontPoints = 0;
    std::vector<ItemTemplate> items;
};

// Reads little-endian fields from a byte block; every read is checked against its end.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Word(WORD& out) {
        if (size_ - pos_ < 2) {
            return false;
        }
        out = static_cast<WORD>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool Short(int& out) {
        WORD w = 0;
        if (!Word(w)) {
            return false;
        }
        out = static_cast<std::int16_t>(w);
        return true;
    }
    bool Dword(DWORD& out) {
        WORD low = 0;
        WORD high = 0;
        if (!Word(low) || !Word(high)) {
            return false;
        }
        out = static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16);
        return true;
    }
    bool Byte(std::uint8_t& out) {
        if (size_ - pos_ < 1) {
            return false;
        }
        out = data_[pos_++];
        return true;
    }
    // A zero-terminated UTF-16 text, narrowed (characters outside ASCII become '?').
    bool Text(std::string& out) {
        out.clear();
        for (;;) {
            WORD c = 0;
            if (!Word(c)) {
                return false;
            }
            if (c == 0) {
                return true;
            }
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
    }
    // A name or an ordinal: 0 for none, 0xFFFF and a WORD for an ordinal, else a text.
    bool NameOrOrdinal(std::string& text, int& ordinal) {
        ordinal = -1;
        text.clear();
        WORD first = 0;
        if (size_ - pos_ < 2) {
            return false;
        }
        first = static_cast<WORD>(data_[pos_] | (data_[pos_ + 1] << 8));
        if (first == 0) {
            pos_ += 2;
            return true;
        }
        if (first == 0xFFFF) {
            pos_ += 2;
            WORD value = 0;
            if (!Word(value)) {
                return false;
            }
            ordinal = value;
            return true;
        }
        return Text(text);
    }
    bool Skip(std::size_t count) {
        if (size_ - pos_ < count) {
            return false;
        }
        pos_ += count;
        return true;
    }
    bool AlignDword() { return Skip((4 - pos_ % 4) % 4); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

std::string PredefinedClass(int ordinal) {
    switch (ordinal) {
        case 0x80:
            return "Button";
        case 0x81:
            return "Edit";
        case 0x82:
            return "Static";
        case 0x83:
            return "ListBox";
        case 0x84:
            return "ScrollBar";
        case 0x85:
            return "ComboBox";
        default:
            return {};
    }
}

// Only the extended form (DIALOGEX) is read; anything malformed or cut short fails.
std::optional<DialogTemplate> ParseTemplate(const std::uint8_t* data, std::size_t size) {
    Reader r(data, size);
    DialogTemplate t;
    WORD version = 0;
    WORD signature = 0;
    DWORD helpId = 0;
    WORD count = 0;
    if (!r.Word(version) || !r.Word(signature) || version != 1 || signature != 0xFFFF) {
        return std::nullopt;
    }
    if (!r.Dword(helpId) || !r.Dword(t.exStyle) || !r.Dword(t.style) || !r.Word(count) || !r.Short(t.x) ||
        !r.Short(t.y) || !r.Short(t.cx) || !r.Short(t.cy)) {
        return std::nullopt;
    }
    std::string menu;
    int menuOrdinal = 0;
    int classOrdinal = 0;
    if (!r.NameOrOrdinal(menu, menuOrdinal) || !r.NameOrOrdinal(t.className, classOrdinal) ||
        !r.Text(t.caption)) {
        return std::nullopt;
    }
    if ((t.style & DS_SETFONT) != 0) {
        WORD points = 0;
        WORD weight = 0;
        std::uint8_t italic = 0;
        std::uint8_t charset = 0;
        if (!r.Word(points) || !r.Word(weight) || !r.Byte(italic) || !r.Byte(charset) ||
            !r.Text(t.fontName)) {
            return std::nullopt;
        }
        t.fontPoints = points;
    }
    for (WORD i = 0; i < count; ++i) {
        ItemTemplate item;
        DWORD id = 0;
        int ordinal = 0;
        int textOrdinal = 0;
        WORD extra = 0;
        if (!r.AlignDword() || !r.Dword(helpId) || !r.Dword(item.exStyle) || !r.Dword(item.style) ||
            !r.Short(item.x) || !r.Short(item.y) || !r.Short(item.cx) || !r.Short(item.cy) || !r.Dword(id) ||
            !r.NameOrOrdinal(item.className, ordinal) || !r.NameOrOrdinal(item.text, textOrdinal) ||
            !r.Word(extra) || !r.Skip(extra)) {
            return std::nullopt;
        }
        if (ordinal >= 0) {
            item.className = PredefinedClass(ordinal);
        }
        if (item.className.empty()) {
            return std::nullopt;
        }
        item.id = static_cast<int>(static_cast<std::int32_t>(id));
        t.items.push_back(std::move(item));
    }
    return t;
}

// ---- State ---------------------------------------------------------------------------------------

struct DialogRecord {
    int templateId = 0;
    DialogTemplate layout;
    std::map<int, HWND> controls;  // control id -> window, for the controls of the template
};

struct Dialogs {
    std::map<HWND, DialogRecord> records;
    std::function<void(HWND, int)> observer;
};

Dialogs& D() {
    static auto* d = new Dialogs();
    return *d;
}

const host::ResetHook resetDialogs([] {
    D().records.clear();
    D().observer = nullptr;
});

LRESULT CALLBACK PlainControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// The dialog class's window procedure: the dialog's own procedure first, the default dialog
// handling when it returns FALSE.
LRESULT CALLBACK DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DLGPROC dialogProc = nullptr;
    {
        Guard lock(host::Mutex());
        if (auto w = host::FindWindowLocked(window)) {
            dialogProc = w->dialogProc;
        }
    }
    if (dialogProc != nullptr) {
        INT_PTR handled = dialogProc(window, message, wParam, lParam);
        if (handled != FALSE) {
            return handled;
        }
    }
    switch (message) {
        case WM_CLOSE:
            // The close box means "cancel": the dialog hears it as the IDCANCEL command.
            host::PostToWindow(window, WM_COMMAND, static_cast<WPARAM>(MAKELONG(IDCANCEL, kBnClicked)),
                               reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
            return 0;
        case WM_COMMAND:
        case WM_INITDIALOG:
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

void EnsureClassesLocked() {
    auto& classes = WM().classes;
    if (!classes.contains(host::LowerCase(kDialogClass))) {
        host::RegisterBuiltinClassLocked(kDialogClass, DialogWindowProc);
    }
    for (const char* name : {"Static", "Button", "Edit"}) {
        if (!classes.contains(host::LowerCase(name))) {
            host::RegisterBuiltinClassLocked(name, PlainControlProc);
        }
    }
}

HWND CreateFromTemplate(LPCSTR templateName, HWND parent, DLGPROC dialogProc, LPARAM initParam, bool modal) {
    if (!IS_INTRESOURCE(templateName)) {
        return nullptr;  // the product names its templates by number only
    }
    int templateId = static_cast<int>(reinterpret_cast<ULONG_PTR>(templateName));
    std::shared_ptr<const std::vector<std::uint8_t>> bytes = host::ResourceData(RT_DIALOG, templateName);
    if (!bytes || bytes->empty()) {
        return nullptr;
    }
    std::optional<DialogTemplate> layout = ParseTemplate(bytes->data(), bytes->size());
    if (!layout) {
        return nullptr;
    }

    HWND handle = nullptr;
    {
        Guard lock(host::Mutex());
        EnsureClassesLocked();
        if (parent != nullptr && !host::FindWindowLocked(parent)) {
            return nullptr;
        }
        // Every control class must be known, as on Windows (the progress bar only after
        // InitCommonControlsEx).
        for (const ItemTemplate& item : layout->items) {
            if (!WM().classes.contains(host::LowerCase(item.className))) {
                return nullptr;
            }
        }
        auto dialog = host::NewWindowLocked(kDialogClass, DialogWindowProc);
        handle = dialog->handle;
        dialog->text = layout->caption;
        dialog->style = layout->style & ~static_cast<DWORD>(WS_VISIBLE);
        dialog->exStyle = layout->exStyle;
        dialog->owner = parent;
        dialog->dialogProc = dialogProc;
        dialog->modal = modal;
        int width = sim::DialogUnitsToPixelsX(layout->cx) + 2 * sim::kDialogFrame;
        int height = sim::DialogUnitsToPixelsY(layout->cy) + 2 * sim::kDialogFrame +
                     ((layout->style & WS_CAPTION) == WS_CAPTION ? sim::kDialogCaption : 0);
        int left = sim::DialogUnitsToPixelsX(layout->x);
        int top = sim::DialogUnitsToPixelsY(layout->y);
        dialog->rect = RECT{left, top, left + width, top + height};

        DialogRecord record{templateId, *layout, {}};
        for (const ItemTemplate& item : layout->items) {
            const host::WindowClass& cls = WM().classes[host::LowerCase(item.className)];
            auto control = host::NewWindowLocked(cls.name, cls.info.lpfnWndProc);
            control->parent = handle;
            control->id = item.id;
            control->text = item.text;
            control->style = item.style;
            control->exStyle = item.exStyle;
            control->visible = (item.style & WS_VISIBLE) != 0;
            // Relative to the dialog's client area, in pixels.
            int x = sim::DialogUnitsToPixelsX(item.x);
            int y = sim::DialogUnitsToPixelsY(item.y);
            control->rect =
                RECT{x, y, x + sim::DialogUnitsToPixelsX(item.cx), y + sim::DialogUnitsToPixelsY(item.cy)};
            dialog->children.push_back(control->handle);
            record.controls.emplace(item.id, control->handle);
        }
        D().records.emplace(handle, std::move(record));
    }

    HWND focus = nullptr;
    {
        Guard lock(host::Mutex());
        if (auto dialog = host::FindWindowLocked(handle); dialog && !dialog->children.empty()) {
            focus = dialog->children.front();
        }
    }
    host::SendToWindow(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), initParam);

    bool visible = false;
    std::function<void(HWND, int)> observer;
    {
        Guard lock(host::Mutex());
        auto dialog = host::FindWindowLocked(handle);
        if (!dialog) {
            return nullptr;  // the dialog procedure destroyed it
        }
        visible = (layout->style & WS_VISIBLE) != 0;
        if (visible) {
            dialog->visible = true;
        }
        observer = D().observer;
    }
    if (observer) {
        observer(handle, templateId);
    }
    return handle;
}

}  // namespace

HWND WINAPI CreateDialogParamA(HINSTANCE /*instance*/, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                               LPARAM initParam) {
    if (host::FailsSettingLastError("CreateDialogParamA")) {
        return nullptr;
    }
    return CreateFromTemplate(templateName, parent, dialogProc, initParam, false);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE /*instance*/, LPCSTR templateName, HWND parent, DLGPROC dialogProc,
                               LPARAM initParam) {
    HWND dialog = CreateFromTemplate(templateName, parent, dialogProc, initParam, true);
    if (dialog == nullptr) {
        return -1;
    }
    ShowWindow(dialog, SW_SHOWNORMAL);
    // The modal loop: every message of this thread is dispatched until EndDialog.
    INT_PTR result = 0;
    for (;;) {
        {
            Guard lock(host::Mutex());
            auto window = host::FindWindowLocked(dialog);
            if (!window) {
                break;  // destroyed under us
            }
            if (window->dialogEnded) {
                result = window->dialogResult;
                break;
            }
        }
        MSG msg{};
        if (!GetMessageA(&msg, nullptr, 0, 0)) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // the loop that called us must see it
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DestroyWindow(dialog);
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Guard lock(host::Mutex());
    auto window = host::FindWindowLocked(dialog);
    if (!window || window->dialogProc == nullptr) {
        return FALSE;
    }
    window->dialogEnded = true;
    window->dialogResult = result;
    window->visible = false;
    // Wake the modal loop, which checks after every message.
    WM().queues[window->thread].posted.push_back(MSG{nullptr, WM_NULL, 0, 0, 0, {}});
    host::WakeLocked();
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    Guard lock(host::Mutex());
    auto window = host::FindWindowLocked(dialog);
    if (!window) {
        return nullptr;
    }
    for (HWND child : window->children) {
        auto control = host::FindWindowLocked(child);
        if (control && control->id == id) {
            return child;
        }
    }
    return nullptr;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    if (host::FailsSettingLastError("SendDlgItemMessageA")) {
        return 0;
    }
    HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? 0 : host::SendToWindow(control, message, wParam, lParam);
}

// ---- Control surface -----------------------------------------------------------------------------

namespace sim {

namespace {
DialogInfo InfoLocked(HWND handle, const DialogRecord& record) {
    DialogInfo info;
    info.window = handle;
    info.templateId = record.templateId;
    info.caption = record.layout.caption;
    info.style = record.layout.style;
    info.widthUnits = record.layout.cx;
    info.heightUnits = record.layout.cy;
    info.fontName = record.layout.fontName;
    info.fontPoints = record.layout.fontPoints;
    if (auto w = host::FindWindowLocked(handle)) {
        info.caption = w->text;
        info.modal = w->modal;
    }
    for (const ItemTemplate& item : record.layout.items) {
        DialogControl control{nullptr, item.id, item.className, item.text, item.style,
                              item.x,  item.y,  item.cx,        item.cy};
        auto it = record.controls.find(item.id);
        if (it != record.controls.end()) {
            if (auto w = host::FindWindowLocked(it->second)) {
                control.window = w->handle;
                control.className = w->className;  // as the class was registered
                control.text = w->text;
            }
        }
        info.controls.push_back(std::move(control));
    }
    return info;
}
}  // namespace

std::vector<DialogInfo> Dialogs() {
    Guard lock(host::Mutex());
    std::vector<DialogInfo> result;
    for (const auto& [handle, record] : D().records) {
        if (host::FindWindowLocked(handle)) {
            result.push_back(InfoLocked(handle, record));
        }
    }
    return result;
}

std::optional<DialogInfo> Dialog(HWND dialog) {
    Guard lock(host::Mutex());
    auto it = D().records.find(dialog);
    if (it == D().records.end() || !host::FindWindowLocked(dialog)) {
        return std::nullopt;
    }
    return InfoLocked(dialog, it->second);
}

void SetDialogObserver(std::function<void(HWND, int)> observer) {
    Guard lock(host::Mutex());
    D().observer = std::move(observer);
}

bool ClickCloseBox(HWND window) { return host::PostToWindow(window, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE; }

bool ClickButton(HWND dialog, int id) {
    return host::PostToWindow(dialog, WM_COMMAND, static_cast<WPARAM>(MAKELONG(id, kBnClicked)),
                              reinterpret_cast<LPARAM>(GetDlgItem(dialog, id))) != FALSE;
}

}  // namespace sim
