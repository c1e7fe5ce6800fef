#include "platform/host/objects.h"

#include <map>
#include <utility>
#include <vector>

namespace host {
namespace {

struct Table {
    std::map<HANDLE, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x1000;
};

Table& T() {
    static Table* table = new Table();
    return *table;
}

std::vector<std::function<void()>>& Hooks() {
    static auto* hooks = new std::vector<std::function<void()>>();
    return *hooks;
}

}  // namespace

HANDLE AddHandleLocked(std::shared_ptr<KernelObject> object) {
    Table& t = T();
    auto* handle = reinterpret_cast<HANDLE>(t.next);
    t.next += 4;
    t.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<KernelObject> FindHandleLocked(HANDLE handle) {
    auto it = T().objects.find(handle);
    return it == T().objects.end() ? nullptr : it->second;
}

bool CloseHandleLocked(HANDLE handle) { return T().objects.erase(handle) == 1; }

std::size_t OpenHandleCountLocked() { return T().objects.size(); }

ResetHook::ResetHook(std::function<void()> resetLocked) { Hooks().push_back(std::move(resetLocked)); }

void RunResetHooksLocked() {
    for (auto& hook : Hooks()) {
        hook();
    }
}

namespace {
// Handles die with the platform state they belong to.
const ResetHook resetHandles([] { T().objects.clear(); });
}  // namespace

}  // namespace host
