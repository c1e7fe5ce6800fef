// The optional driver library: the connection it hands out, the device and endpoint objects behind
// it, and how the library is found and loaded.
//
// These classes cross into the library through their virtual tables, so the order of the virtual
// operations below is fixed; slots the framework never calls are declared all the same so that the
// later ones sit where the library puts them.
//
// The library is built by the maker's compiler, whose tables give a virtual destructor one entry
// (taking flags; bit 0 frees the storage) where g++ would put two. So no destructor is declared
// virtual here: the destructor's entry is an ordinary slot, DeletingDestructor, at the place the
// maker declares the destructor, and device/driver_delete.h is how we call it and answer it.
#pragma once

#include <cstdint>

// Calling conventions, spelled out for 32-bit Windows (64-bit Windows and Linux have one each):
// member calls pass the object in ECX and the callee pops its arguments (thiscall, what both the
// maker's compiler and mingw-w64 g++ use for members); the plain functions exchanged with the
// library (its exports and the two callbacks) are cdecl, the maker's compiler's default for a plain
// function pointer, and g++'s as well.
#if defined(_WIN32) && defined(__i386__)
#define SHLK_CALL __attribute__((cdecl))
#define SHLK_METHOD __attribute__((thiscall))
#else
#define SHLK_CALL
#define SHLK_METHOD
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
    virtual std::int32_t SHLK_METHOD DeviceCount() = 0;
    virtual DriverDevice* SHLK_METHOD Device(std::int32_t index) = 0;
    // The destructor's entry; never called: a connection goes back through driverDestroy.
    virtual void* SHLK_METHOD DeletingDestructor(unsigned int flags) = 0;

protected:
    Connection() = default;
    ~Connection() = default;
    Connection(const Connection&) = default;
    Connection& operator=(const Connection&) = default;
};

}  // namespace QuenwickShadeLink

class DriverInput {
public:
    virtual void* SHLK_METHOD DeletingDestructor(unsigned int flags) = 0;
    virtual std::int32_t SHLK_METHOD Reserved1() = 0;  // not called
    virtual std::int32_t SHLK_METHOD SetReceiveCallback(ReceiveCallback callback, void* context) = 0;

protected:
    DriverInput() = default;
    ~DriverInput() = default;
    DriverInput(const DriverInput&) = default;
    DriverInput& operator=(const DriverInput&) = default;
};

class DriverOutput {
public:
    virtual void* SHLK_METHOD DeletingDestructor(unsigned int flags) = 0;
    virtual std::int32_t SHLK_METHOD Reserved1() = 0;  // not called
    virtual std::int32_t SHLK_METHOD SendBytes(const std::uint8_t* bytes, std::int32_t length) = 0;

protected:
    DriverOutput() = default;
    ~DriverOutput() = default;
    DriverOutput(const DriverOutput&) = default;
    DriverOutput& operator=(const DriverOutput&) = default;
};

class DriverDevice {
public:
    virtual void* SHLK_METHOD DeletingDestructor(unsigned int flags) = 0;
    virtual std::int32_t SHLK_METHOD Reserved1() = 0;  // not called
    virtual std::int32_t SHLK_METHOD Reserved2() = 0;  // not called
    virtual std::int32_t SHLK_METHOD ProductId() = 0;
    virtual std::int32_t SHLK_METHOD HasInput() = 0;   // exactly 1: there is an input endpoint
    virtual std::int32_t SHLK_METHOD HasOutput() = 0;  // exactly 1: there is an output endpoint
    virtual DriverInput* SHLK_METHOD OpenInput(std::int32_t index) = 0;
    virtual DriverOutput* SHLK_METHOD OpenOutput(std::int32_t index) = 0;

protected:
    DriverDevice() = default;
    ~DriverDevice() = default;
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
    void* DeletingDestructor(unsigned int flags) override;  // the shared dummy is never deleted
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
