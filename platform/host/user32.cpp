// USER32 of the host stand-in: classes, windows and message queues.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"
#include "platform/host/windowing.h"
#include "platform/win32.h"

namespace host {

WindowManager& WM() {
    static WindowManager* wm = new WindowManager();
    return *wm;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

std::shared_ptr<Window> FindWindowLocked(HWND handle) {
    auto it = WM().windows.find(handle);
    return it == WM().windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> NewWindowLocked(const std::string& className, WNDPROC proc) {
    auto window = std::make_shared<Window>();
    window->handle = reinterpret_cast<HWND>(WM().nextHandle);
    WM().nextHandle += 2;
    window->className = className;
    window->proc = proc;
    window->thread = std::this_thread::get_id();
    WM().windows[window->handle] = window;
    return window;
}

void RegisterBuiltinClassLocked(const std::string& name, WNDPROC proc) {
    WindowClass cls;
    cls.name = name;
    cls.info.cbSize = sizeof(WNDCLASSEXA);
    cls.info.lpfnWndProc = proc;
    cls.builtin = true;
    WM().classes[LowerCase(name)] = cls;
}

LRESULT CallWindowLocked(Guard& lock, HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<Window> window = FindWindowLocked(handle);
    if (!window || window->proc == nullptr) {
        return 0;
    }
    WNDPROC proc = window->proc;
    lock.unlock();
    LRESULT result = proc(handle, message, wParam, lParam);
    lock.lock();
    return result;
}

bool HandleSentMessagesLocked(Guard& lock) {
    MessageQueue& queue = WM().queues[std::this_thread::get_id()];
    bool any = false;
    while (!queue.sent.empty()) {
        SentMessage* sent = queue.sent.front();
        queue.sent.pop_front();
        sent->result = CallWindowLocked(lock, sent->window, sent->message, sent->wParam, sent->lParam);
        sent->done = true;
        WakeLocked();
        any = true;
    }
    return any;
}

namespace {

const ResetHook resetWindows([] {
    WindowManager& wm = WM();
    wm.windows.clear();
    wm.queues.clear();
    std::erase_if(wm.classes, [](const auto& entry) { return !entry.second.builtin; });
    wm.screenWidth = 1920;
    wm.screenHeight = 1080;
    wm.foreground = nullptr;
    wm.showAndPost.clear();
});

void DestroyTreeLocked(Guard& lock, HWND handle) {
    std::shared_ptr<Window> window = FindWindowLocked(handle);
    if (!window) {
        return;
    }
    CallWindowLocked(lock, handle, WM_DESTROY, 0, 0);
    for (HWND child : window->children) {
        DestroyTreeLocked(lock, child);
    }
    if (std::shared_ptr<Window> parent = FindWindowLocked(window->parent)) {
        std::erase(parent->children, handle);
    }
    WM().windows.erase(handle);
    if (WM().foreground == handle) {
        WM().foreground = nullptr;
    }
}

}  // namespace
}  // namespace host

using host::Guard;
using host::WM;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA) ||
        windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr) {
        return 0;
    }
    Guard lock(host::Mutex());
    std::string key = host::LowerCase(windowClass->lpszClassName);
    if (WM().classes.contains(key)) {
        return 0;  // already registered
    }
    host::WindowClass cls;
    cls.name = windowClass->lpszClassName;
    cls.info = *windowClass;
    cls.info.lpszClassName = nullptr;  // the caller's text need not outlive the call
    cls.info.lpszMenuName = IS_INTRESOURCE(windowClass->lpszMenuName) ? windowClass->lpszMenuName : nullptr;
    WM().classes[key] = cls;
    return static_cast<ATOM>(0xC000u + WM().classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE /*instance*/) {
    if (className == nullptr || IS_INTRESOURCE(className)) {
        return FALSE;
    }
    Guard lock(host::Mutex());
    std::string key = host::LowerCase(className);
    auto it = WM().classes.find(key);
    if (it == WM().classes.end() || it->second.builtin) {
        return FALSE;
    }
    for (const auto& [handle, window] : WM().windows) {
        if (host::LowerCase(window->className) == key) {
            return FALSE;  // the class still has windows
        }
    }
    WM().classes.erase(it);
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                            LPVOID param) {
    if (host::FailsSettingLastError("CreateWindowExA")) {
        return nullptr;
    }
    Guard lock(host::Mutex());
    if (className == nullptr || IS_INTRESOURCE(className)) {
        return nullptr;
    }
    auto cls = WM().classes.find(host::LowerCase(className));
    if (cls == WM().classes.end()) {
        return nullptr;
    }
    if (parent != nullptr && parent != HWND_MESSAGE && !host::FindWindowLocked(parent)) {
        return nullptr;
    }
    std::shared_ptr<host::Window> window =
        host::NewWindowLocked(cls->second.name, cls->second.info.lpfnWndProc);
    window->text = windowName == nullptr ? "" : windowName;
    window->style = style;
    window->exStyle = exStyle;
    window->parent = parent;
    window->menu = (style & WS_CHILD) != 0 ? nullptr : menu;
    window->id = (style & WS_CHILD) != 0 ? static_cast<int>(reinterpret_cast<LONG_PTR>(menu)) : 0;
    int left = x == CW_USEDEFAULT ? 0 : x;
    int top = x == CW_USEDEFAULT ? 0 : y;
    int w = width == CW_USEDEFAULT ? 0 : width;
    int h = width == CW_USEDEFAULT ? 0 : height;
    window->rect = RECT{left, top, left + w, top + h};
    window->visible = (style & WS_VISIBLE) != 0;
    if (auto parentWindow = host::FindWindowLocked(parent)) {
        parentWindow->children.push_back(window->handle);
    }
    HWND handle = window->handle;
    CREATESTRUCTA create{param,      instance,  menu,   parent, h, w, top, left, static_cast<LONG>(style),
                         windowName, className, exStyle};
    LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (host::CallWindowLocked(lock, handle, WM_NCCREATE, 0, createParam) == 0 ||
        host::CallWindowLocked(lock, handle, WM_CREATE, 0, createParam) == -1) {
        host::DestroyTreeLocked(lock, handle);
        return nullptr;
    }
    return host::FindWindowLocked(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND handle) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    // Only the thread that created a window may destroy it.
    if (!window || window->thread != std::this_thread::get_id()) {
        return FALSE;
    }
    host::DestroyTreeLocked(lock, handle);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0u) == SC_CLOSE) {
                host::SendToWindow(window, WM_CLOSE, 0, 0);
            }
            return 0;
        default:
            return 0;
    }
}

BOOL WINAPI ShowWindow(HWND handle, int command) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    WM().showAndPost.push_back(sim::ShowOrPost{.kind = sim::ShowOrPost::Kind::Show,
                                               .window = handle,
                                               .showCommand = command,
                                               .done = window != nullptr});
    if (!window) {
        return FALSE;
    }
    bool was = window->visible;
    window->visible = command != SW_HIDE;
    return was ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND handle) {
    Guard lock(host::Mutex());
    return host::FindWindowLocked(handle) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND handle) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    return window && window->visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindow(HWND handle) {
    Guard lock(host::Mutex());
    return host::FindWindowLocked(handle) ? TRUE : FALSE;
}

BOOL WINAPI GetWindowRect(HWND handle, LPRECT rect) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    if (!window || rect == nullptr) {
        return FALSE;
    }
    *rect = window->rect;
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND handle, HWND /*insertAfter*/, int x, int y, int cx, int cy, UINT flags) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    if (!window) {
        return FALSE;
    }
    RECT& r = window->rect;
    LONG width = (flags & SWP_NOSIZE) != 0 ? r.right - r.left : cx;
    LONG height = (flags & SWP_NOSIZE) != 0 ? r.bottom - r.top : cy;
    if ((flags & SWP_NOMOVE) == 0) {
        r.left = x;
        r.top = y;
    }
    r.right = r.left + width;
    r.bottom = r.top + height;
    return TRUE;
}

BOOL WINAPI SetForegroundWindow(HWND handle) {
    Guard lock(host::Mutex());
    if (!host::FindWindowLocked(handle)) {
        return FALSE;
    }
    WM().foreground = handle;
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    Guard lock(host::Mutex());
    switch (index) {
        case SM_CXSCREEN:
            return WM().screenWidth;
        case SM_CYSCREEN:
            return WM().screenHeight;
        default:
            return 0;
    }
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    if (!window || index != GWLP_USERDATA) {
        return 0;
    }
    LONG_PTR previous = window->userData;
    window->userData = value;
    return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND handle, int index) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    if (!window || index != GWLP_USERDATA) {
        return 0;
    }
    return window->userData;
}

HDC WINAPI BeginPaint(HWND handle, LPPAINTSTRUCT paint) {
    if (paint != nullptr) {
        std::memset(paint, 0, sizeof(*paint));
    }
    return reinterpret_cast<HDC>(handle);
}

BOOL WINAPI EndPaint(HWND /*window*/, const PAINTSTRUCT* /*paint*/) { return TRUE; }

// ---- Message queues ------------------------------------------------------------------------------

BOOL WINAPI GetMessageA(LPMSG msg, HWND /*window*/, UINT /*filterMin*/, UINT /*filterMax*/) {
    Guard lock(host::Mutex());
    std::thread::id self = std::this_thread::get_id();
    for (;;) {
        host::MessageQueue& queue = WM().queues[self];
        if (!queue.sent.empty()) {
            host::HandleSentMessagesLocked(lock);
            continue;
        }
        if (!queue.posted.empty()) {
            *msg = queue.posted.front();
            queue.posted.pop_front();
            return msg->message == WM_QUIT ? FALSE : TRUE;
        }
        if (queue.quit) {
            queue.quit = false;
            *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, 0, {}};
            return FALSE;
        }
        host::BlockUntil(
            lock,
            [self] {
                const host::MessageQueue& q = WM().queues[self];
                return !q.sent.empty() || !q.posted.empty() || q.quit;
            },
            std::nullopt);
    }
}

BOOL WINAPI TranslateMessage(const MSG* /*msg*/) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (msg == nullptr || msg->hwnd == nullptr) {
        return 0;
    }
    Guard lock(host::Mutex());
    return host::CallWindowLocked(lock, msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (host::FailsSettingLastError("PostMessageA")) {
        return FALSE;
    }
    return host::PostToWindow(handle, message, wParam, lParam);
}

LRESULT WINAPI SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (host::FailsSettingLastError("SendMessageA")) {
        return 0;
    }
    return host::SendToWindow(handle, message, wParam, lParam);
}

BOOL host::PostToWindow(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Guard lock(host::Mutex());
    std::thread::id target = std::this_thread::get_id();
    std::shared_ptr<host::Window> window = handle == nullptr ? nullptr : host::FindWindowLocked(handle);
    WM().showAndPost.push_back(sim::ShowOrPost{.kind = sim::ShowOrPost::Kind::Post,
                                               .window = handle,
                                               .message = message,
                                               .wParam = wParam,
                                               .done = handle == nullptr || window != nullptr});
    if (handle != nullptr) {
        if (!window) {
            return FALSE;
        }
        target = window->thread;
    }
    WM().queues[target].posted.push_back(MSG{
        handle, message, wParam, lParam, static_cast<DWORD>(host::NowLocked() / host::kNanosPerMilli), {}});
    host::WakeLocked();
    return TRUE;
}

LRESULT host::SendToWindow(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Guard lock(host::Mutex());
    std::shared_ptr<host::Window> window = host::FindWindowLocked(handle);
    if (!window) {
        return 0;
    }
    if (window->thread == std::this_thread::get_id()) {
        return host::CallWindowLocked(lock, handle, message, wParam, lParam);
    }
    // Across threads: the owner handles it inside its own message retrieval; the sender waits.
    host::SentMessage sent{handle, message, wParam, lParam};
    WM().queues[window->thread].sent.push_back(&sent);
    host::WakeLocked();
    auto answered = [&sent] { return sent.done; };
    host::BlockUntil(lock, answered, std::nullopt);
    return sent.result;
}

void WINAPI PostQuitMessage(int exitCode) {
    Guard lock(host::Mutex());
    host::MessageQueue& queue = WM().queues[std::this_thread::get_id()];
    queue.quit = true;
    queue.quitCode = exitCode;
    host::WakeLocked();
}

// ---- Control surface -----------------------------------------------------------------------------

namespace sim {

namespace {
WindowInfo InfoOf(const host::Window& w) {
    return WindowInfo{w.handle, w.className, w.text, w.style, w.visible, w.rect, w.parent, w.id};
}
}  // namespace

std::vector<WindowInfo> Windows() {
    Guard lock(host::Mutex());
    std::vector<WindowInfo> result;
    for (const auto& [handle, window] : WM().windows) {
        result.push_back(InfoOf(*window));
    }
    return result;
}

std::optional<WindowInfo> FindWindowByClass(const std::string& className) {
    for (const WindowInfo& info : Windows()) {
        if (host::LowerCase(info.className) == host::LowerCase(className)) {
            return info;
        }
    }
    return std::nullopt;
}

std::optional<WindowInfo> FindWindowByText(const std::string& text) {
    for (const WindowInfo& info : Windows()) {
        if (info.text == text) {
            return info;
        }
    }
    return std::nullopt;
}

HWND ForegroundWindow() {
    Guard lock(host::Mutex());
    return WM().foreground;
}

void SetScreenSize(int width, int height) {
    Guard lock(host::Mutex());
    WM().screenWidth = width;
    WM().screenHeight = height;
}

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return host::PostToWindow(window, message, wParam, lParam) != FALSE;
}

std::vector<ShowOrPost> ShowAndPostCalls() {
    Guard lock(host::Mutex());
    return WM().showAndPost;
}

}  // namespace sim
