// The updater's device object: remembers whether a status reply came since the last attach.
#pragma once

#include <cstdint>

#include "device/base_device.h"

class UpdaterDev final : public BaseDevice {
public:
    UpdaterDev();
    ~UpdaterDev() = default;
    UpdaterDev(const UpdaterDev&) = delete;
    UpdaterDev& operator=(const UpdaterDev&) = delete;

    // Whether the controller is reachable for the update; defined with the application shell.
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
