// The stand-in's dialogs and progress-bar control, as the product and the terminal program use them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"

namespace {

class HostDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        ASSERT_TRUE(InitCommonControlsEx(&init));
    }
};

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct Seen {
    std::vector<UINT> messages;
    LPARAM initParam = 0;
};
Seen* seen = nullptr;

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (seen != nullptr) {
        seen->messages.push_back(message);
    }
    if (message == WM_INITDIALOG) {
        if (seen != nullptr) {
            seen->initParam = lParam;
        }
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

std::vector<std::uint8_t> Template(int id) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(id), RT_DIALOG);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource)));
    return std::vector<std::uint8_t>(bytes, bytes + SizeofResource(nullptr, resource));
}

TEST_F(HostDialogs, ReadsEveryPartOfTheTemplate) {
    HWND dialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, QuietProc, 0);
    ASSERT_NE(dialog, nullptr);
    auto info = sim::Dialog(dialog);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->caption, "Quadrilux Pro OS Update");
    EXPECT_EQ(info->fontName, "MS Shell Dlg");
    EXPECT_EQ(info->fontPoints, 8);
    EXPECT_EQ(info->style & (WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    EXPECT_FALSE(IsWindowVisible(dialog));  // the template is not WS_VISIBLE
    ASSERT_EQ(info->controls.size(), 2u);
    const sim::DialogControl& text = info->controls[0];
    EXPECT_EQ(text.id, IDC_PROGRESS_TEXT);
    EXPECT_EQ(text.className, "Static");
    EXPECT_EQ(text.text, "Update in progress...");
    EXPECT_EQ(text.x, 7);
    EXPECT_EQ(text.y, 7);
    EXPECT_EQ(text.width, 172);
    EXPECT_EQ(text.height, 11);
    EXPECT_NE(text.style & WS_GROUP, 0u);
    const sim::DialogControl& bar = info->controls[1];
    EXPECT_EQ(bar.id, IDC_PROGRESS_BAR);
    EXPECT_EQ(bar.className, "msctls_progress32");
    EXPECT_EQ(bar.y, 21);
    EXPECT_EQ(bar.height, 14);
    EXPECT_NE(bar.style & WS_BORDER, 0u);
    EXPECT_EQ(bar.window, GetDlgItem(dialog, IDC_PROGRESS_BAR));
    EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 4242, PBM_GETPOS, 0, 0), 0);
}

TEST_F(HostDialogs, NoProgressBarWithoutCommonControls) {
    sim::Reset();  // forgets the registration made in SetUp
    EXPECT_FALSE(sim::ProgressClassRegistered());
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, QuietProc, 0), nullptr);
    INITCOMMONCONTROLSEX wrongSize{sizeof(INITCOMMONCONTROLSEX) + 4, ICC_PROGRESS_CLASS};
    EXPECT_FALSE(InitCommonControlsEx(&wrongSize));
    EXPECT_FALSE(sim::ProgressClassRegistered());
}

TEST_F(HostDialogs, DamagedTemplatesAreRefusedSafely) {
    const std::vector<std::uint8_t> good = Template(IDD_PROGRESS);
    ASSERT_GT(good.size(), 40u);
    // Cut short anywhere: refused, never read past the end.
    for (std::size_t length = 0; length < good.size(); ++length) {
        sim::ResourceOverride cut(RT_DIALOG, 500,
                                  std::vector<std::uint8_t>(good.data(), good.data() + length));
        EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(500), nullptr, QuietProc, 0), nullptr)
            << length;
    }
    // Not the extended form, or more items than there are bytes.
    auto spoiled = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = good;
        bytes.at(at) = value;
        return bytes;
    };
    for (const auto& bytes : {spoiled(0, 0), spoiled(2, 0), spoiled(16, 0xFF), spoiled(17, 0xFF)}) {
        sim::ResourceOverride bad(RT_DIALOG, 500, bytes);
        EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(500), nullptr, QuietProc, 0), nullptr);
    }
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(501), nullptr, QuietProc, 0), nullptr);
    EXPECT_EQ(CreateDialogParamA(nullptr, "NAMED", nullptr, QuietProc, 0), nullptr);
}

TEST_F(HostDialogs, ModalAboutBoxAnsweredByAScript) {
    Seen record;
    seen = &record;
    int observed = 0;
    sim::SetDialogObserver([&observed](HWND dialog, int templateId) {
        observed = templateId;
        EXPECT_TRUE(sim::Dialog(dialog)->modal);
        sim::ClickButton(dialog, IDOK);
    });
    INT_PTR result = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, AboutProc, 77);
    seen = nullptr;
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(observed, IDD_ABOUTBOX);
    EXPECT_EQ(record.initParam, 77);
    ASSERT_FALSE(record.messages.empty());
    EXPECT_EQ(record.messages.front(), static_cast<UINT>(WM_INITDIALOG));
    EXPECT_TRUE(sim::Dialogs().empty());  // destroyed when the loop ends
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(999), nullptr, AboutProc, 0), -1);
}

TEST_F(HostDialogs, CloseBoxOfAModalDialogIsCancel) {
    sim::SetDialogObserver([](HWND dialog, int) { sim::ClickCloseBox(dialog); });
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, AboutProc, 0), IDCANCEL);
}

TEST_F(HostDialogs, ModalLoopHandsOnTheQuitMessage) {
    sim::SetDialogObserver([](HWND, int) { PostQuitMessage(3); });
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, AboutProc, 0), 0);
    MSG msg{};
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(HostDialogs, ProgressBarKeepsItsPositionInsideTheRange) {
    HWND dialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, QuietProc, 0);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    std::vector<sim::ProgressBarChange> changes;
    sim::SetProgressBarObserver([&changes](const sim::ProgressBarChange& c) { changes.push_back(c); });

    sim::ProgressBarState fresh = sim::ProgressBar(bar).value();
    EXPECT_EQ(fresh.low, 0);
    EXPECT_EQ(fresh.high, 100);
    EXPECT_EQ(fresh.position, 0);

    EXPECT_EQ(SendMessageA(bar, PBM_SETRANGE32, 0, 2756), MAKELONG(0, 100));  // the previous range
    EXPECT_EQ(SendMessageA(bar, PBM_SETPOS, 2758, 0), 0);                     // the previous position
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 2756);
    EXPECT_EQ(SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(-5), 0), 2756);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    SendMessageA(bar, PBM_SETPOS, 2000, 0);
    SendMessageA(bar, PBM_SETRANGE32, 10, 1000);  // a narrower range pulls the position in
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1000);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 10);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 1000);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELONG(0, 50));
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 50);

    // Every change was reported; reading was not.
    ASSERT_EQ(changes.size(), 6u);
    EXPECT_EQ(changes[1].message, static_cast<UINT>(PBM_SETPOS));
    EXPECT_EQ(changes[1].wParam, 2758u);
    EXPECT_EQ(changes[1].state.position, 2756);
    EXPECT_EQ(changes.back().state.high, 50);
    EXPECT_FALSE(sim::ProgressBar(dialog));  // not a progress bar
}

}  // namespace
