// The slot layout of the objects that cross into the driver library, read back on the host: each
// operation is called the way the framework calls it, on an object whose table is written out slot
// by slot, and must land at its slot number with its arguments. A reordered, inserted or doubled
// entry (a virtual destructor with g++'s two entries, say) moves every call behind it.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <type_traits>
#include <typeinfo>

#include "device/base_device.h"
#include "device/driver_delete.h"

namespace {

constexpr int kSlots = 8;

struct Landing {
    int slot = -1;
    const void* self = nullptr;
    std::intptr_t first = 0;
    std::intptr_t second = 0;
};
Landing landing;

// Every entry takes the object and two argument registers, whatever the operation passes, and
// answers with its own number.
using Entry = std::intptr_t (*)(void* self, std::intptr_t first, std::intptr_t second);

template <int N>
std::intptr_t At(void* self, std::intptr_t first, std::intptr_t second) {
    landing = Landing{N, self, first, second};
    return 1000 + N;
}

// A table as the compiler lays one out: offset to the top and type, then the entries the object
// points at.
struct Table {
    std::intptr_t offsetToTop;
    const std::type_info* type;
    Entry entries[kSlots];
};

template <typename Interface>
class Probe {
public:
    Probe()
        : table_{0, &typeid(Interface), {&At<0>, &At<1>, &At<2>, &At<3>, &At<4>, &At<5>, &At<6>, &At<7>}},
          object_{&table_.entries[0]} {}
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    Interface* Get() {
        // The object is nothing but its table pointer, as the library's objects are to us.
        return reinterpret_cast<Interface*>(&object_);
    }

private:
    Table table_;
    struct {
        const Entry* table;
    } object_;
};

struct Case {
    const char* operation;
    int slot;
    int arguments;  // how many of first and second are checked
    std::intptr_t first;
    std::intptr_t second;
};

const std::uint8_t kRequest[14] = {0xF0, 0x00, 0x20, 0x29, 0x03, 0x01, 0x7F,
                                   0x60, 0x21, 0x00, 0x00, 0x00, 0x00, 0xF7};
int callbackContext = 0;

std::intptr_t Address(const void* pointer) { return reinterpret_cast<std::intptr_t>(pointer); }
std::intptr_t Address(ReceiveCallback callback) { return reinterpret_cast<std::intptr_t>(callback); }

template <typename Interface>
void Expect(const Case& c, const std::function<std::intptr_t(Interface*)>& call) {
    SCOPED_TRACE(c.operation);
    Probe<Interface> probe;
    landing = Landing{};
    const std::intptr_t answer = call(probe.Get());
    EXPECT_EQ(landing.slot, c.slot);
    EXPECT_EQ(landing.self, probe.Get());
    if (c.arguments >= 1) {
        // 32-bit arguments arrive in the low half of the register.
        const bool narrow = c.first >= INT32_MIN && c.first <= INT32_MAX;
        EXPECT_EQ(narrow ? static_cast<std::int32_t>(landing.first) : landing.first, c.first);
    }
    if (c.arguments >= 2) {
        const bool narrow = c.second >= INT32_MIN && c.second <= INT32_MAX;
        EXPECT_EQ(narrow ? static_cast<std::int32_t>(landing.second) : landing.second, c.second);
    }
    if (c.slot >= 0) {
        EXPECT_EQ(static_cast<std::int32_t>(answer), 1000 + landing.slot)
            << "result not taken from the entry";
    }
}

template <typename Result>
std::intptr_t Widen(Result result) {
    if constexpr (std::is_pointer_v<Result>) {
        return reinterpret_cast<std::intptr_t>(result);
    } else {
        return static_cast<std::intptr_t>(result);
    }
}

TEST(DriverLayout, DeviceSlots) {
    using D = DriverDevice;
    const struct {
        Case c;
        std::function<std::intptr_t(D*)> call;
    } cases[] = {
        {{"delete", 0, 1, kDeleteFreesStorage, 0},
         [](D* d) {
             DeleteDriverObject(d);
             return std::intptr_t{1000};
         }},
        {{"Reserved1", 1, 0, 0, 0}, [](D* d) { return Widen(d->Reserved1()); }},
        {{"Reserved2", 2, 0, 0, 0}, [](D* d) { return Widen(d->Reserved2()); }},
        {{"ProductId", 3, 0, 0, 0}, [](D* d) { return Widen(d->ProductId()); }},
        {{"HasInput", 4, 0, 0, 0}, [](D* d) { return Widen(d->HasInput()); }},
        {{"HasOutput", 5, 0, 0, 0}, [](D* d) { return Widen(d->HasOutput()); }},
        {{"OpenInput(0)", 6, 1, 0, 0}, [](D* d) { return Widen(d->OpenInput(0)); }},
        {{"OpenOutput(0)", 7, 1, 0, 0}, [](D* d) { return Widen(d->OpenOutput(0)); }},
    };
    for (const auto& entry : cases) {
        Expect<D>(entry.c, entry.call);
    }
}

TEST(DriverLayout, EndpointAndConnectionSlots) {
    using In = DriverInput;
    using Out = DriverOutput;
    using Conn = QuenwickShadeLink::Connection;
    Expect<In>({"input delete", 0, 1, kDeleteFreesStorage, 0}, [](In* in) {
        DeleteDriverObject(in);
        return std::intptr_t{1000};
    });
    Expect<In>({"input Reserved1", 1, 0, 0, 0}, [](In* in) { return Widen(in->Reserved1()); });
    Expect<In>({"SetReceiveCallback", 2, 2, Address(&InputCallback), Address(&callbackContext)},
               [](In* in) { return Widen(in->SetReceiveCallback(&InputCallback, &callbackContext)); });
    Expect<Out>({"output delete", 0, 1, kDeleteFreesStorage, 0}, [](Out* out) {
        DeleteDriverObject(out);
        return std::intptr_t{1000};
    });
    Expect<Out>({"output Reserved1", 1, 0, 0, 0}, [](Out* out) { return Widen(out->Reserved1()); });
    Expect<Out>({"SendBytes", 2, 2, Address(kRequest), 14},
                [](Out* out) { return Widen(out->SendBytes(kRequest, 14)); });
    Expect<Conn>({"DeviceCount", 0, 0, 0, 0}, [](Conn* c) { return Widen(c->DeviceCount()); });
    Expect<Conn>({"Device(2)", 1, 1, 2, 0}, [](Conn* c) { return Widen(c->Device(2)); });
    Expect<Conn>({"connection destructor entry", 2, 1, kDeleteFreesStorage, 0},
                 [](Conn* c) { return Widen(c->DeletingDestructor(kDeleteFreesStorage)); });
}

// Our own implementations answer the destructor entry as the maker's do: the object is destroyed,
// freed only when bit 0 asks for it, and its address comes back.
TEST(DriverLayout, OurObjectsAnswerTheDestructorEntry) {
    static int destroyed = 0;
    class Output final : public DriverObject<DriverOutput, Output> {
    public:
        Output() = default;
        Output(const Output&) = delete;
        Output& operator=(const Output&) = delete;
        ~Output() { ++destroyed; }
        std::int32_t Reserved1() override { return 0; }
        std::int32_t SendBytes(const std::uint8_t* /*bytes*/, std::int32_t /*length*/) override { return 1; }
    };
    alignas(Output) unsigned char storage[sizeof(Output)];
    DriverOutput* inPlace = new (storage) Output();
    EXPECT_EQ(inPlace->DeletingDestructor(0), storage);  // destroyed, storage not freed
    EXPECT_EQ(destroyed, 1);
    DriverOutput* onHeap = new Output();
    void* const address = onHeap;
    EXPECT_EQ(onHeap->DeletingDestructor(kDeleteFreesStorage), address);  // leak checkers see it freed
    EXPECT_EQ(destroyed, 2);
}

}  // namespace
