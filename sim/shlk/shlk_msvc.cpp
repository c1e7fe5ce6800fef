// The simulated driver library as the maker builds it: compiled for the MSVC C++ ABI (clang with a
// *-windows-msvc target) and linked by lld-link, so its objects carry the tables the maker's
// compiler gives them, with one entry for a virtual destructor. It stands alone: no C or C++
// runtime, the few kernel calls declared here, memory from the process heap, and its interfaces
// declared the way the maker's own header declares them (plain virtual destructors).
//
// It follows the settings of shlk_control.h that a harness uses (QLX_SHLK_DEVICES, _VERSION,
// _CREATE, _REPLY, _STATUS, _LOG, _NOTIFY_MS), read once when the library is loaded, and logs each
// call by the entry it reached. An entry nobody should call logs "wrong entry ...", and an object
// freed by its destructor entry logs "free ...": a caller whose table is off by one shows there.
//
// Built by sim/shlk/CMakeLists.txt for the Windows targets only; the host build never compiles it.

#if defined(_MSC_VER)
#define QLX_WINAPI __stdcall
#define QLX_IMPORT extern "C" __declspec(dllimport)
#define QLX_EXPORT extern "C" __declspec(dllexport)
#else  // read by tools for another target: same code, no Windows decorations
#define QLX_WINAPI
#define QLX_IMPORT extern "C"
#define QLX_EXPORT extern "C"
#endif

using Size = decltype(sizeof 0);
using Dword = unsigned long;  // 32 bits in this ABI
using Handle = void*;

// ---- KERNEL32, as documented -----------------------------------------------------------------------

QLX_IMPORT Dword QLX_WINAPI GetEnvironmentVariableA(const char* name, char* buffer, Dword size);
QLX_IMPORT Handle QLX_WINAPI GetProcessHeap();
QLX_IMPORT void* QLX_WINAPI HeapAlloc(Handle heap, Dword flags, Size bytes);
QLX_IMPORT int QLX_WINAPI HeapFree(Handle heap, Dword flags, void* memory);
QLX_IMPORT void QLX_WINAPI InitializeCriticalSection(void* section);
QLX_IMPORT void QLX_WINAPI EnterCriticalSection(void* section);
QLX_IMPORT void QLX_WINAPI LeaveCriticalSection(void* section);
using ThreadStart = Dword(QLX_WINAPI*)(void* parameter);
QLX_IMPORT Handle QLX_WINAPI CreateThread(void* attributes, Size stackSize, ThreadStart start,
                                          void* parameter, Dword flags, Dword* threadId);
QLX_IMPORT int QLX_WINAPI CloseHandle(Handle handle);
QLX_IMPORT void QLX_WINAPI Sleep(Dword milliseconds);
QLX_IMPORT Handle QLX_WINAPI CreateFileA(const char* name, Dword access, Dword share, void* security,
                                         Dword disposition, Dword attributes, Handle templateFile);
QLX_IMPORT int QLX_WINAPI WriteFile(Handle file, const void* buffer, Dword bytes, Dword* written,
                                    void* overlapped);

constexpr Dword kFileAppendData = 0x0004;
constexpr Dword kFileShareReadWrite = 0x0001 | 0x0002;
constexpr Dword kOpenAlways = 4;
constexpr Dword kFileAttributeNormal = 0x80;
constexpr Dword kDllProcessAttach = 1;

// ---- What the runtime would give: memory, and the entry point ----------------------------------------

void* operator new(Size bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes == 0 ? 1 : bytes); }
void operator delete(void* memory) noexcept {
    if (memory != nullptr) {
        HeapFree(GetProcessHeap(), 0, memory);
    }
}
void operator delete(void* memory, Size /*bytes*/) noexcept { operator delete(memory); }

extern "C" {
// The compiler may call these for copies and clears of its own.
void* memcpy(void* to, const void* from, Size n) {
    auto* d = static_cast<unsigned char*>(to);
    const auto* s = static_cast<const unsigned char*>(from);
    for (Size i = 0; i < n; ++i) {
        d[i] = s[i];
    }
    return to;
}
void* memset(void* to, int value, Size n) {
    auto* d = static_cast<unsigned char*>(to);
    for (Size i = 0; i < n; ++i) {
        d[i] = static_cast<unsigned char>(value);
    }
    return to;
}
// Called through an abstract class's table only by a broken caller.
int _purecall() { return 0; }
}

namespace {

// ---- The maker's interfaces ---------------------------------------------------------------------------

class BaseDevice;
using DevicesChangedCallback = void (*)(BaseDevice* context);
using ReceiveCallback = int (*)(const unsigned char* bytes, int length, void* context);

class DriverInput {
public:
    virtual ~DriverInput() = default;
    virtual int Reserved1() = 0;
    virtual int SetReceiveCallback(ReceiveCallback callback, void* context) = 0;
};

class DriverOutput {
public:
    virtual ~DriverOutput() = default;
    virtual int Reserved1() = 0;
    virtual int SendBytes(const unsigned char* bytes, int length) = 0;
};

class DriverDevice {
public:
    virtual ~DriverDevice() = default;
    virtual int Reserved1() = 0;
    virtual int Reserved2() = 0;
    virtual int ProductId() = 0;
    virtual int HasInput() = 0;
    virtual int HasOutput() = 0;
    virtual DriverInput* OpenInput(int index) = 0;
    virtual DriverOutput* OpenOutput(int index) = 0;
};

class Connection {
public:
    virtual int DeviceCount() = 0;
    virtual DriverDevice* Device(int index) = 0;
    virtual ~Connection() = default;
};

// ---- Settings and the lock --------------------------------------------------------------------------

constexpr int kMaxDevices = 16;
constexpr int kMaxStatus = 64;
constexpr int kMaxPath = 260;
constexpr int kTextSize = 512;

struct DeviceSpec {
    bool null;
    int productId;
    int hasInput;
    int hasOutput;
};

enum class ReplyMode { Thread, Sync, None };

struct Settings {
    DeviceSpec devices[kMaxDevices];
    int deviceCount;
    int version;
    bool createNull;
    ReplyMode reply;
    unsigned char status[kMaxStatus];
    int statusLength;
    char logPath[kMaxPath];
    int notifyMs;
};

constinit Settings settings{};
constinit bool notifyScheduled = false;
// Room for a CRITICAL_SECTION on either target.
alignas(16) constinit unsigned char lockStorage[64]{};
constinit char text[kTextSize]{};  // scratch for reading settings and writing log lines (lock held)

class Held {
public:
    Held() { EnterCriticalSection(lockStorage); }
    ~Held() { LeaveCriticalSection(lockStorage); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

bool Same(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// A decimal number at *p (optional sign); advances p past it.
int ReadNumber(const char*& p) {
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    int value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p - '0');
        ++p;
    }
    return negative ? -value : value;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// "81:io;5:o;81:2/1;null"
void ParseDevices(const char* p) {
    settings.deviceCount = 0;
    while (*p != '\0') {
        const char* end = p;
        while (*end != '\0' && *end != ';') {
            ++end;
        }
        if (end != p && settings.deviceCount < kMaxDevices) {
            DeviceSpec& spec = settings.devices[settings.deviceCount++];
            spec = DeviceSpec{};
            if (end - p == 4 && p[0] == 'n' && p[1] == 'u' && p[2] == 'l' && p[3] == 'l') {
                spec.null = true;
            } else {
                const char* q = p;
                spec.productId = ReadNumber(q);
                if (q < end && *q == ':') {
                    ++q;
                    if (*q >= '0' && *q <= '9') {  // "in/out" answers
                        spec.hasInput = ReadNumber(q);
                        if (q < end && *q == '/') {
                            ++q;
                            spec.hasOutput = ReadNumber(q);
                        }
                    } else {
                        for (; q < end; ++q) {
                            spec.hasInput |= *q == 'i' ? 1 : 0;
                            spec.hasOutput |= *q == 'o' ? 1 : 0;
                        }
                    }
                }
            }
        }
        p = *end == ';' ? end + 1 : end;
    }
}

void ParseStatus(const char* p) {
    settings.statusLength = 0;
    int high = -1;
    for (; *p != '\0' && settings.statusLength < kMaxStatus; ++p) {
        const int digit = HexDigit(*p);
        if (digit < 0) {
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            settings.status[settings.statusLength++] = static_cast<unsigned char>(high * 16 + digit);
            high = -1;
        }
    }
}

// The setting's value in `text`, or false when it is not set (or too long to be meant).
bool Setting(const char* name) {
    const Dword n = GetEnvironmentVariableA(name, text, kTextSize);
    return n > 0 && n < kTextSize;
}

void ReadSettings() {
    ParseDevices("81:io");
    settings.version = 1;
    settings.reply = ReplyMode::Thread;
    ParseStatus("F0 00 20 29 03 01 7F 20 00 09 05 01 00 F7");
    settings.notifyMs = -1;
    if (Setting("QLX_SHLK_DEVICES")) {
        ParseDevices(text);
    }
    if (Setting("QLX_SHLK_VERSION")) {
        const char* p = text;
        settings.version = ReadNumber(p);
    }
    settings.createNull = Setting("QLX_SHLK_CREATE") && Same(text, "null");
    if (Setting("QLX_SHLK_REPLY")) {
        settings.reply = Same(text, "sync")   ? ReplyMode::Sync
                         : Same(text, "none") ? ReplyMode::None
                                              : ReplyMode::Thread;
    }
    if (Setting("QLX_SHLK_STATUS")) {
        ParseStatus(text);
    }
    if (Setting("QLX_SHLK_LOG")) {
        memcpy(settings.logPath, text, kMaxPath - 1);
    }
    if (Setting("QLX_SHLK_NOTIFY_MS")) {
        const char* p = text;
        settings.notifyMs = ReadNumber(p);
    }
}

// ---- The log: one line per call, "what" then optional bytes in hex (lock held) -------------------

class Line {
public:
    explicit Line(const char* what) { Add(what); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    // Appends the line to the log file, when there is one.
    void Write() {
        Add("\r\n");
        if (settings.logPath[0] == '\0') {
            return;
        }
        Handle file = CreateFileA(settings.logPath, kFileAppendData, kFileShareReadWrite, nullptr,
                                  kOpenAlways, kFileAttributeNormal, nullptr);
        if (file == reinterpret_cast<Handle>(-1)) {  // INVALID_HANDLE_VALUE
            return;
        }
        Dword written = 0;
        WriteFile(file, text, static_cast<Dword>(length_), &written, nullptr);
        CloseHandle(file);
    }
    Line& Add(const char* s) {
        while (*s != '\0' && length_ < kTextSize - 3) {
            text[length_++] = *s++;
        }
        return *this;
    }
    Line& Number(int value) {
        char digits[12];
        int n = 0;
        unsigned magnitude = value < 0 ? 0U - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) {
            digits[n++] = '-';
        }
        char out[2] = {' ', '\0'};
        Add(out);
        while (n > 0) {
            out[0] = digits[--n];
            Add(out);
        }
        return *this;
    }
    Line& Bytes(const unsigned char* bytes, int count) {
        const char* hex = "0123456789ABCDEF";
        for (int i = 0; i < count; ++i) {
            const char out[4] = {' ', hex[bytes[i] >> 4], hex[bytes[i] & 15], '\0'};
            Add(out);
        }
        return *this;
    }

private:
    int length_ = 0;
};

void WrongEntry(const char* where) {
    Held held;
    Line("wrong entry").Add(" ").Add(where).Write();
}

// ---- The objects handed out -----------------------------------------------------------------------

constexpr unsigned char kStatusRequest[14] = {0xF0, 0x00, 0x20, 0x29, 0x03, 0x01, 0x7F,
                                              0x60, 0x21, 0x00, 0x00, 0x00, 0x00, 0xF7};

class SimInput;
constinit SimInput* liveInputs = nullptr;  // lock held

class SimInput final : public DriverInput {
public:
    explicit SimInput(int device) : device_(device) {
        Held held;
        next_ = liveInputs;
        liveInputs = this;
    }
    ~SimInput() override {
        // Taking the lock waits for a delivery in progress; after this no callback comes.
        Held held;
        for (SimInput** at = &liveInputs; *at != nullptr; at = &(*at)->next_) {
            if (*at == this) {
                *at = next_;
                break;
            }
        }
        Line("delete input").Write();
    }
    SimInput(const SimInput&) = delete;
    SimInput& operator=(const SimInput&) = delete;
    static void operator delete(void* memory, Size /*bytes*/) {
        {
            Held held;
            Line("free input").Write();
        }
        ::operator delete(memory);
    }

    int Reserved1() override {
        WrongEntry("DriverInput slot 1");
        return 0;
    }
    int SetReceiveCallback(ReceiveCallback callback, void* context) override {
        Held held;
        callback_ = callback;
        context_ = context;
        Line("set-callback").Write();
        return 1;
    }

    // Lock held: hands the status reply to every live input of one device.
    static void ReplyLocked(int device) {
        for (SimInput* input = liveInputs; input != nullptr; input = input->next_) {
            if (input->device_ == device && input->callback_ != nullptr) {
                input->callback_(settings.status, settings.statusLength, input->context_);
                Line("reply").Bytes(settings.status, settings.statusLength).Write();
            }
        }
    }

private:
    int device_;
    ReceiveCallback callback_ = nullptr;
    void* context_ = nullptr;
    SimInput* next_ = nullptr;
};

Dword QLX_WINAPI ReplyThread(void* parameter) {
    Held held;
    SimInput::ReplyLocked(static_cast<int>(reinterpret_cast<Size>(parameter)));
    return 0;
}

class SimOutput final : public DriverOutput {
public:
    explicit SimOutput(int device) : device_(device) {}
    ~SimOutput() override {
        Held held;
        Line("delete output").Write();
    }
    SimOutput(const SimOutput&) = delete;
    SimOutput& operator=(const SimOutput&) = delete;
    static void operator delete(void* memory, Size /*bytes*/) {
        {
            Held held;
            Line("free output").Write();
        }
        ::operator delete(memory);
    }

    int Reserved1() override {
        WrongEntry("DriverOutput slot 1");
        return 0;
    }
    int SendBytes(const unsigned char* bytes, int length) override {
        Held held;
        Line("sent").Bytes(bytes, length).Write();
        bool request = length == 14;
        for (int i = 0; request && i < 14; ++i) {
            request = bytes[i] == kStatusRequest[i];
        }
        if (!request) {
            return 1;
        }
        if (settings.reply == ReplyMode::Sync) {
            SimInput::ReplyLocked(device_);
        } else if (settings.reply == ReplyMode::Thread) {
            // The device index rides as the thread's parameter.
            void* parameter = reinterpret_cast<void*>(static_cast<Size>(device_));
            Handle thread = CreateThread(nullptr, 0, &ReplyThread, parameter, 0, nullptr);
            if (thread == nullptr) {
                SimInput::ReplyLocked(device_);  // no thread to be had: answer here rather than never
            } else {
                CloseHandle(thread);
            }
        }
        return 1;
    }

private:
    int device_;
};

class SimDevice final : public DriverDevice {
public:
    SimDevice(const DeviceSpec& spec, int index) : spec_(spec), index_(index) {}
    ~SimDevice() override {
        Held held;
        Line("delete device").Write();
    }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;
    static void operator delete(void* memory, Size /*bytes*/) {
        {
            Held held;
            Line("free device").Write();
        }
        ::operator delete(memory);
    }

    int Reserved1() override {
        WrongEntry("DriverDevice slot 1");
        return 0;
    }
    int Reserved2() override {
        WrongEntry("DriverDevice slot 2");
        return 0;
    }
    int ProductId() override {
        Held held;
        Line("product-id").Number(spec_.productId).Write();
        return spec_.productId;
    }
    int HasInput() override {
        Held held;
        Line("has-input").Number(spec_.hasInput).Write();
        return spec_.hasInput;
    }
    int HasOutput() override {
        Held held;
        Line("has-output").Number(spec_.hasOutput).Write();
        return spec_.hasOutput;
    }
    DriverInput* OpenInput(int index) override {
        {
            Held held;
            Line("open-input").Number(index).Write();
        }
        return new SimInput(index_);
    }
    DriverOutput* OpenOutput(int index) override {
        {
            Held held;
            Line("open-output").Number(index).Write();
        }
        return new SimOutput(index_);
    }

private:
    DeviceSpec spec_;
    int index_;
};

class SimConnection;
constinit SimConnection* liveConnections = nullptr;  // newest first; lock held

class SimConnection final : public Connection {
public:
    SimConnection(DevicesChangedCallback callback, BaseDevice* context)
        : callback_(callback), context_(context) {
        next_ = liveConnections;
        liveConnections = this;
    }
    ~SimConnection() override = default;
    SimConnection(const SimConnection&) = delete;
    SimConnection& operator=(const SimConnection&) = delete;

    int DeviceCount() override {
        Held held;
        Line("device-count").Number(settings.deviceCount).Write();
        return settings.deviceCount;
    }
    DriverDevice* Device(int index) override {
        {
            Held held;
            Line("device").Number(index).Write();
            if (index < 0 || index >= settings.deviceCount || settings.devices[index].null) {
                return nullptr;
            }
        }
        return new SimDevice(settings.devices[index], index);
    }

    // Lock held: takes this connection off the live list; false when it was not on it.
    bool UnlinkLocked() {
        for (SimConnection** at = &liveConnections; *at != nullptr; at = &(*at)->next_) {
            if (*at == this) {
                *at = next_;
                return true;
            }
        }
        return false;
    }
    void Notify() const { callback_(context_); }

private:
    DevicesChangedCallback callback_;
    BaseDevice* context_;
    SimConnection* next_ = nullptr;
};

// Calls the devices-changed callback of the newest connection, without the lock held: the callback
// comes straight back into SHLKDestroy and SHLKCreate.
Dword QLX_WINAPI NotifyThread(void* /*parameter*/) {
    Sleep(static_cast<Dword>(settings.notifyMs));
    SimConnection* newest = nullptr;
    {
        Held held;
        newest = liveConnections;
        Line("notify").Write();
    }
    if (newest != nullptr) {
        newest->Notify();
    }
    return 0;
}

}  // namespace

// ---- Exports ----------------------------------------------------------------------------------------

QLX_EXPORT int SHLKGetVersion() {
    Held held;
    Line("version").Write();
    return settings.version;
}

QLX_EXPORT Connection* SHLKCreate(DevicesChangedCallback callback, BaseDevice* context) {
    Held held;
    Line("create").Write();
    if (settings.createNull || callback == nullptr) {
        return nullptr;
    }
    auto* connection = new SimConnection(callback, context);
    if (settings.notifyMs >= 0 && !notifyScheduled) {
        notifyScheduled = true;
        Handle thread = CreateThread(nullptr, 0, &NotifyThread, nullptr, 0, nullptr);
        if (thread != nullptr) {
            CloseHandle(thread);
        }
    }
    return connection;
}

QLX_EXPORT void SHLKDestroy(Connection* connection) {
    auto* ours = static_cast<SimConnection*>(connection);
    {
        Held held;
        Line("destroy").Write();
        if (ours == nullptr || !ours->UnlinkLocked()) {
            return;  // not ours, or given back twice: leave it alone
        }
    }
    delete ours;
}

// The loader's entry: the lock and the settings, before any export can be called.
extern "C" int QLX_WINAPI _DllMainCRTStartup(void* /*module*/, Dword reason, void* /*reserved*/) {
    if (reason == kDllProcessAttach) {
        InitializeCriticalSection(lockStorage);
        ReadSettings();
    }
    return 1;
}
