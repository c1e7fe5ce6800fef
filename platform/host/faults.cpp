// The fault injector of the host stand-in: per-function call counts and the faults armed on them.
#include <map>
#include <string>
#include <vector>

#include "platform/host/faults.h"
#include "platform/host/objects.h"
#include "platform/host/scheduler.h"
#include "platform/host/sim.h"

namespace {

using host::Guard;

struct Injector {
    std::map<std::string, int, std::less<>> calls;
    std::vector<sim::Fault> armed;
    std::vector<sim::Fault> hit;
};

Injector& I() {
    static auto* injector = new Injector();
    return *injector;
}

const host::ResetHook resetFaults([] { I() = Injector(); });

}  // namespace

namespace host {

std::optional<sim::Fault> CountCall(const char* function) {
    Guard lock(Mutex());
    Injector& injector = I();
    auto counted = injector.calls.find(function);
    if (counted == injector.calls.end()) {
        counted = injector.calls.emplace(function, 0).first;
    }
    const int occurrence = ++counted->second;
    for (auto it = injector.armed.begin(); it != injector.armed.end(); ++it) {
        if (it->occurrence == occurrence && it->function == function) {
            sim::Fault fault = *it;
            injector.armed.erase(it);
            injector.hit.push_back(fault);
            return fault;
        }
    }
    return std::nullopt;
}

std::optional<DWORD> CallFails(const char* function) {
    std::optional<sim::Fault> fault = CountCall(function);
    if (fault && fault->kind == sim::FaultKind::Fails) {
        return fault->error;
    }
    return std::nullopt;
}

bool FailsSettingLastError(const char* function) {
    std::optional<DWORD> error = CallFails(function);
    if (error) {
        SetLastErrorCode(*error);
    }
    return error.has_value();
}

}  // namespace host

namespace sim {

void InjectFault(const Fault& fault) {
    Guard lock(host::Mutex());
    I().armed.push_back(fault);
}

void FailNextCalls(const std::string& function, int count, DWORD error) {
    Guard lock(host::Mutex());
    auto counted = I().calls.find(function);
    const int made = counted == I().calls.end() ? 0 : counted->second;
    for (int i = 1; i <= count; ++i) {
        I().armed.push_back(Fault{function, made + i, FaultKind::Fails, error});
    }
}

std::map<std::string, int> PlatformCalls() {
    Guard lock(host::Mutex());
    return {I().calls.begin(), I().calls.end()};
}

std::vector<Fault> FaultsHit() {
    Guard lock(host::Mutex());
    return I().hit;
}

}  // namespace sim
