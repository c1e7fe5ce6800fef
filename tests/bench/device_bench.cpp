// Receive-path throughput for streams of status replies and of 526-byte block replies, and the heap
// allocations per message once the SysEx buffer has grown.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "device/base_device.h"

// Every heap allocation of the process is counted. The replaced operators pair malloc with free
// themselves, which g++ cannot see through once it inlines them.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

class CountingDevice final : public BaseDevice {
public:
    void ConnectionChanged() override {}
    void BlockReplyReceived(std::uint8_t* message, std::int32_t /*length*/) override {
        benchmark::DoNotOptimize(message[9]);
        ++messages;
    }
    void ValueReplyReceived(std::uint32_t, std::int32_t, std::int32_t, bool) override { ++messages; }
    void StatusReceived() override { ++messages; }
    void ErrorOccurred(const char*) override {}
    std::uint64_t messages = 0;
};

std::vector<std::uint8_t> StatusReply() {
    return {0xF0, 0x00, 0x20, 0x29, 0x03, 0x01, 0x7F, 0x20, 0x00, 0x09, 0x05, 0x01, 0x00, 0xF7};
}

std::vector<std::uint8_t> BlockReply() {
    std::vector<std::uint8_t> block(526, 0x41);
    const std::uint8_t header[] = {0xF0, 0x00, 0x20, 0x29, 0x03, 0x01, 0x7F, 0x00, 0x20};
    std::copy(std::begin(header), std::end(header), block.begin());
    block.back() = 0xF7;
    return block;
}

// perDelivery replies are concatenated into one delivery; a larger delivery makes the buffer
// grow once, before the measured loop.
void Run(benchmark::State& state, const std::vector<std::uint8_t>& reply) {
    const auto perDelivery = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> delivery;
    for (std::size_t i = 0; i < perDelivery; ++i) {
        delivery.insert(delivery.end(), reply.begin(), reply.end());
    }
    CountingDevice device;
    const auto length = static_cast<std::int32_t>(delivery.size());
    device.ReceiveMidi(delivery.data(), length);  // warm up: the buffer has grown from here on
    while (state.KeepRunning()) {
        device.ReceiveMidi(delivery.data(), length);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
    state.counters["capacity"] = device.sysexCapacity;
    // Allocations are counted over a fixed run of their own, away from the framework's bookkeeping.
    const std::uint64_t allocationsBefore = allocations.load();
    const std::uint64_t messagesBefore = device.messages;
    for (int i = 0; i < 1000; ++i) {
        device.ReceiveMidi(delivery.data(), length);
    }
    const std::uint64_t messages = device.messages - messagesBefore;
    state.counters["allocs_per_msg"] =
        static_cast<double>(allocations.load() - allocationsBefore) / static_cast<double>(messages);
    state.counters["msgs_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(perDelivery),
                           benchmark::Counter::kIsRate);
}

void BM_StatusReplies(benchmark::State& state) { Run(state, StatusReply()); }
void BM_BlockReplies(benchmark::State& state) { Run(state, BlockReply()); }

}  // namespace

BENCHMARK(BM_StatusReplies)->Arg(1)->Arg(128);
BENCHMARK(BM_BlockReplies)->Arg(1)->Arg(16);

BENCHMARK_MAIN();
