// BaseDevice and UpdaterDev: defaults, the status request and its framing check, destruction.
#include <gtest/gtest.h>

#include <cstring>

#include "device/updater_dev.h"
#include "tests/device/support.h"

namespace {

using devtest::Bytes;
using devtest::Hex;
using devtest::RecordingDevice;
using Lines = std::vector<std::string>;

// Endpoints that note what happens to them in one shared journal.
struct Journal {
    std::vector<std::string> events;
    std::vector<Bytes> sent;
    int scribble = 0;  // SendBytes writes this far behind (>0) or before (<0) the message
};

class FakeOutput final : public DriverObject<DriverOutput, FakeOutput> {
public:
    explicit FakeOutput(Journal& journal) : journal_(journal) {}
    ~FakeOutput() { journal_.events.emplace_back("output deleted"); }
    FakeOutput(const FakeOutput&) = delete;
    FakeOutput& operator=(const FakeOutput&) = delete;
    std::int32_t Reserved1() override { return 0; }
    std::int32_t SendBytes(const std::uint8_t* bytes, std::int32_t length) override {
        journal_.sent.emplace_back(bytes, bytes + length);
        if (journal_.scribble > 0) {
            const_cast<std::uint8_t*>(bytes)[length + journal_.scribble - 1] = 0x55;
        } else if (journal_.scribble < 0) {
            const_cast<std::uint8_t*>(bytes)[journal_.scribble] = 0x55;
        }
        return 1;
    }

private:
    Journal& journal_;
};

class FakeInput final : public DriverObject<DriverInput, FakeInput> {
public:
    explicit FakeInput(Journal& journal) : journal_(journal) {}
    ~FakeInput() { journal_.events.emplace_back("input deleted"); }
    FakeInput(const FakeInput&) = delete;
    FakeInput& operator=(const FakeInput&) = delete;
    std::int32_t Reserved1() override { return 0; }
    std::int32_t SetReceiveCallback(ReceiveCallback /*callback*/, void* /*context*/) override { return 1; }

private:
    Journal& journal_;
};

class FakeConnection final : public DriverObject<QuenwickShadeLink::Connection, FakeConnection> {
public:
    std::int32_t DeviceCount() override { return 0; }
    DriverDevice* Device(std::int32_t /*index*/) override { return nullptr; }
};

Journal* destroyJournal = nullptr;
void SHLK_CALL RecordDestroy(QuenwickShadeLink::Connection* /*connection*/) {
    destroyJournal->events.emplace_back("driverDestroy");
}

class BaseDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        destroyJournal = &journal;
        driverDestroy = &RecordDestroy;
    }
    void TearDown() override { driverDestroy = nullptr; }
    Journal journal;
};

TEST_F(BaseDeviceTest, Defaults) {
    RecordingDevice device;
    EXPECT_FALSE(device.IsConnected());
    EXPECT_EQ(device.productId, 81);
    EXPECT_EQ(device.variant, 3);
    EXPECT_STREQ(device.productName, "Quadrilux Pro");
    EXPECT_EQ(device.sysexCapacity, 1024);
    EXPECT_EQ(device.sysexLength, 0);
    EXPECT_FALSE(device.skipToSysexEnd);
    EXPECT_EQ(device.ringRead, 0);
    EXPECT_EQ(device.ringWrite, 0);
    EXPECT_EQ(device.connection, nullptr);
    EXPECT_EQ(device.statusFlagA, 1);
    EXPECT_EQ(device.statusFlagB, 1);
    EXPECT_EQ(device.statusValue, 0);
    EXPECT_EQ(device.statusCode, 0);
    EXPECT_FALSE(device.nrpnBankArmed);
    EXPECT_FALSE(device.nrpnProgramArmed);
    UpdaterDev updater;
    EXPECT_FALSE(updater.statusSeen);
    EXPECT_EQ(updater.lastStatusCode, 0);
}

TEST_F(BaseDeviceTest, RequestStatusWithoutOutputSendsNothingSilently) {
    RecordingDevice device;
    device.RequestStatus();
    EXPECT_TRUE(sim::DebugLines().empty());
}

TEST_F(BaseDeviceTest, RequestStatusSendsTheRequest) {
    RecordingDevice device;
    device.output = new FakeOutput(journal);
    device.RequestStatus();
    ASSERT_EQ(journal.sent.size(), 1u);
    EXPECT_EQ(journal.sent[0], devtest::kStatusRequest);
    EXPECT_TRUE(sim::DebugLines().empty());
}

TEST_F(BaseDeviceTest, WritesIntoTheGuardZonesAreReportedOnce) {
    for (int scribble : {1, 256, -1, -256}) {
        sim::ClearDebugLines();
        journal.scribble = scribble;
        RecordingDevice device;
        device.output = new FakeOutput(journal);
        device.RequestStatus();
        EXPECT_EQ(sim::DebugLines(), Lines{"TKL: RDS guard zones corrupted\n"}) << scribble;
    }
}

TEST_F(BaseDeviceTest, WriteSysexChecksFraming) {
    RecordingDevice device;
    device.output = new FakeOutput(journal);
    const Bytes bad = Hex("F0 01 02 03 00");
    device.WriteSysex(bad.data(), 5);
    const Bytes badStart = Hex("F1 F7");
    device.WriteSysex(badStart.data(), 2);
    device.WriteSysex(bad.data(), 0);  // nothing to read: refused without reading
    EXPECT_TRUE(journal.sent.empty());
    EXPECT_EQ(sim::DebugLines(), (Lines{"TKL: WriteSysex - invalid packet. len = 5, (start=f0, end=00)\n",
                                        "TKL: WriteSysex - invalid packet. len = 2, (start=f1, end=f7)\n",
                                        "TKL: WriteSysex - invalid packet. len = 0, (start=00, end=00)\n"}));
    const Bytes good = Hex("F0 F7");
    device.WriteSysex(good.data(), 2);
    EXPECT_EQ(journal.sent, std::vector<Bytes>{good});
}

TEST_F(BaseDeviceTest, DestructionOnTheDummyNeverCallsDriverDestroy) {
    {
        RecordingDevice device;
        device.input = new FakeInput(journal);
        device.output = new FakeOutput(journal);
        device.connection = &dummyConnection;
    }
    EXPECT_EQ(journal.events, (Lines{"input deleted", "output deleted"}));
}

TEST_F(BaseDeviceTest, DestructionDeletesEndpointsThenGivesTheConnectionBack) {
    FakeConnection connection;
    {
        RecordingDevice device;
        device.input = new FakeInput(journal);
        device.output = new FakeOutput(journal);
        device.connection = &connection;
    }
    EXPECT_EQ(journal.events, (Lines{"input deleted", "output deleted", "driverDestroy"}));
}

TEST_F(BaseDeviceTest, DestructionWithoutDestroyFunctionLeavesTheConnection) {
    driverDestroy = nullptr;
    FakeConnection connection;
    {
        RecordingDevice device;
        device.connection = &connection;
    }
    EXPECT_TRUE(journal.events.empty());
}

TEST_F(BaseDeviceTest, UpdaterDevRecordsStatus) {
    UpdaterDev device;
    device.statusCode = 0x01010105;
    device.StatusReceived();
    EXPECT_TRUE(device.statusSeen);
    EXPECT_EQ(device.lastStatusCode, 0x01010105);

    // Detached: only the trace, the status stays.
    device.ConnectionChanged();
    EXPECT_TRUE(device.statusSeen);
    EXPECT_EQ(device.lastStatusCode, 0x01010105);

    device.input = new FakeInput(journal);
    device.output = new FakeOutput(journal);
    device.ConnectionChanged();
    EXPECT_FALSE(device.statusSeen);
    EXPECT_EQ(device.lastStatusCode, 0);
    EXPECT_EQ(sim::DebugLines(),
              (Lines{"TkUpdate:Device received status\n", "TKUpdate:Device disconnected\n"}));
}

TEST_F(BaseDeviceTest, UpdaterDevDefaultBankTraceAndQuietNotifications) {
    UpdaterDev device;
    device.ReceiveMidi(Hex("B0 20 07 C0 02").data(), 5);
    Bytes block = devtest::Sysex(526, {{8, 0x20}});
    device.ReceiveMidi(block.data(), static_cast<std::int32_t>(block.size()));
    EXPECT_EQ(sim::DebugLines(), Lines{"TKL: bank -> 7\n"});
}

}  // namespace
