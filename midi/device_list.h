// Ports beyond the WinMM ones: the device list interface, its empty implementation and the
// process-wide current list.
#pragma once

#include <cstdint>
#include <string>

#include "midi/output.h"

// The virtual operations keep this order.
class QuenwickDeviceList {
public:
    // Full name of the port at `position`, the form OutputPortName gives with fullName set.
    virtual std::string FullPortName(std::int32_t position) = 0;
    virtual ~QuenwickDeviceList() = default;
    virtual std::int32_t PortCount() = 0;
    // Model-level name of the port at `position`.
    virtual std::string PortName(std::int32_t position) = 0;
    // A new port holding one reference for the caller, or null.
    virtual MIDI::Output* CreateOutput(std::int32_t position) = 0;
    virtual std::uintptr_t ReservedOperation(std::int32_t position) = 0;

protected:
    QuenwickDeviceList() = default;
    QuenwickDeviceList(const QuenwickDeviceList&) = default;
    QuenwickDeviceList& operator=(const QuenwickDeviceList&) = default;
};

// The list this system installs: no ports, every position answered with empty text, 0 or null.
class NullDeviceList : public QuenwickDeviceList {
public:
    std::string FullPortName(std::int32_t position) override;
    std::int32_t PortCount() override;
    std::string PortName(std::int32_t position) override;
    MIDI::Output* CreateOutput(std::int32_t position) override;
    std::uintptr_t ReservedOperation(std::int32_t position) override;
};

// The current list, owned here; null before the controller creates it and after the worker
// destroys it.
extern QuenwickDeviceList* deviceList;
