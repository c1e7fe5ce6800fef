// The progress dialog: built from template 122, centred, moved from another thread, cancelled by
// its close box.
#include "update/progress.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"

namespace {

constexpr UINT kStop = WM_USER + 100;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

// Runs the calling thread's message loop until `kStop` arrives (or 60 s of virtual time pass).
void PumpUntilStop(HWND target) {
    sim::After(60'000'000'000ULL, [target] { sim::Post(target, kStop, 1, 0); });
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (msg.message == kStop) {
            EXPECT_EQ(msg.wParam, 0u) << "timed out";
            return;
        }
        DispatchMessageA(&msg);
    }
}

// Runs the calling thread's message loop until done() holds; false if 60 s of virtual time pass.
bool PumpUntil(HWND target, const std::function<bool()>& done) {
    sim::After(60'000'000'000ULL, [target] { sim::Post(target, kStop, 1, 0); });
    MSG msg{};
    while (!done()) {
        if (!GetMessageA(&msg, nullptr, 0, 0) || msg.message == kStop) {
            return false;
        }
        DispatchMessageA(&msg);
    }
    return true;
}

struct Call {
    int position;
    int total;
};

struct WorkerArgs {
    Progress* progress;
    std::vector<Call> calls;
    std::vector<HRESULT> results;
};

DWORD WINAPI CallSetProgress(LPVOID param) {
    auto* args = static_cast<WorkerArgs*>(param);
    for (const Call& call : args->calls) {
        args->results.push_back(args->progress->SetProgress(call.position, call.total));
    }
    PostMessageA(args->progress->dialog, kStop, 0, 0);
    return 0;
}

// Calls SetProgress from a thread of its own while this thread pumps the dialog's messages.
std::vector<HRESULT> SetFromWorker(Progress& progress, std::vector<Call> calls) {
    WorkerArgs args{&progress, std::move(calls), {}};
    HANDLE thread = CreateThread(nullptr, 0, CallSetProgress, &args, 0, nullptr);
    PumpUntilStop(progress.dialog);
    sim::JoinThread(thread);
    CloseHandle(thread);
    return args.results;
}

sim::ProgressBarState Bar(const Progress& progress) {
    return sim::ProgressBar(GetDlgItem(progress.dialog, IDC_PROGRESS_BAR))
        .value_or(sim::ProgressBarState{-1, -1, -1});
}

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ProgressTest, ShowsTemplate122CentredAndInFront) {
    Progress progress(Instance());
    EXPECT_EQ(progress.status, S_OK);
    ASSERT_NE(progress.dialog, nullptr);
    EXPECT_TRUE(sim::ProgressClassRegistered());

    auto dialog = sim::Dialog(progress.dialog);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->templateId, IDD_PROGRESS);
    EXPECT_EQ(dialog->caption, "Quadrilux Pro OS Update");
    EXPECT_EQ(dialog->widthUnits, 186);
    EXPECT_EQ(dialog->heightUnits, 47);
    EXPECT_FALSE(dialog->modal);
    HWND text = GetDlgItem(progress.dialog, IDC_PROGRESS_TEXT);
    HWND bar = GetDlgItem(progress.dialog, IDC_PROGRESS_BAR);
    ASSERT_NE(text, nullptr);
    ASSERT_NE(bar, nullptr);
    auto textInfo = sim::FindWindowByText("Update in progress...");
    ASSERT_TRUE(textInfo);
    EXPECT_EQ(textInfo->handle, text);

    EXPECT_EQ(GetWindowLongPtrA(progress.dialog, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&progress));
    EXPECT_TRUE(IsWindowVisible(progress.dialog));
    EXPECT_EQ(sim::ForegroundWindow(), progress.dialog);

    RECT r{};
    ASSERT_TRUE(GetWindowRect(progress.dialog, &r));
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    EXPECT_EQ(width, sim::DialogUnitsToPixelsX(186) + 2 * sim::kDialogFrame);
    EXPECT_EQ(height, sim::DialogUnitsToPixelsY(47) + 2 * sim::kDialogFrame + sim::kDialogCaption);
    EXPECT_EQ(r.left, (1920 - width) / 2);
    EXPECT_EQ(r.top, (1080 - height) / 2);
}

TEST_F(ProgressTest, PlacementOnScreensOfEverySize) {
    // The dialog is 285 x 102 pixels with the stand-in's fixed conversion.
    const int width = sim::DialogUnitsToPixelsX(186) + 2 * sim::kDialogFrame;
    const int height = sim::DialogUnitsToPixelsY(47) + 2 * sim::kDialogFrame + sim::kDialogCaption;
    struct Case {
        int screenWidth;
        int screenHeight;
        int x;
        int y;
    } cases[] = {
        {800, 600, (800 - width) / 2, (600 - height) / 2},
        {width + 1, height + 1, 0, 0},  // odd difference: truncated towards zero
        {width + 3, height + 5, 1, 2},
        {width, height, 0, 0},
        {200, 80, 0, 0},  // larger than the screen: top-left corner
        {200, 1080, 0, (1080 - height) / 2},
        {1920, 50, (1920 - width) / 2, 0},
    };
    for (const Case& c : cases) {
        sim::Reset();
        sim::SetScreenSize(c.screenWidth, c.screenHeight);
        Progress progress(Instance());
        RECT r{};
        GetWindowRect(progress.dialog, &r);
        EXPECT_EQ(r.left, c.x) << c.screenWidth << "x" << c.screenHeight;
        EXPECT_EQ(r.top, c.y) << c.screenWidth << "x" << c.screenHeight;
        EXPECT_EQ(r.right - r.left, width);
        EXPECT_EQ(r.bottom - r.top, height);
    }
}

TEST_F(ProgressTest, SetProgressFromAnotherThreadMovesTheBar) {
    Progress progress(Instance());
    std::vector<sim::ProgressBarState> seen;
    sim::SetProgressBarObserver([&seen](const sim::ProgressBarChange& change) {
        if (change.message == PBM_SETPOS) {
            seen.push_back(change.state);
        }
    });
    auto results = SetFromWorker(progress, {{0, 2756}, {1, 2756}, {2756, 2756}, {2758, 2756}});
    EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, S_OK, S_OK, S_OK}));
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].high, 2756);
    EXPECT_EQ(seen[0].position, 0);  // an empty bar
    EXPECT_EQ(seen[1].position, 1);
    EXPECT_EQ(seen[3].position, 2756);  // beyond the total: the bar stays full
    sim::ProgressBarState bar = Bar(progress);
    EXPECT_EQ(bar.low, 0);
    EXPECT_EQ(bar.high, 2756);
    EXPECT_EQ(bar.position, 2756);
}

TEST_F(ProgressTest, CloseBoxCancelsButTheDialogStays) {
    Progress progress(Instance());
    ASSERT_TRUE(sim::ClickCloseBox(progress.dialog));
    // Nothing happens until the dialog's own thread handles the click.
    EXPECT_EQ(progress.status, S_OK);
    ASSERT_TRUE(PumpUntil(progress.dialog, [&] { return progress.status == E_ABORT; }));
    auto results = SetFromWorker(progress, {{5, 10}});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], E_ABORT);
    EXPECT_EQ(progress.status, E_ABORT);
    EXPECT_TRUE(IsWindowVisible(progress.dialog));
    EXPECT_TRUE(sim::Dialog(progress.dialog));
    EXPECT_EQ(Bar(progress).position, 5);  // the bar still moves

    // It stays cancelled; a second click changes nothing.
    sim::ClickCloseBox(progress.dialog);
    sim::Post(progress.dialog, kStop, 0, 0);
    PumpUntil(progress.dialog, [] { return false; });
    results = SetFromWorker(progress, {{6, 10}, {7, 10}});
    EXPECT_EQ(results, (std::vector<HRESULT>{E_ABORT, E_ABORT}));
}

TEST_F(ProgressTest, OnlyTheCancelCommandCancels) {
    Progress progress(Instance());
    sim::ClickButton(progress.dialog, IDOK);
    sim::Post(progress.dialog, WM_CLOSE + 1, 0, 0);
    sim::Post(progress.dialog, kStop, 0, 0);
    EXPECT_FALSE(PumpUntil(progress.dialog, [&] { return progress.status != S_OK; }));
    EXPECT_EQ(SetFromWorker(progress, {{1, 2}}), (std::vector<HRESULT>{S_OK}));

    // The low word of wParam is the command; the notification code in the high word does not matter.
    sim::Post(progress.dialog, WM_COMMAND, static_cast<WPARAM>(MAKELONG(IDCANCEL, 1)), 0);
    EXPECT_TRUE(PumpUntil(progress.dialog, [&] { return progress.status == E_ABORT; }));
}

}  // namespace
