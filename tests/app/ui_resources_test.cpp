// The stand-in's user-interface resources and message boxes, read from the program's own compiled
// resources (res/app.rc).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"

namespace {

class UiResourcesTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    HINSTANCE self_ = GetModuleHandleA(nullptr);
};

TEST_F(UiResourcesTest, StringsComeFromTheCompiledTableAndAreCutToTheBuffer) {
    char buffer[100];
    EXPECT_EQ(LoadStringA(self_, IDS_APP_TITLE, buffer, sizeof buffer), 13);
    EXPECT_STREQ(buffer, "RazEruzereRad");
    EXPECT_EQ(LoadStringA(self_, IDC_MAIN_CLASS, buffer, sizeof buffer), 13);
    EXPECT_STREQ(buffer, "RAZERUZERERAD");

    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(LoadStringA(self_, IDS_APP_TITLE, small, sizeof small), 4);
    EXPECT_STREQ(small, "RazE");

    // In a bundle that exists, and in one that does not.
    EXPECT_EQ(LoadStringA(self_, 104, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(LoadStringA(self_, 4000, buffer, sizeof buffer), 0);
    EXPECT_EQ(LoadStringA(self_, IDS_APP_TITLE, buffer, 0), 0);
}

TEST_F(UiResourcesTest, DamagedStringBundlesGiveNothingAndAreNotReadPastTheirEnd) {
    char buffer[100];
    // Entry 7 claims 200 characters, but the bundle ends after 3.
    std::vector<std::uint8_t> bundle(14, 0);
    bundle.insert(bundle.end(), {200, 0, 'A', 0, 'B', 0, 'C', 0});
    sim::ResourceOverride damaged(RT_STRING, 7, bundle);
    EXPECT_EQ(LoadStringA(self_, IDS_APP_TITLE, buffer, sizeof buffer), 0);
    EXPECT_EQ(LoadStringA(self_, IDC_MAIN_CLASS, buffer, sizeof buffer), 0);
    sim::ResourceOverride odd(RT_STRING, 7, {3});
    EXPECT_EQ(LoadStringA(self_, IDS_APP_TITLE, buffer, sizeof buffer), 0);
}

TEST_F(UiResourcesTest, IconsAndCursors) {
    EXPECT_EQ(sim::IconResourceId(LoadIconA(self_, MAKEINTRESOURCEA(IDI_LARGE))), IDI_LARGE);
    EXPECT_EQ(sim::IconResourceId(LoadIconA(self_, MAKEINTRESOURCEA(IDI_SMALL))), IDI_SMALL);
    EXPECT_EQ(LoadIconA(self_, MAKEINTRESOURCEA(IDD_PROGRESS)), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadCursorA(self_, IDC_ARROW), nullptr);
}

TEST_F(UiResourcesTest, AcceleratorTableHoldsAltWithTheTwoCharacters) {
    HACCEL table = LoadAcceleratorsA(self_, MAKEINTRESOURCEA(IDC_MAIN_ACCEL));
    ASSERT_NE(table, nullptr);
    std::vector<sim::AccelEntry> entries = sim::AcceleratorEntries(table);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key, '?');
    EXPECT_EQ(entries[1].key, '/');
    for (const sim::AccelEntry& entry : entries) {
        EXPECT_EQ(entry.flags, 0x10);  // Alt, character code
        EXPECT_EQ(entry.command, IDM_ABOUT);
    }
    EXPECT_EQ(LoadAcceleratorsA(self_, MAKEINTRESOURCEA(IDD_ABOUTBOX)), nullptr);
}

std::vector<WPARAM> commands;
LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        commands.push_back(wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(UiResourcesTest, TranslateAcceleratorMatchesCharacterAndAltOnly) {
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = RecordCommands;
    cls.lpszClassName = "AccelTarget";
    ASSERT_NE(RegisterClassExA(&cls), 0);
    HWND window = CreateWindowExA(0, "AccelTarget", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, self_, nullptr);
    ASSERT_NE(window, nullptr);
    HACCEL table = LoadAcceleratorsA(self_, MAKEINTRESOURCEA(IDC_MAIN_ACCEL));

    struct Case {
        UINT message;
        WPARAM key;
        LPARAM lParam;
        bool translated;
    };
    const Case cases[] = {
        {WM_SYSCHAR, '?', sim::kAltDown, true},
        {WM_SYSCHAR, '/', sim::kAltDown, true},
        {WM_CHAR, '?', 0, false},
        {WM_SYSCHAR, 'x', sim::kAltDown, false},
        {WM_SYSKEYDOWN, '?', sim::kAltDown, false},  // a key, not a character
        {WM_PAINT, '?', sim::kAltDown, false},
    };
    for (const Case& c : cases) {
        commands.clear();
        MSG msg{window, c.message, c.key, c.lParam, 0, {}};
        EXPECT_EQ(TranslateAcceleratorA(window, table, &msg) != 0, c.translated) << c.message << " " << c.key;
        ASSERT_EQ(commands.size(), c.translated ? 1u : 0u);
        if (c.translated) {
            EXPECT_EQ(LOWORD(commands[0]), IDM_ABOUT);
            EXPECT_EQ(HIWORD(commands[0]), 1);  // from an accelerator
        }
    }
    MSG msg{window, WM_SYSCHAR, '?', sim::kAltDown, 0, {}};
    EXPECT_EQ(TranslateAcceleratorA(nullptr, table, &msg), 0);
    EXPECT_EQ(TranslateAcceleratorA(window, nullptr, &msg), 0);
    DestroyWindow(window);
}

TEST_F(UiResourcesTest, MenusAreParsedWithinTheirBytes) {
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = RecordCommands;
    cls.lpszClassName = "MenuOwner";
    cls.lpszMenuName = MAKEINTRESOURCEA(IDC_MAIN_MENU);
    ASSERT_NE(RegisterClassExA(&cls), 0);
    HWND window = CreateWindowExA(0, "MenuOwner", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, self_, nullptr);

    std::vector<sim::MenuItem> items = sim::WindowMenu(window);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].path, "&File");
    EXPECT_TRUE(items[0].popup);
    EXPECT_EQ(items[1].path, "&File/E&xit");
    EXPECT_EQ(items[1].command, IDM_EXIT);
    EXPECT_EQ(items[2].path, "&Help");
    EXPECT_EQ(items[3].path, "&Help/&About ...");
    EXPECT_EQ(items[3].command, IDM_ABOUT);

    EXPECT_FALSE(sim::ChooseMenuCommand(window, 999));
    EXPECT_TRUE(sim::ChooseMenuCommand(window, IDM_EXIT));
    commands.clear();
    MSG msg{};
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    DispatchMessageA(&msg);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], WPARAM{IDM_EXIT});  // a menu choice: high word 0

    // A menu whose text runs off the end, and one that nests without end.
    sim::ResourceOverride cut(RT_MENU, IDC_MAIN_MENU, {0, 0, 0, 0, 0x10, 0, 'A', 0, 'B'});
    EXPECT_TRUE(sim::WindowMenu(window).empty());
    std::vector<std::uint8_t> deep = {0, 0, 0, 0};
    for (int i = 0; i < 64; ++i) {
        deep.insert(deep.end(), {0x10, 0, 'P', 0, 0, 0});
    }
    sim::ResourceOverride nested(RT_MENU, IDC_MAIN_MENU, deep);
    EXPECT_TRUE(sim::WindowMenu(window).empty());
    DestroyWindow(window);
}

TEST_F(UiResourcesTest, BoxesWithoutHandlerAreAnsweredAsClosingThemAndRecorded) {
    EXPECT_EQ(MessageBoxA(nullptr, "t1", "c", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "t2", "c", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "t3", nullptr, MB_OK | MB_ICONEXCLAMATION), IDOK);
    std::vector<sim::MessageBoxRecord> boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].serial, 1);
    EXPECT_EQ(boxes[2].caption, "Error");
    EXPECT_EQ(boxes[2].type, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_TRUE(boxes[1].answered);
    EXPECT_EQ(boxes[1].answer, IDNO);
    sim::Reset();
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

int posted = 0;
LRESULT CALLBACK CountPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) {
        ++posted;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct Answerer {
    HWND window;
    int serial;
};

DWORD WINAPI AnswerLater(LPVOID param) {
    auto* answerer = static_cast<Answerer*>(param);
    Sleep(2000);
    PostMessageA(answerer->window, WM_USER, 0, 0);
    Sleep(1000);
    sim::AnswerMessageBox(answerer->serial, IDOK);
    return 0;
}

TEST_F(UiResourcesTest, AnOpenBoxServesTheThreadsMessagesUntilItIsAnswered) {
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = CountPosted;
    cls.lpszClassName = "Counter";
    ASSERT_NE(RegisterClassExA(&cls), 0);
    HWND window = CreateWindowExA(0, "Counter", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, self_, nullptr);
    posted = 0;
    Answerer answerer{window, 0};
    HANDLE thread = nullptr;
    sim::SetMessageBoxHandler([&](const sim::MessageBoxRecord& box) -> std::optional<int> {
        answerer.serial = box.serial;
        thread = CreateThread(nullptr, 0, AnswerLater, &answerer, 0, nullptr);
        return std::nullopt;
    });
    PostQuitMessage(7);  // stays queued for the loop that owns it
    EXPECT_EQ(MessageBoxA(nullptr, "wait", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(sim::NowMs(), 3000u);
    EXPECT_EQ(posted, 1);
    EXPECT_FALSE(sim::AnswerMessageBox(answerer.serial, IDCANCEL));  // already answered
    sim::JoinThread(thread);
    CloseHandle(thread);
    MSG msg{};
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, WPARAM{7});
    DestroyWindow(window);
}

}  // namespace
