// The window manager of the host stand-in, shared by the USER32 and COMCTL32 pieces: classes,
// windows and the message queue of each thread. Everything here is used with the lock held.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/api/user32.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim/user32.h"

namespace host {

struct WindowClass {
    std::string name;
    WNDCLASSEXA info{};
    bool builtin = false;  // system classes (dialog, static, progress bar) cannot be unregistered
};

struct Window {
    HWND handle = nullptr;
    std::string className;
    WNDPROC proc = nullptr;
    std::thread::id thread;
    HWND parent = nullptr;  // HWND_MESSAGE for message-only windows
    HWND owner = nullptr;
    int id = 0;  // control identifier of a child
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};
    bool visible = false;
    HMENU menu = nullptr;
    LONG_PTR userData = 0;
    std::vector<HWND> children;
    // Dialogs
    DLGPROC dialogProc = nullptr;
    bool modal = false;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
    // Progress-bar control state
    int rangeMin = 0;
    int rangeMax = 100;
    int position = 0;
};

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
};

struct MessageQueue {
    std::deque<MSG> posted;
    std::deque<SentMessage*> sent;
    bool quit = false;
    int quitCode = 0;
};

struct WindowManager {
    std::map<std::string, WindowClass> classes;  // keyed by lower-case name
    std::map<HWND, std::shared_ptr<Window>> windows;
    std::map<std::thread::id, MessageQueue> queues;
    std::uintptr_t nextHandle = 0x10000;
    int screenWidth = 1920;
    int screenHeight = 1080;
    HWND foreground = nullptr;
    std::vector<sim::ShowOrPost> showAndPost;  // every ShowWindow and PostMessageA, in order
};

WindowManager& WM();
std::string LowerCase(std::string text);
std::shared_ptr<Window> FindWindowLocked(HWND handle);
// Creates a window record of a registered class and gives it a handle; no messages are sent.
std::shared_ptr<Window> NewWindowLocked(const std::string& className, WNDPROC proc);
// Registers a class that the system provides (the stand-in's dialog, static and progress classes).
void RegisterBuiltinClassLocked(const std::string& name, WNDPROC proc);

// Calls a window's procedure on the calling thread, without the lock held (lock is released and
// taken again around the call).
LRESULT CallWindowLocked(Guard& lock, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// PostMessageA and SendMessageA as the stand-in itself uses them (the program does not see these
// as its own platform calls).
BOOL PostToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Handles the messages sent to the calling thread from other threads (as Windows does inside
// GetMessageA and other waits). Returns whether any was handled.
bool HandleSentMessagesLocked(Guard& lock);

}  // namespace host
