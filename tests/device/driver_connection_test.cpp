// Finding and loading the driver library, and its fallbacks to the dummy connection.
#include <gtest/gtest.h>

#include "tests/device/support.h"

namespace {

using devtest::InstallLibrary;
using devtest::kKey;
using devtest::SetLocation;
using devtest::Shlk;
using devtest::WindowsPath;

void SHLK_CALL SentinelDestroy(QuenwickShadeLink::Connection* /*connection*/) {}

class DriverConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        shlk.reset();
        shlk.set("reply", "none");
        Shlk::WithoutDestroy().reset();  // loaded before the counts start
        sim::Reset();
        driverDestroy = &SentinelDestroy;
    }
    void TearDown() override {
        EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);
        driverDestroy = nullptr;
    }
    Shlk& shlk = Shlk::Main();
};

TEST_F(DriverConnectionTest, TheDummyHasNoDevices) {
    EXPECT_EQ(dummyConnection.DeviceCount(), 0);
    EXPECT_EQ(dummyConnection.Device(0), nullptr);
    EXPECT_EQ(dummyConnection.Device(-1), nullptr);
}

struct Fallback {
    const char* name;
    void (*setUp)();
    int loadAttempts;
};
void PrintTo(const Fallback& c, std::ostream* os) { *os << c.name; }

class Fallbacks : public DriverConnectionTest, public ::testing::WithParamInterface<Fallback> {};

TEST_P(Fallbacks, EndInTheDummyWithoutTouchingDriverDestroy) {
    GetParam().setUp();
    EXPECT_EQ(OpenConnection(nullptr), &dummyConnection);
    EXPECT_EQ(sim::LibraryLoadAttempts(), GetParam().loadAttempts);
    EXPECT_EQ(driverDestroy, &SentinelDestroy);
    EXPECT_EQ(shlk.count("create"), 0);
}

std::vector<std::uint8_t> Unterminated(std::size_t n) { return std::vector<std::uint8_t>(n, 'a'); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Fallbacks,
    ::testing::Values(
        Fallback{"NoKey", [] {}, 0},
        Fallback{"KeyWithoutValue", [] { sim::CreateRegistryKey(devtest::kMachine, kKey); }, 0},
        Fallback{
            "ValueUnderAnotherRoot",
            [] { sim::SetRegistryString(devtest::kUser, kKey, "Location", WindowsPath(QLX_SHLK_SIM_PATH)); },
            0},
        Fallback{"ValueLongerThanTheBuffer", [] { SetLocation("Z:\\" + std::string(300, 'a')); }, 0},
        Fallback{
            "ValueOfTheWholeBufferWithoutTerminator",
            [] { sim::SetRegistryValue(devtest::kMachine, kKey, "Location", REG_SZ, Unterminated(256)); }, 0},
        Fallback{"LongestPathThatFitsButNoSuchFile", [] { SetLocation("Z:\\" + std::string(252, 'a')); }, 1},
        Fallback{"NoLibraryFile", [] { InstallLibrary("/nonexistent/qlx_shlk.so"); }, 1},
        // Anything but a full path would be searched for, the updater's own folder first: refused
        // before any load, even where a search would find the library.
        Fallback{"BareName", [] { SetLocation("libqlx_shlk_sim.so"); }, 0},
        Fallback{"RelativeWithFolder", [] { SetLocation("shlk\\qlx_shlk.dll"); }, 0},
        Fallback{"DotRelative", [] { SetLocation(".\\qlx_shlk.dll"); }, 0},
        Fallback{"RootedOnTheCurrentDrive", [] { SetLocation("\\Quenwick\\qlx_shlk.dll"); }, 0},
        Fallback{"DriveRelative", [] { SetLocation("Z:qlx_shlk.dll"); }, 0},
        Fallback{"NotADriveLetter", [] { SetLocation("1:\\qlx_shlk.dll"); }, 0},
        Fallback{"LinuxPathOfTheRealLibrary", [] { SetLocation(QLX_SHLK_SIM_PATH); }, 0},
        Fallback{"Empty", [] { SetLocation(""); }, 0}),
    [](const auto& p) { return std::string(p.param.name); });

// A full path is loaded as given, its dependencies from its own folder and the system folder only.
struct FullPath {
    const char* name;
    std::string location;
    bool loads;  // names the simulated library on this machine
};
void PrintTo(const FullPath& c, std::ostream* os) { *os << c.name; }

class FullPaths : public DriverConnectionTest, public ::testing::WithParamInterface<FullPath> {};

TEST_P(FullPaths, AreLoadedFromTheirFolderAndTheSystemFolderOnly) {
    SetLocation(GetParam().location);
    QuenwickShadeLink::Connection* connection = OpenConnection(nullptr);
    const std::vector<sim::LibraryLoadCall> calls = sim::LibraryLoadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].fileName, GetParam().location);
    EXPECT_TRUE(calls[0].ex);
    EXPECT_EQ(calls[0].flags, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(connection != &dummyConnection, GetParam().loads);
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), GetParam().loads ? 1 : 0);
    GiveUpConnection(connection);
}

std::string WithSlashes(std::string path) {
    for (char& c : path) {
        c = c == '\\' ? '/' : c;
    }
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FullPaths,
    ::testing::Values(FullPath{"DrivePath", WindowsPath(QLX_SHLK_SIM_PATH), true},
                      FullPath{"DrivePathWithSlashes", WithSlashes(WindowsPath(QLX_SHLK_SIM_PATH)), true},
                      FullPath{"LowerCaseDrive", "z" + WindowsPath(QLX_SHLK_SIM_PATH).substr(1), true},
                      FullPath{"OtherDrive", "C:\\Program Files\\Quenwick\\shlk.dll", false},
                      FullPath{"Unc", "\\\\server\\share\\shlk.dll", false},
                      FullPath{"UncWithSlashes", "//server/share/shlk.dll", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(DriverConnectionTest, LibraryConnectionWithItsDevices) {
    shlk.set("devices", "81:io;5:o;null");
    InstallLibrary(QLX_SHLK_SIM_PATH);
    QuenwickShadeLink::Connection* connection = OpenConnection(nullptr);
    ASSERT_NE(connection, &dummyConnection);
    EXPECT_EQ(shlk.count("version"), 1);
    EXPECT_EQ(shlk.count("create"), 1);
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), 1);
    ASSERT_NE(driverDestroy, &SentinelDestroy);
    ASSERT_NE(driverDestroy, nullptr);

    // The slots line up across the library boundary.
    ASSERT_EQ(connection->DeviceCount(), 3);
    DriverDevice* first = connection->Device(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->ProductId(), 81);
    EXPECT_EQ(first->HasInput(), 1);
    EXPECT_EQ(first->HasOutput(), 1);
    DeleteDriverObject(first);
    DriverDevice* second = connection->Device(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->ProductId(), 5);
    EXPECT_EQ(second->HasInput(), 0);
    DriverOutput* output = second->OpenOutput(0);
    DeleteDriverObject(second);
    const std::uint8_t bytes[] = {0xF0, 0x7E, 0xF7};
    output->SendBytes(bytes, 3);  // endpoints outlive their device object
    DeleteDriverObject(output);
    EXPECT_EQ(shlk.Sent(0), (devtest::Bytes{0xF0, 0x7E, 0xF7}));
    EXPECT_EQ(connection->Device(2), nullptr);
    EXPECT_EQ(shlk.count("device_delete"), 2);

    GiveUpConnection(connection);
    EXPECT_EQ(shlk.count("destroy"), 1);
    EXPECT_EQ(shlk.count("connections"), 0);
}

TEST_F(DriverConnectionTest, EveryOpenLoadsTheLibraryAgain) {
    InstallLibrary(QLX_SHLK_SIM_PATH);
    QuenwickShadeLink::Connection* a = OpenConnection(nullptr);
    QuenwickShadeLink::Connection* b = OpenConnection(nullptr);
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), 2);
    GiveUpConnection(a);
    GiveUpConnection(b);
    EXPECT_EQ(shlk.count("connections"), 0);
}

TEST_F(DriverConnectionTest, UnterminatedShortValueIsEndedSafely) {
    const std::string path = WindowsPath(QLX_SHLK_SIM_PATH);
    sim::SetRegistryValue(devtest::kMachine, kKey, "Location", REG_SZ,
                          std::vector<std::uint8_t>(path.begin(), path.end()));
    QuenwickShadeLink::Connection* connection = OpenConnection(nullptr);
    EXPECT_NE(connection, &dummyConnection);
    GiveUpConnection(connection);
}

TEST_F(DriverConnectionTest, MissingDestroyExportClearsDriverDestroy) {
    Shlk& other = Shlk::WithoutDestroy();
    InstallLibrary(QLX_SHLK_SIM_NODESTROY_PATH);
    EXPECT_EQ(OpenConnection(nullptr), &dummyConnection);
    EXPECT_EQ(driverDestroy, nullptr);
    EXPECT_EQ(other.count("version"), 0);
    EXPECT_EQ(other.count("create"), 0);
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_NODESTROY_PATH), 1);  // stays loaded
}

TEST_F(DriverConnectionTest, VersionTwoIsNotCreated) {
    shlk.set("version", "2");
    InstallLibrary(QLX_SHLK_SIM_PATH);
    EXPECT_EQ(OpenConnection(nullptr), &dummyConnection);
    EXPECT_EQ(shlk.count("version"), 1);
    EXPECT_EQ(shlk.count("create"), 0);
    EXPECT_NE(driverDestroy, &SentinelDestroy);  // stored before the version is asked
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), 1);
}

TEST_F(DriverConnectionTest, NullFromCreateGivesTheDummy) {
    shlk.set("create", "null");
    InstallLibrary(QLX_SHLK_SIM_PATH);
    EXPECT_EQ(OpenConnection(nullptr), &dummyConnection);
    EXPECT_EQ(shlk.count("create"), 1);
}

TEST_F(DriverConnectionTest, GivingUpTheDummyOrNullCallsNothing) {
    InstallLibrary(QLX_SHLK_SIM_PATH);
    GiveUpConnection(OpenConnection(nullptr));  // a real destroy function is now stored
    ASSERT_EQ(shlk.count("destroy"), 1);
    GiveUpConnection(&dummyConnection);
    GiveUpConnection(nullptr);
    EXPECT_EQ(shlk.count("destroy"), 1);
}

}  // namespace
