// The optional driver library: the connection it hands out, the device and endpoint objects behind
// it, and how the library is found and loaded.
//
// These classes cross into the library through their virtual tables, so the order of the virtual
// operations below is fixed; slots the framework never calls are declared all the same so that the
// later ones sit where the library puts them.
#pragma once

#include <cstdint>

// Calling convention of the plain functions exchanged with the library (its exports and the two
// callbacks), spelled out so that one header serves every Windows target.
#if defined(_WIN32)
#define SHLK_CALL __cdecl
#else
#define SHLK_CALL
#endif

class BaseDevice;
class DriverDevice;

// Called by the library when its devices change, with the context given to SHLKCreate.
using DevicesChangedCallback = void(SHLK_CALL*)(BaseDevice* context);
// Called by the library for every delivery of MIDI input; the result means nothing to us.
using ReceiveCallback = std::int32_t(SHLK_CALL*)(const std::uint8_t* bytes, std::int32_t length,
                                                 void* context);

namespace QuenwickShadeLink {

class Connection {
public:
    virtual std::int32_t DeviceCount() = 0;
    virtual DriverDevice* Device(std::int32_t index) = 0;
    virtual ~Connection() = default;

protected:
    Connection() = default;
    Connection(const Connection&) = default;
    Connection& operator=(const Connection&) = default;
};

}  // namespace QuenwickShadeLink

class DriverInput {
public:
    virtual ~DriverInput() = default;
    virtual std::int32_t Reserved1() = 0;  // not called
    virtual std::int32_t SetReceiveCallback(ReceiveCallback callback, void* context) = 0;

protected:
    DriverInput() = default;
    DriverInput(const DriverInput&) = default;
    DriverInput& operator=(const DriverInput&) = default;
};

class DriverOutput {
public:
    virtual ~DriverOutput() = default;
    virtual std::int32_t Reserved1() = 0;  // not called
    virtual std::int32_t SendBytes(const std::uint8_t* bytes, std::int32_t length) = 0;

protected:
    DriverOutput() = default;
    DriverOutput(const DriverOutput&) = default;
    DriverOutput& operator=(const DriverOutput&) = default;
};

class DriverDevice {
public:
    virtual ~DriverDevice() = default;
    virtual std::int32_t Reserved1() = 0;  // not called
    virtual std::int32_t Reserved2() = 0;  // not called
    virtual std::int32_t ProductId() = 0;
    virtual std::int32_t HasInput() = 0;   // exactly 1: there is an input endpoint
    virtual std::int32_t HasOutput() = 0;  // exactly 1: there is an output endpoint
    virtual DriverInput* OpenInput(std::int32_t index) = 0;
    virtual DriverOutput* OpenOutput(std::int32_t index) = 0;

protected:
    DriverDevice() = default;
    DriverDevice(const DriverDevice&) = default;
    DriverDevice& operator=(const DriverDevice&) = default;
};

// The library's exports.
using ShlkGetVersionFunction = std::int32_t(SHLK_CALL*)();
using ShlkCreateFunction = QuenwickShadeLink::Connection*(SHLK_CALL*)(DevicesChangedCallback callback,
                                                                      BaseDevice* context);
using ShlkDestroyFunction = void(SHLK_CALL*)(QuenwickShadeLink::Connection* connection);

// The connection used when the library is absent or unusable: no devices.
class DummyConnection final : public QuenwickShadeLink::Connection {
public:
    std::int32_t DeviceCount() override;
    DriverDevice* Device(std::int32_t index) override;
};

// The one shared dummy; it lives for the whole process and is never given to the library.
extern DummyConnection dummyConnection;

// The library's destroy export, as stored by the last OpenConnection that loaded the library.
extern ShlkDestroyFunction driverDestroy;

// A connection to use: the library's when it is installed and usable, otherwise the dummy. Never
// null. The library gets Attach as its devices-changed callback and `context` with it.
QuenwickShadeLink::Connection* OpenConnection(BaseDevice* context);

// Gives a connection back to the library; the dummy and null are left alone.
void GiveUpConnection(QuenwickShadeLink::Connection* connection);
