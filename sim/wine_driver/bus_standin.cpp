// TEMPORARY stand-in until the device model lands: one plain device port that drops off the bus
// after the header and comes back after the boot delay.
#include <cstdio>
#include <cstdlib>

#include "sim/wine_driver/bus.h"
#include "sim/wine_driver/config.h"

namespace wineqlx {
namespace {

class StandInBus final : public Bus {
  public:
    explicit StandInBus(const DriverConfig& c) : config_(c) {
        extra_ = !c.extraPort.empty();
        if (c.scenario.rfind("stall:", 0) == 0) stallAt_ = std::atoi(c.scenario.c_str() + 6);
    }
    int SlotCount() const override { return extra_ ? 2 : 1; }
    std::optional<std::string> SlotName(int slot, std::uint64_t now) override {
        if (extra_ && slot == 0) return config_.extraPort;
        if (config_.scenario == "absent") return std::nullopt;
        if (offUntil_ != 0 && now < offUntil_) return std::nullopt;
        return config_.portName;
    }
    unsigned Open(int slot, std::uint64_t) override {
        if (config_.scenario == "busy" && !(extra_ && slot == 0)) return 4;
        return 0;
    }
    void Close(int, std::uint64_t) override {}
    LongPlan BeginLong(int, std::size_t length, std::uint64_t) override {
        LongPlan plan;
        if (updateMode_ && stallAt_ > 0 && streamed_ + 1 == stallAt_)
            plan.transferNs.reset();
        else if (config_.linkBytesPerSecond != 0)
            plan.transferNs = length * 1'000'000'000ULL / config_.linkBytesPerSecond;
        return plan;
    }
    void LongDone(int, std::span<const std::uint8_t> bytes, std::uint64_t now) override {
        if (bytes.size() == 15 && bytes[5] == 0x71) ++headers_;
        if (!updateMode_) {
            if (bytes.size() == 15 && bytes[5] == 0x71) {
                offUntil_ = now + config_.bootMs * 1'000'000ULL;
                updateMode_ = true;
            }
            return;
        }
        ++streamed_;
    }
    void ShortMessage(int, std::uint32_t, std::uint64_t) override {}
    void Reset(int, std::uint64_t) override {}
    std::string Report(std::uint64_t) override {
        char text[200];
        std::snprintf(text, sizeof(text), "headers %d\nstreamed %d\nverdict %s\n", headers_, streamed_,
                      streamed_ == 2758 ? "image received intact" : "incomplete");
        return text;
    }

  private:
    DriverConfig config_;
    bool extra_ = false;
    bool updateMode_ = false;
    std::uint64_t offUntil_ = 0;
    int headers_ = 0;
    int streamed_ = 0;
    int stallAt_ = 0;
};

}  // namespace

std::unique_ptr<Bus> MakeBus(const DriverConfig& config) {
    return std::make_unique<StandInBus>(config);
}

}  // namespace wineqlx
