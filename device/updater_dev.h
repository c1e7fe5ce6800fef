// The updater's device object: remembers whether a status reply came since the last attach, and
// tells whether the Quadrilux Pro can be reached for the update.
#pragma once

#include <cstdint>

#include "device/base_device.h"

// The device's ports are those whose name contains this, compared byte for byte.
inline constexpr char kProductName[] = "Quadrilux Pro";

// Here with its class: the presence check reads midi/'s port names, and midi/ knows nothing of device/.
class UpdaterDev final : public BaseDevice {
public:
    UpdaterDev();
    ~UpdaterDev() = default;
    UpdaterDev(const UpdaterDev&) = delete;
    UpdaterDev& operator=(const UpdaterDev&) = delete;

    // True when the driver library's endpoints are held, or a MIDI output port's name contains the
    // product name; each port name examined is written to standard output. Opens no port.
    bool IsDevicePresent();

    void ConnectionChanged() override;
    void BlockReplyReceived(std::uint8_t* message, std::int32_t length) override;
    void ValueReplyReceived(std::uint32_t value, std::int32_t byte11, std::int32_t byte12,
                            bool kindTen) override;
    void StatusReceived() override;
    void ErrorOccurred(const char* message) override;

    bool statusSeen;
    std::int32_t lastStatusCode;
};
