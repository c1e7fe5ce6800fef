// Attaching a device object through the simulated driver library, loaded as a real shared library.
#include <gtest/gtest.h>

#include "device/attach.h"
#include "device/updater_dev.h"
#include "tests/device/support.h"

namespace {

using devtest::InstallLibrary;
using devtest::kStatusRequest;
using devtest::Shlk;
using Lines = std::vector<std::string>;

constexpr std::int32_t kDefaultReplyCode = (1 << 24) + (1 << 16) + (1 << 8) + 5;
constexpr std::int32_t kRealWaitLimitMs = 10000;

int destroyCalls = 0;
void SHLK_CALL CountDestroy(QuenwickShadeLink::Connection* /*connection*/) { ++destroyCalls; }

// Gives each connection back through the library's own export, noting how many endpoints the
// library had deleted at that moment.
ShlkDestroyFunction libraryDestroy = nullptr;
std::vector<std::string> endpointsDeletedAtDestroy;
void SHLK_CALL NoteThenDestroy(QuenwickShadeLink::Connection* connection) {
    Shlk& shlk = Shlk::Main();
    endpointsDeletedAtDestroy.push_back("input_delete=" + std::to_string(shlk.count("input_delete")) +
                                        " output_delete=" + std::to_string(shlk.count("output_delete")));
    libraryDestroy(connection);
}

class AttachTest : public ::testing::Test {
protected:
    void SetUp() override {
        shlk.reset();
        shlk.set("reply", "sync");
        sim::Reset();
        driverDestroy = nullptr;
        destroyCalls = 0;
    }
    void TearDown() override {
        shlk.waitIdle(kRealWaitLimitMs);
        driverDestroy = nullptr;
    }
    void UseLibrary(const char* devices) {
        shlk.set("devices", devices);
        InstallLibrary(QLX_SHLK_SIM_PATH);
    }
    Lines Count(std::initializer_list<const char*> names) {
        Lines out;
        for (const char* name : names) {
            out.push_back(std::string(name) + "=" + std::to_string(shlk.count(name)));
        }
        return out;
    }
    Shlk& shlk = Shlk::Main();
};

TEST_F(AttachTest, WithoutTheLibraryEveryAttachReportsDisconnected) {
    UpdaterDev device;
    Attach(&device);
    EXPECT_EQ(device.connection, &dummyConnection);
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(sim::DebugLines(), Lines{"TKUpdate:Device disconnected\n"});
    Attach(&device);
    EXPECT_EQ(sim::DebugLines(), (Lines{"TKUpdate:Device disconnected\n", "TKUpdate:Device disconnected\n"}));
}

TEST_F(AttachTest, DestroyingADeviceOnTheDummyNeverCallsDriverDestroy) {
    driverDestroy = &CountDestroy;
    auto* device = new UpdaterDev();
    Attach(device);
    Attach(device);
    delete device;
    EXPECT_EQ(destroyCalls, 0);
}

TEST_F(AttachTest, MatchingDeviceSendsTheRequestOnceAndEndsUnseen) {
    UseLibrary("81:io");
    UpdaterDev device;
    Attach(&device);
    EXPECT_TRUE(device.IsConnected());
    ASSERT_EQ(shlk.count("sent"), 1);
    EXPECT_EQ(shlk.Sent(0), kStatusRequest);
    // The reply came back inside SendBytes, so the input was in place before the request went
    // out; ConnectionChanged ran after it and reset what it had set.
    EXPECT_EQ(shlk.count("replies"), 1);
    EXPECT_EQ(device.statusCode, kDefaultReplyCode);
    EXPECT_FALSE(device.statusSeen);
    EXPECT_EQ(device.lastStatusCode, 0);
    EXPECT_EQ(sim::DebugLines(), Lines{"TkUpdate:Device received status\n"});
}

TEST_F(AttachTest, ReplyFromTheLibrarysOwnThreadIsRecorded) {
    // The request that Attach sends may be answered before its ConnectionChanged runs, which then
    // clears the status again; so the reply on the library's thread answers a later request, as
    // the connect loop sends one after each OK while connected.
    shlk.set("reply", "none");
    UseLibrary("81:io");
    UpdaterDev device;
    Attach(&device);
    shlk.set("reply", "thread");
    device.RequestStatus();
    ASSERT_EQ(shlk.waitIdle(kRealWaitLimitMs), 1);
    EXPECT_EQ(shlk.count("replies"), 1);
    EXPECT_TRUE(device.statusSeen);
    EXPECT_EQ(device.lastStatusCode, kDefaultReplyCode);

    // A later connected attach starts over.
    shlk.set("reply", "none");
    Attach(&device);
    EXPECT_FALSE(device.statusSeen);
    EXPECT_EQ(device.lastStatusCode, 0);
}

TEST_F(AttachTest, OutputOnlySendsTheRequestButIsNotConnected) {
    UseLibrary("81:o");
    UpdaterDev device;
    Attach(&device);
    EXPECT_EQ(shlk.Sent(0), kStatusRequest);
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(device.input, nullptr);
    EXPECT_NE(device.output, nullptr);
    EXPECT_EQ(sim::DebugLines(), Lines{"TKUpdate:Device disconnected\n"});
}

struct EndpointCase {
    const char* name;
    const char* devices;
    Lines counts;
    bool connected;
};
void PrintTo(const EndpointCase& c, std::ostream* os) { *os << c.name; }

class Endpoints : public AttachTest, public ::testing::WithParamInterface<EndpointCase> {};

TEST_P(Endpoints, AreTakenOnlyFromTheMatchingDevice) {
    UseLibrary(GetParam().devices);
    UpdaterDev device;
    Attach(&device);
    EXPECT_EQ(Count({"device_new", "device_delete", "has_input", "has_output", "open_input", "open_output",
                     "sent"}),
              GetParam().counts);
    EXPECT_EQ(device.IsConnected(), GetParam().connected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Endpoints,
    ::testing::Values(EndpointCase{"OtherProductUntouched",
                                   "5:io",
                                   {"device_new=1", "device_delete=1", "has_input=0", "has_output=0",
                                    "open_input=0", "open_output=0", "sent=0"},
                                   false},
                      EndpointCase{"NullDeviceSkipped",
                                   "null;81:io",
                                   {"device_new=1", "device_delete=1", "has_input=1", "has_output=1",
                                    "open_input=1", "open_output=1", "sent=1"},
                                   true},
                      EndpointCase{"HasInputTwoIsNoInput",
                                   "81:2/1",
                                   {"device_new=1", "device_delete=1", "has_input=1", "has_output=1",
                                    "open_input=0", "open_output=1", "sent=1"},
                                   false},
                      EndpointCase{"InputOnly",
                                   "81:i",
                                   {"device_new=1", "device_delete=1", "has_input=1", "has_output=1",
                                    "open_input=1", "open_output=0", "sent=0"},
                                   false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(AttachTest, TheLastMatchKeepsItsEndpoints) {
    UseLibrary("81:io;81:io");
    UpdaterDev device;
    Attach(&device);
    EXPECT_TRUE(device.IsConnected());
    EXPECT_EQ(Count({"sent", "inputs", "outputs", "input_delete", "output_delete"}),
              (Lines{"sent=2", "inputs=1", "outputs=1", "input_delete=1", "output_delete=1"}));
}

TEST_F(AttachTest, AttachAgainGivesEverythingBack) {
    UseLibrary("81:io");
    UpdaterDev device;
    Attach(&device);
    Attach(&device);
    EXPECT_EQ(Count({"create", "destroy", "connections", "inputs", "outputs", "sent"}),
              (Lines{"create=2", "destroy=1", "connections=1", "inputs=1", "outputs=1", "sent=2"}));
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), 2);
}

TEST_F(AttachTest, AttachGivesTheConnectionBackBeforeTheEndpointsTheDestructorAfter) {
    UseLibrary("81:io");
    auto* device = new UpdaterDev();
    Attach(device);  // loads the library; driverDestroy is now its export
    libraryDestroy = driverDestroy;
    endpointsDeletedAtDestroy.clear();

    driverDestroy = &NoteThenDestroy;
    Attach(device);  // gives the first connection back, then finds the library again
    driverDestroy = &NoteThenDestroy;
    delete device;

    EXPECT_EQ(endpointsDeletedAtDestroy,
              (Lines{"input_delete=0 output_delete=0", "input_delete=2 output_delete=2"}));
    EXPECT_EQ(Count({"connections", "inputs", "outputs"}), (Lines{"connections=0", "inputs=0", "outputs=0"}));
}

TEST_F(AttachTest, InputThatOpensAsNullGetsNoCallback) {
    // The library says it has an input but hands out none: nothing is called on the null
    // endpoint, the output is still taken and asked for the status.
    UseLibrary("81:io:nullinput");
    UpdaterDev device;
    Attach(&device);
    EXPECT_EQ(device.input, nullptr);
    EXPECT_NE(device.output, nullptr);
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(Count({"open_input", "set_callback", "open_output", "sent"}),
              (Lines{"open_input=1", "set_callback=0", "open_output=1", "sent=1"}));
    EXPECT_EQ(sim::DebugLines(), Lines{"TKUpdate:Device disconnected\n"});
}

TEST_F(AttachTest, TheLibraryCanRunAttachAsItsCallback) {
    UseLibrary("81:io");
    UpdaterDev device;
    Attach(&device);
    ASSERT_EQ(shlk.notify(0), 1);
    EXPECT_EQ(Count({"create", "destroy", "connections", "sent"}),
              (Lines{"create=2", "destroy=1", "connections=1", "sent=2"}));
    EXPECT_TRUE(device.IsConnected());
}

TEST_F(AttachTest, InputDeliveredThroughTheLibraryReachesTheReceivePath) {
    UseLibrary("81:io");
    UpdaterDev device;
    Attach(&device);
    sim::ClearDebugLines();
    const std::uint8_t bank[] = {0xB0, 0x20, 0x0C};
    EXPECT_EQ(shlk.deliver(bank, 3), 1);
    EXPECT_EQ(sim::DebugLines(), Lines{"TKL: bank -> 12\n"});
}

TEST_F(AttachTest, DestroyingTheDeviceGivesItsEndpointsAndConnectionBack) {
    UseLibrary("81:io");
    auto* device = new UpdaterDev();
    Attach(device);
    delete device;
    EXPECT_EQ(Count({"inputs", "outputs", "connections", "destroy"}),
              (Lines{"inputs=0", "outputs=0", "connections=0", "destroy=1"}));
}

}  // namespace
