// The device-protocol object: one controller model reached through the driver library, the state
// of its receive path, and the notifications a subclass gets.
#pragma once

#include <cstdint>

#include "device/driver_connection.h"

class BaseDevice {
public:
    static constexpr std::int32_t kRingSize = 4096;
    static constexpr std::int32_t kInitialSysexCapacity = 1024;
    static constexpr std::int32_t kMaxSysexCapacity = 262144;
    static constexpr int kNameLength = 16;

    BaseDevice();
    BaseDevice(const BaseDevice&) = delete;
    BaseDevice& operator=(const BaseDevice&) = delete;

    bool IsConnected() const { return input != nullptr && output != nullptr; }

    // Sends the status request F0 00 20 29 03 01 7F 60 21 00 00 00 00 F7.
    void RequestStatus();

    // Sends one SysEx message through the output endpoint after checking its framing.
    void WriteSysex(const std::uint8_t* bytes, std::int32_t length);

    // The receive path: one delivery of bytes from the device.
    void ReceiveMidi(const std::uint8_t* bytes, std::int32_t length);
    void ParseChannelMessages();
    bool GrowSysexBuffer();

    struct ValueReply {
        std::uint32_t value;
        std::int32_t byte11;
        std::int32_t byte12;
        bool kindTen;
    };
    // For a 19-byte message: true and the decoded fields when it is a value reply.
    static bool DecodeValueReply(const std::uint8_t* message, ValueReply& reply);

    struct StatusReply {
        std::uint8_t flagA;
        std::uint8_t flagB;
        std::int32_t value;
        std::int32_t code;
    };
    // True and the decoded fields when the n-byte message is a status reply.
    static bool DecodeStatusReply(const std::uint8_t* message, std::int32_t n, StatusReply& reply);

    // Notifications, in this slot order.
    virtual void ConnectionChanged() = 0;
    virtual void BlockReplyReceived(std::uint8_t* message, std::int32_t length) = 0;
    virtual void ValueReplyReceived(std::uint32_t value, std::int32_t byte11, std::int32_t byte12,
                                    bool kindTen) = 0;
    virtual void StatusReceived() = 0;
    virtual void ErrorOccurred(const char* message) = 0;
    virtual void BankChanged(std::int32_t value);
    virtual void ProgramChanged(std::int32_t value);

    std::int32_t productId;
    std::int32_t variant;
    bool skipToSysexEnd;
    char productName[kNameLength + 1];
    std::uint8_t* sysexBuffer;
    std::int32_t sysexCapacity;
    std::int32_t sysexLength;
    std::uint8_t inputRing[kRingSize];
    std::int32_t ringWrite;
    std::int32_t ringRead;
    char deviceName[kNameLength + 1];
    DriverOutput* output;
    DriverInput* input;
    QuenwickShadeLink::Connection* connection;
    std::uint8_t statusFlagA;
    std::uint8_t statusFlagB;
    std::int32_t statusValue;
    std::int32_t statusCode;
    bool nrpnBankArmed;
    bool nrpnProgramArmed;

protected:
    // Not virtual: a device is destroyed through its own most-derived type, never through a
    // BaseDevice pointer.
    ~BaseDevice();

private:
    void DispatchSysex(std::int32_t n);
    void TraceUnknownSysex(std::int32_t n) const;
    std::int32_t RingPending() const;
};

// The receive callback installed on the input endpoint; context is the BaseDevice.
std::int32_t SHLK_CALL InputCallback(const std::uint8_t* bytes, std::int32_t length, void* context);
