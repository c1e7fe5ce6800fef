// Shared pieces of the device tests: a device that records its notifications, byte helpers, and
// the simulated driver library reached through the stand-in's LoadLibraryA.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "device/base_device.h"
#include "device/driver_delete.h"
#include "platform/host/sim.h"
#include "platform/win32.h"
#include "sim/shlk/shlk_control.h"

namespace devtest {

using Bytes = std::vector<std::uint8_t>;

// "F0 7E F7" -> {0xF0, 0x7E, 0xF7}
inline Bytes Hex(const std::string& text) {
    Bytes bytes;
    unsigned value = 0;
    int digits = 0;
    for (char c : text) {
        if (c == ' ') {
            continue;
        }
        value = value * 16 + static_cast<unsigned>(std::stoi(std::string(1, c), nullptr, 16));
        if (++digits == 2) {
            bytes.push_back(static_cast<std::uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    return bytes;
}

// A SysEx message of n bytes: F0, the header bytes 1..6 of the maker, zeros, F7; `set` overrides.
inline Bytes Sysex(std::size_t n, std::vector<std::pair<std::size_t, std::uint8_t>> set = {}) {
    Bytes message(n, 0x00);
    const Bytes header = {0xF0, 0x00, 0x20, 0x29, 0x03, 0x01, 0x7F};
    for (std::size_t i = 0; i < header.size() && i < n; ++i) {
        message[i] = header[i];
    }
    message[n - 1] = 0xF7;
    for (const auto& [at, value] : set) {
        message[at] = value;
    }
    return message;
}

class RecordingDevice final : public BaseDevice {
public:
    void ConnectionChanged() override { events.push_back("connection-changed"); }
    void BlockReplyReceived(std::uint8_t* message, std::int32_t length) override {
        char text[64];
        std::snprintf(text, sizeof text, "block %d byte8=%02x", length, message[8]);
        events.emplace_back(text);
    }
    void ValueReplyReceived(std::uint32_t value, std::int32_t byte11, std::int32_t byte12,
                            bool kindTen) override {
        char text[96];
        std::snprintf(text, sizeof text, "value %u %d %d %s", value, byte11, byte12,
                      kindTen ? "kind10" : "kind1");
        events.emplace_back(text);
    }
    void StatusReceived() override {
        char text[96];
        std::snprintf(text, sizeof text, "status A=%d B=%d value=%d code=%d", statusFlagA, statusFlagB,
                      statusValue, statusCode);
        events.emplace_back(text);
    }
    void ErrorOccurred(const char* message) override { events.push_back(std::string("error ") + message); }
    void BankChanged(std::int32_t value) override {
        events.push_back("bank " + std::to_string(value));
        BaseDevice::BankChanged(value);  // keeps the default trace
    }
    void ProgramChanged(std::int32_t value) override { events.push_back("program " + std::to_string(value)); }

    void Deliver(const Bytes& bytes) { ReceiveMidi(bytes.data(), static_cast<std::int32_t>(bytes.size())); }

    std::vector<std::string> events;
};

// The simulated driver library, loaded through LoadLibraryA like the product loads it.
struct Shlk {
    std::string path;
    HMODULE module = nullptr;
    QlxShlkResetFunction reset = nullptr;
    QlxShlkSetFunction set = nullptr;
    QlxShlkCountFunction count = nullptr;
    QlxShlkSentFunction sent = nullptr;
    QlxShlkWaitIdleFunction waitIdle = nullptr;
    QlxShlkNotifyFunction notify = nullptr;
    QlxShlkDeliverFunction deliver = nullptr;

    template <typename F>
    F Find(const char* name) const {
        using Generic = void (*)();
        return reinterpret_cast<F>(reinterpret_cast<Generic>(GetProcAddress(module, name)));
    }

    explicit Shlk(std::string libraryPath) : path(std::move(libraryPath)) {
        module = LoadLibraryA(path.c_str());
        if (module == nullptr) {
            ADD_FAILURE() << "cannot load " << path;
            return;
        }
        reset = Find<QlxShlkResetFunction>("QlxShlkReset");
        set = Find<QlxShlkSetFunction>("QlxShlkSet");
        count = Find<QlxShlkCountFunction>("QlxShlkCount");
        sent = Find<QlxShlkSentFunction>("QlxShlkSent");
        waitIdle = Find<QlxShlkWaitIdleFunction>("QlxShlkWaitIdle");
        notify = Find<QlxShlkNotifyFunction>("QlxShlkNotify");
        deliver = Find<QlxShlkDeliverFunction>("QlxShlkDeliver");
    }

    Bytes Sent(std::int32_t index) const {
        Bytes out(1024);
        const std::int32_t n = sent(index, out.data(), static_cast<std::int32_t>(out.size()));
        out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return out;
    }

    // Loaded once per process (the library stays mapped, as it does for the product).
    static Shlk& Main() {
        static Shlk shlk(QLX_SHLK_SIM_PATH);
        return shlk;
    }
    static Shlk& WithoutDestroy() {
        static Shlk shlk(QLX_SHLK_SIM_NODESTROY_PATH);
        return shlk;
    }
};

constexpr char kKey[] = "Software\\Quenwick\\Shlk";
// The predefined root keys are handle values made from numbers.
inline const HKEY kMachine = HKEY_LOCAL_MACHINE;  // NOLINT(performance-no-int-to-ptr)
inline const HKEY kUser = HKEY_CURRENT_USER;      // NOLINT(performance-no-int-to-ptr)

// The registry's "Location" exactly as given.
inline void SetLocation(const std::string& value) {
    sim::SetRegistryString(kMachine, kKey, "Location", value);
}

// The Windows path of a Linux file: drive Z: is the Linux root, as under Wine.
inline std::string WindowsPath(const std::string& linuxPath) {
    std::string path = "Z:" + linuxPath;
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

// Installs the library at this Linux path, as a full Windows path.
inline void InstallLibrary(const std::string& linuxPath) { SetLocation(WindowsPath(linuxPath)); }

inline const Bytes kStatusRequest = Hex("F0 00 20 29 03 01 7F 60 21 00 00 00 00 F7");

}  // namespace devtest
