// The simulated driver library: offers configured devices, answers the status request and records
// what it is given. See shlk_control.h for its configuration.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/driver_delete.h"
#include "sim/shlk/shlk_control.h"

#if defined(_WIN32)
#include <windows.h>
#define QLX_EXPORT extern "C" __declspec(dllexport)
#else
#include <chrono>
#include <mutex>
#include <thread>
#define QLX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// ---- The little the library needs from the OS: a recursive lock, a detached thread, a nap --------

#if defined(_WIN32)
class Lock {
public:
    Lock() { InitializeCriticalSection(&section_); }
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

DWORD WINAPI ThreadMain(LPVOID parameter) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(parameter));
    (*job)();
    return 0;
}

void StartThread(std::function<void()> run) {
    auto* job = new std::function<void()>(std::move(run));
    HANDLE thread = CreateThread(nullptr, 0, &ThreadMain, job, 0, nullptr);
    if (thread == nullptr) {
        ThreadMain(job);  // no thread to be had: run it here rather than lose it
        return;
    }
    CloseHandle(thread);
}

void NapMs(int ms) { Sleep(static_cast<DWORD>(ms)); }
#else
using Lock = std::recursive_mutex;

void StartThread(std::function<void()> run) { std::thread(std::move(run)).detach(); }

void NapMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
#endif

Lock& TheLock() {
    static Lock* lock = new Lock();
    return *lock;
}

class Held {
public:
    Held() { TheLock().lock(); }
    ~Held() { TheLock().unlock(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

// ---- Configuration and records -------------------------------------------------------------------

const std::uint8_t kStatusRequest[14] = {0xF0, 0x00, 0x20, 0x29, 0x03, 0x01, 0x7F,
                                         0x60, 0x21, 0x00, 0x00, 0x00, 0x00, 0xF7};

struct DeviceSpec {
    bool null = false;
    std::int32_t productId = 0;
    std::int32_t hasInput = 0;
    std::int32_t hasOutput = 0;
    bool nullInput = false;  // OpenInput gives null
};

enum class ReplyMode { Thread, Sync, None };

class SimInput;

struct Counters {
    std::int32_t version = 0, create = 0, destroy = 0, connections = 0, deviceNew = 0, deviceDelete = 0,
                 productId = 0, hasInput = 0, hasOutput = 0, openInput = 0, openOutput = 0, inputDelete = 0,
                 outputDelete = 0, inputs = 0, outputs = 0, setCallback = 0, replies = 0;
};

struct State {
    std::vector<DeviceSpec> devices;
    std::int32_t version = 1;
    bool createNull = false;
    ReplyMode reply = ReplyMode::Thread;
    std::vector<std::uint8_t> status;
    std::string logPath;
    int notifyMs = -1;
    bool notifyScheduled = false;

    Counters counts;
    std::vector<std::vector<std::uint8_t>> sent;
    std::vector<SimInput*> liveInputs;
    std::vector<QuenwickShadeLink::Connection*> liveConnections;
    int repliesInFlight = 0;
    bool initialised = false;
};

State& S() {
    static State* state = new State();
    return *state;
}

std::vector<std::uint8_t> ParseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digits.push_back(c);
            if (digits.size() == 2) {
                bytes.push_back(static_cast<std::uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
                digits.clear();
            }
        }
    }
    return bytes;
}

std::vector<DeviceSpec> ParseDevices(const std::string& text) {
    std::vector<DeviceSpec> devices;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty()) {
            continue;
        }
        DeviceSpec spec;
        if (item == "null") {
            spec.null = true;
        } else {
            const std::size_t colon = item.find(':');
            spec.productId = static_cast<std::int32_t>(std::strtol(item.c_str(), nullptr, 10));
            std::string sides = colon == std::string::npos ? std::string() : item.substr(colon + 1);
            const std::size_t option = sides.find(':');
            if (option != std::string::npos) {
                spec.nullInput = sides.substr(option + 1) == "nullinput";
                sides.resize(option);
            }
            const std::size_t slash = sides.find('/');
            if (slash != std::string::npos) {
                spec.hasInput = static_cast<std::int32_t>(std::strtol(sides.c_str(), nullptr, 10));
                spec.hasOutput =
                    static_cast<std::int32_t>(std::strtol(sides.c_str() + slash + 1, nullptr, 10));
            } else {
                spec.hasInput = sides.find('i') != std::string::npos ? 1 : 0;
                spec.hasOutput = sides.find('o') != std::string::npos ? 1 : 0;
            }
        }
        devices.push_back(spec);
    }
    return devices;
}

void SetLocked(const std::string& key, const std::string& value) {
    State& s = S();
    if (key == "devices") {
        s.devices = ParseDevices(value);
    } else if (key == "version") {
        s.version = static_cast<std::int32_t>(std::strtol(value.c_str(), nullptr, 10));
    } else if (key == "create") {
        s.createNull = value == "null";
    } else if (key == "reply") {
        s.reply = value == "sync" ? ReplyMode::Sync : value == "none" ? ReplyMode::None : ReplyMode::Thread;
    } else if (key == "status") {
        s.status = ParseHex(value);
    } else if (key == "log") {
        s.logPath = value;
    } else if (key == "notify_ms") {
        s.notifyMs = value.empty() ? -1 : static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
    }
}

void ResetLocked() {
    State& s = S();
    s.devices = ParseDevices("81:io");
    s.version = 1;
    s.createNull = false;
    s.reply = ReplyMode::Thread;
    s.status = ParseHex("F0 00 20 29 03 01 7F 20 00 09 05 01 00 F7");
    s.logPath.clear();
    s.notifyMs = -1;
    s.notifyScheduled = false;
    s.counts = Counters{};
    s.sent.clear();
    const char* keys[] = {"devices", "version", "create", "reply", "status", "log", "notify_ms"};
    for (const char* key : keys) {
        std::string name = "QLX_SHLK_";
        for (const char* c = key; *c != '\0'; ++c) {
            name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*c))));
        }
        if (const char* value = std::getenv(name.c_str())) {
            SetLocked(key, value);
        }
    }
    s.initialised = true;
}

State& Ready() {
    if (!S().initialised) {
        ResetLocked();
    }
    return S();
}

void LogLocked(const char* what, const std::uint8_t* bytes, std::int32_t length) {
    const std::string& path = S().logPath;
    if (path.empty()) {
        return;
    }
    if (FILE* file = std::fopen(path.c_str(), "a")) {
        std::fputs(what, file);
        for (std::int32_t i = 0; i < length; ++i) {
            std::fprintf(file, " %02X", static_cast<unsigned>(bytes[i]));
        }
        std::fputc('\n', file);
        std::fclose(file);
    }
}

// ---- The objects handed out ----------------------------------------------------------------------

class SimInput final : public DriverObject<DriverInput, SimInput> {
public:
    explicit SimInput(std::size_t device) : device_(device) {
        Held held;
        ++Ready().counts.inputs;
        S().liveInputs.push_back(this);
    }
    ~SimInput() {
        // Taking the lock waits for a delivery in progress; after this no callback comes.
        Held held;
        auto& live = S().liveInputs;
        for (auto it = live.begin(); it != live.end(); ++it) {
            if (*it == this) {
                live.erase(it);
                break;
            }
        }
        ++S().counts.inputDelete;
        --S().counts.inputs;
    }
    SimInput(const SimInput&) = delete;
    SimInput& operator=(const SimInput&) = delete;

    std::int32_t Reserved1() override { return 0; }
    std::int32_t SetReceiveCallback(ReceiveCallback callback, void* context) override {
        Held held;
        ++S().counts.setCallback;
        callback_ = callback;
        context_ = context;
        LogLocked("set-callback", nullptr, 0);
        return 1;
    }

    // Lock held.
    bool DeliverLocked(const std::uint8_t* bytes, std::int32_t length) {
        if (callback_ == nullptr) {
            return false;
        }
        callback_(bytes, length, context_);
        return true;
    }
    std::size_t DeviceIndex() const { return device_; }

private:
    std::size_t device_;
    ReceiveCallback callback_ = nullptr;
    void* context_ = nullptr;
};

// Hands the status reply to the inputs of one device. Lock held.
void DeliverReplyLocked(std::size_t device) {
    State& s = S();
    const std::vector<std::uint8_t> reply = s.status;
    const std::vector<SimInput*> inputs = s.liveInputs;
    for (SimInput* input : inputs) {
        if (input->DeviceIndex() == device &&
            input->DeliverLocked(reply.data(), static_cast<std::int32_t>(reply.size()))) {
            ++s.counts.replies;
            LogLocked("reply", reply.data(), static_cast<std::int32_t>(reply.size()));
        }
    }
}

void ReplyThread(std::size_t device) {
    Held held;
    DeliverReplyLocked(device);
    --S().repliesInFlight;
}

class SimOutput final : public DriverObject<DriverOutput, SimOutput> {
public:
    explicit SimOutput(std::size_t device) : device_(device) {
        Held held;
        ++Ready().counts.outputs;
    }
    ~SimOutput() {
        Held held;
        ++S().counts.outputDelete;
        --S().counts.outputs;
    }
    SimOutput(const SimOutput&) = delete;
    SimOutput& operator=(const SimOutput&) = delete;

    std::int32_t Reserved1() override { return 0; }
    std::int32_t SendBytes(const std::uint8_t* bytes, std::int32_t length) override {
        Held held;
        State& s = S();
        s.sent.emplace_back(bytes, bytes + (length > 0 ? length : 0));
        LogLocked("sent", bytes, length);
        const bool request = length == 14 && std::memcmp(bytes, kStatusRequest, 14) == 0;
        if (!request) {
            return 1;
        }
        if (s.reply == ReplyMode::Sync) {
            DeliverReplyLocked(device_);
        } else if (s.reply == ReplyMode::Thread) {
            ++s.repliesInFlight;
            StartThread([device = device_] { ReplyThread(device); });
        }
        return 1;
    }

private:
    std::size_t device_;
};

class SimDevice final : public DriverObject<DriverDevice, SimDevice> {
public:
    SimDevice(const DeviceSpec& spec, std::size_t index) : spec_(spec), index_(index) {
        Held held;
        ++S().counts.deviceNew;
    }
    ~SimDevice() {
        Held held;
        ++S().counts.deviceDelete;
    }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    std::int32_t Reserved1() override { return 0; }
    std::int32_t Reserved2() override { return 0; }
    std::int32_t ProductId() override {
        Count(&Counters::productId);
        return spec_.productId;
    }
    std::int32_t HasInput() override {
        Count(&Counters::hasInput);
        return spec_.hasInput;
    }
    std::int32_t HasOutput() override {
        Count(&Counters::hasOutput);
        return spec_.hasOutput;
    }
    DriverInput* OpenInput(std::int32_t /*index*/) override {
        Count(&Counters::openInput);
        if (spec_.nullInput) {
            return nullptr;
        }
        return new SimInput(index_);
    }
    DriverOutput* OpenOutput(std::int32_t /*index*/) override {
        Count(&Counters::openOutput);
        return new SimOutput(index_);
    }

private:
    static void Count(std::int32_t Counters::*counter) {
        Held held;
        ++(S().counts.*counter);
    }
    DeviceSpec spec_;
    std::size_t index_;
};

class SimConnection final : public DriverObject<QuenwickShadeLink::Connection, SimConnection> {
public:
    SimConnection(DevicesChangedCallback callback, BaseDevice* context, std::vector<DeviceSpec> devices)
        : callback_(callback), context_(context), devices_(std::move(devices)) {}
    SimConnection(const SimConnection&) = delete;
    SimConnection& operator=(const SimConnection&) = delete;

    std::int32_t DeviceCount() override { return static_cast<std::int32_t>(devices_.size()); }
    DriverDevice* Device(std::int32_t index) override {
        if (index < 0 || static_cast<std::size_t>(index) >= devices_.size() ||
            devices_[static_cast<std::size_t>(index)].null) {
            return nullptr;
        }
        return new SimDevice(devices_[static_cast<std::size_t>(index)], static_cast<std::size_t>(index));
    }
    void Notify() const { callback_(context_); }

private:
    DevicesChangedCallback callback_;
    BaseDevice* context_;
    std::vector<DeviceSpec> devices_;
};

// Calls the devices-changed callback of the newest connection, without the lock held (the
// callback comes straight back into SHLKDestroy and SHLKCreate).
bool NotifyNewest() {
    SimConnection* newest = nullptr;
    {
        Held held;
        if (S().liveConnections.empty()) {
            return false;
        }
        newest = static_cast<SimConnection*>(S().liveConnections.back());
        LogLocked("notify", nullptr, 0);
    }
    newest->Notify();
    return true;
}

void NotifyThread(int delayMs) {
    NapMs(delayMs);
    NotifyNewest();
}

}  // namespace

// ---- Exports -------------------------------------------------------------------------------------

QLX_EXPORT std::int32_t SHLK_CALL SHLKGetVersion() {
    Held held;
    ++Ready().counts.version;
    LogLocked("version", nullptr, 0);
    return S().version;
}

QLX_EXPORT QuenwickShadeLink::Connection* SHLK_CALL SHLKCreate(DevicesChangedCallback callback,
                                                               BaseDevice* context) {
    Held held;
    State& s = Ready();
    ++s.counts.create;
    LogLocked("create", nullptr, 0);
    if (s.createNull || callback == nullptr) {
        return nullptr;
    }
    auto* connection = new SimConnection(callback, context, s.devices);
    s.liveConnections.push_back(connection);
    ++s.counts.connections;
    if (s.notifyMs >= 0 && !s.notifyScheduled) {
        s.notifyScheduled = true;
        StartThread([delay = s.notifyMs] { NotifyThread(delay); });
    }
    return connection;
}

#if !defined(QLX_SHLK_WITHOUT_DESTROY)
QLX_EXPORT void SHLK_CALL SHLKDestroy(QuenwickShadeLink::Connection* connection) {
    {
        Held held;
        State& s = Ready();
        ++s.counts.destroy;
        LogLocked("destroy", nullptr, 0);
        auto& live = s.liveConnections;
        bool known = false;
        for (auto it = live.begin(); it != live.end(); ++it) {
            if (*it == connection) {
                live.erase(it);
                known = true;
                break;
            }
        }
        if (!known) {
            return;  // not ours, or given back twice: leave it alone
        }
        --s.counts.connections;
    }
    DeleteDriverObject(connection);
}
#endif

// ---- Control exports -----------------------------------------------------------------------------

QLX_EXPORT void SHLK_CALL QlxShlkReset() {
    Held held;
    ResetLocked();
}

QLX_EXPORT void SHLK_CALL QlxShlkSet(const char* key, const char* value) {
    Held held;
    Ready();
    SetLocked(key == nullptr ? "" : key, value == nullptr ? "" : value);
}

QLX_EXPORT std::int32_t SHLK_CALL QlxShlkCount(const char* name) {
    Held held;
    const Counters& c = Ready().counts;
    const std::string n = name == nullptr ? "" : name;
    const struct {
        const char* name;
        std::int32_t value;
    } table[] = {{"version", c.version},
                 {"create", c.create},
                 {"destroy", c.destroy},
                 {"connections", c.connections},
                 {"device_new", c.deviceNew},
                 {"device_delete", c.deviceDelete},
                 {"product_id", c.productId},
                 {"has_input", c.hasInput},
                 {"has_output", c.hasOutput},
                 {"open_input", c.openInput},
                 {"open_output", c.openOutput},
                 {"input_delete", c.inputDelete},
                 {"output_delete", c.outputDelete},
                 {"inputs", c.inputs},
                 {"outputs", c.outputs},
                 {"set_callback", c.setCallback},
                 {"sent", static_cast<std::int32_t>(S().sent.size())},
                 {"replies", c.replies}};
    for (const auto& entry : table) {
        if (n == entry.name) {
            return entry.value;
        }
    }
    return -1;
}

QLX_EXPORT std::int32_t SHLK_CALL QlxShlkSent(std::int32_t index, std::uint8_t* out, std::int32_t capacity) {
    Held held;
    const auto& sent = Ready().sent;
    if (index < 0 || static_cast<std::size_t>(index) >= sent.size()) {
        return -1;
    }
    const auto& message = sent[static_cast<std::size_t>(index)];
    const auto length = static_cast<std::int32_t>(message.size());
    if (out != nullptr && capacity > 0) {
        std::memcpy(out, message.data(), static_cast<std::size_t>(length < capacity ? length : capacity));
    }
    return length;
}

QLX_EXPORT std::int32_t SHLK_CALL QlxShlkWaitIdle(std::int32_t timeoutMs) {
    for (std::int32_t waited = 0;; ++waited) {
        {
            Held held;
            if (S().repliesInFlight == 0) {
                return 1;
            }
        }
        if (waited >= timeoutMs) {
            return 0;
        }
        NapMs(1);
    }
}

QLX_EXPORT std::int32_t SHLK_CALL QlxShlkNotify(std::int32_t onOwnThread) {
    if (onOwnThread != 0) {
        StartThread([] { NotifyThread(0); });
        return 1;
    }
    return NotifyNewest() ? 1 : 0;
}

QLX_EXPORT std::int32_t SHLK_CALL QlxShlkDeliver(const std::uint8_t* bytes, std::int32_t length) {
    Held held;
    std::int32_t delivered = 0;
    const std::vector<SimInput*> inputs = S().liveInputs;
    for (SimInput* input : inputs) {
        if (input->DeliverLocked(bytes, length)) {
            ++delivered;
        }
    }
    return delivered;
}
