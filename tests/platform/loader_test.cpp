// The stand-in's loader: Windows paths on drive Z: reach the Linux file, the search-directory flags
// are checked as the system checks them, and a system without them can be simulated.
#include <gtest/gtest.h>

#include <string>

#include "platform/host/sim.h"
#include "platform/win32.h"

namespace {

constexpr DWORD kLibraryDirs = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

std::string OnDriveZ(const std::string& linuxPath, char separator) {
    std::string path = "Z:" + linuxPath;
    for (char& c : path) {
        c = c == '/' ? separator : c;
    }
    return path;
}

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(LoaderTest, DriveZIsTheLinuxRootAndNothingElseLeadsAnywhere) {
    for (char separator : {'\\', '/'}) {
        EXPECT_NE(LoadLibraryExA(OnDriveZ(QLX_SHLK_SIM_PATH, separator).c_str(), nullptr, kLibraryDirs),
                  nullptr)
            << separator;
    }
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), 2);
    EXPECT_EQ(
        LoadLibraryExA(("C" + OnDriveZ(QLX_SHLK_SIM_PATH, '\\').substr(1)).c_str(), nullptr, kLibraryDirs),
        nullptr);
    EXPECT_EQ(LoadLibraryExA("\\\\server\\share\\shlk.dll", nullptr, kLibraryDirs), nullptr);
    // The library's folder means nothing for a name that is not a full path: refused, even where
    // the loader would find the file.
    EXPECT_EQ(LoadLibraryExA(QLX_SHLK_SIM_PATH, nullptr, kLibraryDirs), nullptr);
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), 2);
    // Without flags a Linux path still loads, as tests load libraries.
    EXPECT_NE(LoadLibraryA(QLX_SHLK_SIM_PATH), nullptr);
    EXPECT_EQ(sim::LibraryLoadCount(QLX_SHLK_SIM_PATH), 3);
    ASSERT_EQ(sim::LibraryLoadCalls().size(), 6u);
    EXPECT_EQ(sim::LibraryLoadCalls()[0].flags, kLibraryDirs);
    EXPECT_TRUE(sim::LibraryLoadCalls()[0].ex);
    EXPECT_FALSE(sim::LibraryLoadCalls()[5].ex);
}

TEST_F(LoaderTest, SetDefaultDllDirectoriesTakesSearchFlagsOnly) {
    EXPECT_EQ(SetDefaultDllDirectories(0), FALSE);
    EXPECT_EQ(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | 0x1u), FALSE);
    EXPECT_EQ(sim::DefaultDllDirectories(), 0u);
    // Found through KERNEL32 the way a program looks it up.
    FARPROC address = GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "SetDefaultDllDirectories");
    ASSERT_NE(address, nullptr);
    using Generic = void (*)();
    auto set = reinterpret_cast<BOOL(WINAPI*)(DWORD)>(reinterpret_cast<Generic>(address));
    EXPECT_EQ(set(LOAD_LIBRARY_SEARCH_SYSTEM32), TRUE);
    EXPECT_EQ(sim::DefaultDllDirectories(), LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA("kernel32.dll"), "NoSuchCall"), nullptr);
}

TEST_F(LoaderTest, ASystemWithoutSearchFlagsHasNeitherTheCallNorTheFlags) {
    sim::SetSearchFlagsSupported(false);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories"), nullptr);
    EXPECT_EQ(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), FALSE);
    EXPECT_EQ(LoadLibraryExA(OnDriveZ(QLX_SHLK_SIM_PATH, '\\').c_str(), nullptr, kLibraryDirs), nullptr);
    EXPECT_NE(LoadLibraryExA(OnDriveZ(QLX_SHLK_SIM_PATH, '\\').c_str(), nullptr, 0), nullptr);
}

}  // namespace
