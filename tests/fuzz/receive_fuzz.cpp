// Arbitrary deliveries from a device, of any length and split, through the receive path.
//
// The input is a chain of operations. A byte below 0xF0 is the length of the next delivery, taken
// from the bytes that follow. A byte of 0xF0 or above makes a large delivery: the next byte gives
// its size, in steps of 16 bytes (up to 4096) or, for 0xFF, of 1100 bytes (up to 281600, beyond
// the buffer's limit), and the one after it the byte it is filled with. Most large deliveries stay
// small, so a run makes many of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/base_device.h"
#include "platform/host/sim.h"

namespace {

class QuietDevice final : public BaseDevice {
public:
    void ConnectionChanged() override {}
    void BlockReplyReceived(std::uint8_t* message, std::int32_t length) override {
        // The whole message is readable.
        volatile std::uint8_t sink = 0;
        for (std::int32_t i = 0; i < length; ++i) {
            sink = static_cast<std::uint8_t>(sink ^ message[i]);
        }
    }
    void ValueReplyReceived(std::uint32_t, std::int32_t, std::int32_t, bool) override {}
    void StatusReceived() override {}
    void ErrorOccurred(const char* message) override {
        if (message == nullptr || !skipToSysexEnd || sysexLength != 0) {
            std::abort();
        }
    }
    void BankChanged(std::int32_t value) override { Check(value); }
    void ProgramChanged(std::int32_t value) override { Check(value); }

    void CheckState() const {
        if (sysexCapacity > kMaxSysexCapacity || sysexLength < 0 || sysexLength >= sysexCapacity ||
            ringRead < 0 || ringRead >= kRingSize || ringWrite < 0 || ringWrite >= kRingSize ||
            deviceName[kNameLength] != '\0') {
            std::abort();
        }
    }

private:
    static void Check(std::int32_t value) {
        if (value < 0 || value > 127) {
            std::abort();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QuietDevice device;
    std::size_t at = 0;
    std::vector<std::uint8_t> delivery;
    // Enough to pass the buffer's limit once, few enough that a run makes many inputs.
    std::size_t budget = 600'000;
    while (at < size && budget > 0) {
        const std::uint8_t op = data[at++];
        delivery.clear();
        if (op < 0xF0) {
            const std::size_t n = op < size - at ? op : size - at;
            // A copy of its own, so that any read past the delivery is caught.
            delivery.assign(data + at, data + at + n);
            at += n;
        } else {
            if (size - at < 2) {
                break;
            }
            const std::size_t step = op == 0xFF ? 1100 : 16;
            const std::size_t n = (static_cast<std::size_t>(data[at]) + 1) * step;
            delivery.assign(n, data[at + 1]);
            at += 2;
        }
        budget -= delivery.size() < budget ? delivery.size() : budget;
        InputCallback(delivery.empty() ? nullptr : delivery.data(),
                      static_cast<std::int32_t>(delivery.size()), &device);
        device.CheckState();
    }
    sim::ClearDebugLines();
    return 0;
}
