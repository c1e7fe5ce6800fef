#include "midi/device_list.h"

QuenwickDeviceList* deviceList = nullptr;

std::string NullDeviceList::FullPortName(std::int32_t /*position*/) { return {}; }

std::int32_t NullDeviceList::PortCount() { return 0; }

std::string NullDeviceList::PortName(std::int32_t /*position*/) { return {}; }

MIDI::Output* NullDeviceList::CreateOutput(std::int32_t /*position*/) { return nullptr; }

std::uintptr_t NullDeviceList::ReservedOperation(std::int32_t /*position*/) { return 0; }
