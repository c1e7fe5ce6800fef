// The whole program on the virtual clock: WinMain runs on the test thread with its own message
// loop, against the virtual Quadrilux Pro; message boxes are answered by a script and recorded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/about.h"
#include "app/main_window.h"
#include "app/update_controller.h"
#include "app/win_main.h"
#include "platform/host/sim.h"
#include "platform/win32.h"
#include "res/resource.h"
#include "sim/host/virtual_device.h"
#include "sim/model/scenario.h"
#include "sim/model/virtual_quadrilux.h"
#include "tests/device/support.h"
#include "update/firmware_image.h"
#include "update/progress.h"
#include "update/update_worker.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const char kCaption[] = "Quadrilux Pro Update";
const char kConnectPrompt[] =
    "Please connect your Quadrilux Pro, wait for the\n"
    "driver installation to complete, then press\n"
    "'OK' to begin the firmware update.\n\n"
    "Press 'Cancel' to skip the update.\n";
const char kConsent[] =
    "This updater will update your Quadrilux Pro firmware to version 182.\n\n"
    "If you wish to install this firmware, press 'Yes'. Otherwise press 'No'.\n"
    "Firmware updates improve the stability and performance of your Quadrilux.\n"
    "Do you want to proceed?\n";
const char kCompleted[] = "Quadrilux Pro firmware update completed.";
const char kFailed[] =
    "An error occurred updating the Quadrilux Pro firmware.\n\n"
    "Please ensure all other MIDI applications are closed,\n"
    "wait for any Windows drivers to install, then\n"
    "reconnect the Quadrilux Pro and restart the updater.";
const char kDisconnectedTrace[] = "TKUpdate:Device disconnected\n";

// A box as a test expects it: text and type (the caption is always the same).
struct Box {
    std::string text;
    UINT type;
    bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* out) {
    *out << "{" << ::testing::PrintToString(box.text) << ", " << box.type << "}";
}

const Box kConnectBox{kConnectPrompt, MB_OKCANCEL};
const Box kConsentBox{kConsent, MB_YESNO};
const Box kCompletedBox{kCompleted, MB_OK | MB_ICONINFORMATION};
const Box kFailedBox{kFailed, MB_OK | MB_ICONEXCLAMATION};

// One answer of the script, and what the person does just before giving it.
struct Answer {
    int answer;
    std::function<void()> action = nullptr;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }

    void TearDown() override {
        // A worker still finishing after the loop ended gets the time to do so, with its sends served.
        Drain(1000);
    }

    // Connects the virtual controller now: an instant link unless the scenario says otherwise.
    std::shared_ptr<simhost::VirtualDevice> Plug(const std::string& scenario = "") {
        std::string error;
        std::optional<model::Scenario> parsed =
            model::ParseScenario(scenario.empty() ? "rate=instant" : "rate=instant," + scenario, &error);
        EXPECT_TRUE(parsed) << error;
        device_ = simhost::VirtualDevice::Plug(parsed.value_or(model::Scenario{}));
        return device_;
    }

    // Answers the boxes in order; a box beyond the script fails the test and is closed.
    void Script(std::vector<Answer> answers) {
        auto queue = std::make_shared<std::vector<Answer>>(std::move(answers));
        auto next = std::make_shared<std::size_t>(0);
        sim::SetMessageBoxHandler([queue, next](const sim::MessageBoxRecord& box) -> std::optional<int> {
            EXPECT_EQ(box.caption, kCaption);
            EXPECT_EQ(box.owner, nullptr);
            if (*next >= queue->size()) {
                ADD_FAILURE() << "unexpected box: " << box.text;
                return sim::ButtonsOf(box.type).back().answer;
            }
            Answer& answer = (*queue)[(*next)++];
            if (answer.action) {
                answer.action();
            }
            return answer.answer;
        });
    }

    int Run() {
        sim::StdoutCapture capture;
        int code = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
        stdout_ = capture.Text();
        return code;
    }

    static std::vector<Box> Boxes() {
        std::vector<Box> boxes;
        for (const sim::MessageBoxRecord& box : sim::MessageBoxes()) {
            boxes.push_back(Box{box.text, box.type});
        }
        return boxes;
    }

    static HWND MainWindow() {
        std::optional<sim::WindowInfo> window = sim::FindWindowByClass("RAZERUZERERAD");
        return window ? window->handle : nullptr;
    }

    static std::optional<sim::WindowInfo> ProgressDialog() {
        return sim::FindWindowByText("Quadrilux Pro OS Update");
    }

    static int TraceCount(const std::string& line) {
        int count = 0;
        for (const std::string& l : sim::DebugLines()) {
            count += l == line ? 1 : 0;
        }
        return count;
    }

    // Serves this thread's messages for `ms` of the stand-in's clock.
    static void Drain(std::uint64_t ms) {
        static const UINT kDone = WM_USER + 77;
        WNDCLASSEXA cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = DefWindowProcA;
        cls.lpszClassName = "TestDrain";
        RegisterClassExA(&cls);
        HWND window =
            CreateWindowExA(0, "TestDrain", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        sim::After(ms * 1'000'000, [window] { PostMessageA(window, kDone, 0, 0); });
        MSG msg{};
        while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != kDone) {
            DispatchMessageA(&msg);
        }
        DestroyWindow(window);
    }

    std::shared_ptr<simhost::VirtualDevice> device_;
    std::string stdout_;
};

TEST_F(ProgramTest, ConnectPromptThenConsentThenACompletedUpdate) {
    Script({{IDOK, [this] { Plug(); }}, {IDYES}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Boxes(), ElementsAre(kConnectBox, kConsentBox, kCompletedBox));
    ASSERT_TRUE(device_);
    model::VirtualQuadrilux::Report report = device_->Report();
    EXPECT_TRUE(report.complete);
    EXPECT_EQ(report.verdict, model::kIntact);
    EXPECT_EQ(report.headersReceived, 2);
    // The port was not there at the first look, so only the second printed a line.
    EXPECT_EQ(stdout_, "Quadrilux Pro\n");
    ASSERT_TRUE(ProgressDialog());
    EXPECT_FALSE(ProgressDialog()->visible);
}

TEST_F(ProgramTest, DevicePresentFromTheStartIsAskedForConsentFirst) {
    Plug();
    Script({{IDYES}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox, kCompletedBox));
    EXPECT_EQ(stdout_, "Quadrilux Pro\n");
    // Attached once at the start; the driver library is absent.
    EXPECT_EQ(TraceCount(kDisconnectedTrace), 1);
}

// DLLs are looked for in the system folder alone before WinMain does anything else: when the
// search is restricted, the window title is not loaded yet, no window exists, no library was asked
// for and the common controls are not set up.
TEST_F(ProgramTest, DllSearchIsRestrictedToTheSystemFolderBeforeAnythingElse) {
    struct Moment {
        DWORD flags;
        std::string title;
        std::size_t windows;
        int libraryLoads;
        bool commonControls;
    };
    std::vector<Moment> seen;
    windowTitle[0] = '\0';  // filled by the first LoadStringA
    Plug();
    const std::size_t windowsBefore = sim::Windows().size();
    sim::SetDefaultDllDirectoriesObserver([&seen](DWORD flags) {
        seen.push_back({flags, windowTitle, sim::Windows().size(), sim::LibraryLoadAttempts(),
                        sim::ProgressClassRegistered()});
    });
    Script({{IDYES}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].flags, LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(seen[0].title, "");
    EXPECT_EQ(seen[0].windows, windowsBefore);
    EXPECT_EQ(seen[0].libraryLoads, 0);
    EXPECT_FALSE(seen[0].commonControls);
    EXPECT_EQ(sim::DefaultDllDirectories(), LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(windowTitle, std::string("RazEruzereRad"));
}

// A Windows without the call (before 8, without its loader update) still runs the whole update.
TEST_F(ProgramTest, ASystemWithoutSetDefaultDllDirectoriesStillUpdates) {
    sim::SetSearchFlagsSupported(false);
    Plug();
    Script({{IDYES}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox, kCompletedBox));
    EXPECT_EQ(sim::DefaultDllDirectories(), 0u);
    EXPECT_EQ(device_->Report().verdict, model::kIntact);
}

TEST_F(ProgramTest, CancelAtTheConnectPromptEndsWithoutAnotherBox) {
    Script({{IDCANCEL}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConnectBox));
    EXPECT_FALSE(ProgressDialog());
}

TEST_F(ProgramTest, NoAtTheConsentQuestionEndsWithoutUpdate) {
    auto device = Plug();
    Script({{IDNO}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox));
    EXPECT_FALSE(ProgressDialog());
    EXPECT_EQ(device->Report().headersReceived, 0);
}

TEST_F(ProgramTest, EachRunKeepsItsObjectsInTheRecordOfItsUpdate) {
    const UpdateRecord* before = CurrentUpdate();

    // No at the consent question: the device object and the image, nothing of the worker's.
    Plug();
    Script({{IDNO}});
    EXPECT_EQ(Run(), -1);
    const UpdateRecord* refused = CurrentUpdate();
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->earlier, before);
    EXPECT_NE(refused->updaterDev, nullptr);
    ASSERT_NE(refused->image, nullptr);
    EXPECT_TRUE(refused->image->IsLoaded());
    EXPECT_EQ(refused->progress, nullptr);
    EXPECT_EQ(refused->args, nullptr);

    // A completed update: the worker's record is made of the same objects, and ends with status 0.
    sim::Reset();
    Plug();
    Script({{IDYES}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    const UpdateRecord* done = CurrentUpdate();
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(done->earlier, refused);
    ASSERT_NE(done->args, nullptr);
    EXPECT_EQ(done->args->image, done->image);
    EXPECT_EQ(done->args->progress, done->progress);
    EXPECT_EQ(done->args->updaterDev, done->updaterDev);
    EXPECT_EQ(done->args->status, 0);
    ASSERT_NE(done->progress, nullptr);
    ASSERT_TRUE(ProgressDialog());
    EXPECT_EQ(done->progress->dialog, ProgressDialog()->handle);
}

TEST_F(ProgramTest, OkTwiceWithoutDeviceThenTheDeviceArrivesAndIsUpdated) {
    sim::AddOutputPort("Other Synth");
    Script({{IDOK}, {IDOK, [this] { Plug(); }}, {IDYES}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Boxes(), ElementsAre(kConnectBox, kConnectBox, kConsentBox, kCompletedBox));
    // Every look examines the ports in index order up to the first match.
    EXPECT_EQ(stdout_, "Other Synth\nOther Synth\nOther Synth\nQuadrilux Pro\n");
    // Not connected through a driver library, so every OK attaches again.
    EXPECT_EQ(TraceCount(kDisconnectedTrace), 3);
    EXPECT_EQ(device_->Report().verdict, model::kIntact);
}

TEST_F(ProgramTest, StandardOutputHoldsOnePortPerLineUpToTheFirstMatch) {
    sim::AddOutputPort("Other Synth");
    sim::AddOutputPort("Quadrilux MK2");
    Plug("name=MIDIOUT2 (Quadrilux Pro)");
    sim::AddOutputPort("Quadrilux Pro");  // after the match: never looked at
    Script({{IDNO}});
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(stdout_, "Other Synth\nQuadrilux MK2\nMIDIOUT2 Quadrilux Pro\n");
}

std::vector<std::uint8_t> ShippedImage() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_FIRMWARE), RT_RCDATA);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, resource)));
    return {bytes, bytes + SizeofResource(nullptr, resource)};
}

TEST_F(ProgramTest, AVersionDigitOf16EndsAfterTheConnectPromptWithoutAnyBox) {
    std::vector<std::uint8_t> image = ShippedImage();
    image[13] = 16;  // the sixth version digit
    sim::ResourceOverride damaged(RT_RCDATA, IDR_FIRMWARE, image);
    Script({{IDOK, [this] { Plug(); }}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConnectBox));
    EXPECT_FALSE(ProgressDialog());
}

TEST_F(ProgramTest, AnImageThatCannotBeLoadedEndsSilently) {
    sim::ResourceOverride missing(RT_RCDATA, IDR_FIRMWARE);
    Plug();
    Script({});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_EQ(stdout_, "");
}

// Every way the worker fails ends in the error box and -1.
struct Failure {
    const char* name;
    const char* scenario;
    std::function<void(simhost::VirtualDevice&)> atConsent;
};

class WorkerFailureTest : public ProgramTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(WorkerFailureTest, ShowsTheErrorBoxAndExitsWithMinusOne) {
    auto device = Plug(GetParam().scenario);
    Script({{IDYES,
             [device] {
                 if (GetParam().atConsent) {
                     GetParam().atConsent(*device);
                 }
             }},
            {IDOK}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox, kFailedBox));
    ASSERT_TRUE(ProgressDialog());
    EXPECT_FALSE(ProgressDialog()->visible);
    EXPECT_FALSE(device->Report().complete);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WorkerFailureTest,
    ::testing::Values(Failure{"PortBusy", "busy=1", nullptr},
                      Failure{"DeviceGoneBeforeTheWorker", "", [](simhost::VirtualDevice& d) { d.Unplug(); }},
                      Failure{"SwitchRefused", "refuseswitch", nullptr},
                      Failure{"NeverComesBack", "never", nullptr},
                      Failure{"MessageStalls", "stall=9", nullptr},
                      Failure{"MessageRefused", "refuse=9", nullptr},
                      Failure{"DeviceVanishesMidStream", "vanish=100", nullptr},
                      // Found by the fault sweep: these ended with the completed box.
                      Failure{"FinalMessageNeverFinishes", "stall=2757", nullptr},
                      Failure{"DeviceVanishesWithTheFinalMessage", "vanish=2757", nullptr},
                      Failure{"HeaderNeverFinishes", "",
                              [](simhost::VirtualDevice&) {
                                  sim::InjectFault({"midiOutLongMsg", 1, sim::FaultKind::NeverFinishes});
                              }}),
    [](const ::testing::TestParamInfo<Failure>& param) { return std::string(param.param.name); });

TEST_F(ProgramTest, ADeviceThatNeverComesBackFailsAfterThePollingTime) {
    Plug("never");
    Script({{IDYES}, {IDOK}});
    EXPECT_EQ(Run(), -1);
    // 5 s after the switch, then 300 passes of 1 s.
    EXPECT_GE(sim::NowMs(), 305'000u);
    EXPECT_LT(sim::NowMs(), 306'000u);
}

TEST_F(ProgramTest, BusyInUpdateModeIsPolledThroughAndCompletes) {
    Plug("busyupd=3");
    Script({{IDYES}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox, kCompletedBox));
}

TEST_F(ProgramTest, AWorkerThatCannotStartIsReportedAsAFailedUpdate) {
    auto device = Plug();
    Script({{IDYES, [] { sim::FailNextCalls("CreateThread", 1, 8 /* ERROR_NOT_ENOUGH_MEMORY */); }}, {IDOK}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox, kFailedBox));
    ASSERT_TRUE(ProgressDialog());
    EXPECT_FALSE(ProgressDialog()->visible);
    EXPECT_EQ(device->Report().headersReceived, 0);
}

// Found by the fault sweep: a result the main window's full queue refuses once left the user
// without an answer.
TEST_F(ProgramTest, AResultThatCannotBePostedAtOnceIsPostedAgain) {
    Plug();
    Script(
        {{IDYES, [] { sim::FailNextCalls("PostMessageA", 1, 1816 /* ERROR_NOT_ENOUGH_QUOTA */); }}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox, kCompletedBox));
    EXPECT_EQ(sim::MessageBoxes().back().shownNs / 1'000'000, 6100u);
    EXPECT_EQ(device_->Report().verdict, model::kIntact);
}

TEST_F(ProgramTest, ABoxThatCannotBeShownIsNeitherOkNorConsent) {
    // The connect prompt: not shown again and again.
    Script({{0}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConnectBox));

    sim::Reset();
    auto device = Plug();
    Script({{0}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox));
    EXPECT_FALSE(ProgressDialog());
    EXPECT_EQ(device->Report().headersReceived, 0);
}

TEST_F(ProgramTest, TheMainWindowIsAHiddenMessageOnlyWindowOfTheRegisteredClass) {
    Plug();
    std::optional<sim::WindowInfo> seen;
    Script({{IDNO, [&seen] { seen = sim::FindWindowByClass("RAZERUZERERAD"); }}});
    EXPECT_EQ(Run(), -1);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->parent, HWND_MESSAGE);
    EXPECT_EQ(seen->text, "RazEruzereRad");
    EXPECT_EQ(seen->style, static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_MINIMIZE));

    std::optional<sim::ClassRecord> cls = sim::RegisteredClass("RAZERUZERERAD");
    ASSERT_TRUE(cls);
    EXPECT_EQ(cls->size, sizeof(WNDCLASSEXA));
    EXPECT_EQ(cls->style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(cls->proc, &MainWndProc);
    EXPECT_EQ(cls->classExtra, 0);
    EXPECT_EQ(cls->windowExtra, 0);
    EXPECT_EQ(cls->instance, GetModuleHandleA(nullptr));
    EXPECT_EQ(cls->iconId, IDI_LARGE);
    EXPECT_EQ(cls->smallIconId, IDI_SMALL);
    EXPECT_TRUE(cls->arrowCursor);
    EXPECT_EQ(cls->brush, COLOR_WINDOW + 1);
    EXPECT_EQ(cls->menuId, IDC_MAIN_MENU);
    EXPECT_EQ(appInstance, GetModuleHandleA(nullptr));
}

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == WM_CREATE ? -1 : DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(ProgramTest, AMainWindowThatCannotBeCreatedEndsWithMinusOneAndNoBox) {
    // The class name is taken already, by a class whose windows refuse to be created.
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = RefuseCreation;
    cls.lpszClassName = "RAZERUZERERAD";
    ASSERT_NE(RegisterClassExA(&cls), 0);
    Plug();
    Script({});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), IsEmpty());
    EXPECT_EQ(stdout_, "");
}

TEST_F(ProgramTest, ExitCommandDestroysTheWindowAndExitsWithZero) {
    auto device = Plug();
    // The person chooses File > Exit while the update starts; the device is gone, so the worker
    // ends at once, posting to a window that no longer exists.
    Script({{IDYES, [device] {
                 EXPECT_TRUE(sim::ChooseMenuCommand(MainWindow(), IDM_EXIT));
                 device->Unplug();
             }}});
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox));
    EXPECT_EQ(MainWindow(), nullptr);
}

TEST_F(ProgramTest, AboutBoxOpensFromMenuAndAcceleratorsAndClosesWhileTheUpdateGoesOn) {
    Plug();
    // Each way of opening it in turn, the next once the box before is closed: a modal box serves
    // the messages itself, and only the program's own loop translates accelerators.
    std::vector<std::function<void(HWND)>> ways = {
        [](HWND main) { EXPECT_TRUE(sim::ChooseMenuCommand(main, IDM_ABOUT)); },
        [](HWND main) { sim::Post(main, WM_SYSCHAR, '?', sim::kAltDown); },
        [](HWND main) { sim::Post(main, WM_SYSCHAR, '/', sim::kAltDown); },
        [](HWND main) { sim::Post(main, WM_CHAR, '?', 0); },  // without Alt: not an accelerator
    };
    std::size_t next = 0;
    std::vector<std::string> opened;
    sim::SetDialogObserver([&](HWND dialog, int templateId) {
        if (templateId != IDD_ABOUTBOX) {
            return;
        }
        std::optional<sim::DialogInfo> info = sim::Dialog(dialog);
        opened.push_back(info ? info->caption : "?");
        EXPECT_TRUE(info && info->modal);
        sim::ClickButton(dialog, IDOK);
        if (next < ways.size()) {
            ways[next++](MainWindow());
        }
    });
    Script({{IDYES, [&] { ways[next++](MainWindow()); }}, {IDOK}});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(next, ways.size());
    EXPECT_THAT(opened, ElementsAre("About RazEruzereRad", "About RazEruzereRad", "About RazEruzereRad"));
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox, kCompletedBox));
    for (const sim::DialogInfo& dialog : sim::Dialogs()) {
        EXPECT_NE(dialog.templateId, IDD_ABOUTBOX);
    }
    sim::SetDialogObserver(nullptr);
}

// The main window's procedure on its own: the result box and the exit code for any status.
TEST_F(ProgramTest, ResultBoxAndExitCodeFollowTheStatus) {
    struct Case {
        WPARAM status;
        Box box;
        int exitCode;
    };
    const Case cases[] = {
        {0, kCompletedBox, 0}, {static_cast<WPARAM>(-1), kFailedBox, -1}, {5, kFailedBox, 5}};
    HWND window = reinterpret_cast<HWND>(std::uintptr_t{0x4242});
    for (const Case& c : cases) {
        sim::Reset();
        Script({{IDOK}});
        MainWndProc(window, WM_UPDATE_RESULT, c.status, 0);
        EXPECT_THAT(Boxes(), ElementsAre(c.box));
        MSG msg{};
        EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
        EXPECT_EQ(static_cast<int>(msg.wParam), c.exitCode);
    }
}

TEST_F(ProgramTest, AboutDialogProcedureEndsOnOkAndCancelOnly) {
    EXPECT_EQ(AboutDlgProc(nullptr, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(AboutDlgProc(nullptr, WM_COMMAND, IDM_ABOUT, 0), FALSE);
    EXPECT_EQ(AboutDlgProc(nullptr, WM_CLOSE, 0, 0), FALSE);

    // The box ends with the identifier of the command that closed it; any other command leaves it
    // open, so the result is the one of the closing command that follows.
    struct Case {
        const char* name;
        std::function<void(HWND)> user;
        INT_PTR result;
    };
    const auto command = [](HWND dialog, int id) {
        sim::Post(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);  // as a keystroke's command
    };
    const Case cases[] = {
        {"OK button", [](HWND dialog) { sim::ClickButton(dialog, IDOK); }, IDOK},
        {"close box", [](HWND dialog) { sim::ClickCloseBox(dialog); }, IDCANCEL},
        {"cancel command", [&](HWND dialog) { command(dialog, IDCANCEL); }, IDCANCEL},
        {"other command, then OK",
         [&](HWND dialog) {
             command(dialog, IDM_ABOUT);
             sim::ClickButton(dialog, IDOK);
         },
         IDOK},
    };
    for (const Case& c : cases) {
        sim::SetDialogObserver([&c](HWND dialog, int /*templateId*/) { c.user(dialog); });
        EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, AboutDlgProc, 0),
                  c.result)
            << c.name;
        EXPECT_TRUE(sim::Dialogs().empty()) << c.name;
    }
    sim::SetDialogObserver(nullptr);
}

// The controller's other road to the device: the maker's driver library, found through the
// registry, offering device 81 with an input and an output.
class DriverLibraryProgramTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        shlk_.reset();
        shlk_.set("reply", "sync");  // the status reply comes back inside the request's send
        devtest::InstallLibrary(QLX_SHLK_SIM_PATH);
    }
    void TearDown() override {
        // The controller's device lives on with the process: unplug it, so that the library's
        // replies in later tests do not reach it.
        shlk_.set("devices", "");
        shlk_.notify(0);
        ProgramTest::TearDown();
    }
    devtest::Shlk& shlk_ = devtest::Shlk::Main();
};

const char kStatusTrace[] = "TkUpdate:Device received status\n";

TEST_F(DriverLibraryProgramTest, ADeviceOfTheLibraryFromTheStartIsAskedForConsentFirst) {
    shlk_.set("devices", "81:io");
    Script({{IDNO}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConsentBox));
    // One attach, which found the device, sent it the status request and heard its reply.
    EXPECT_EQ(shlk_.count("create"), 1);
    ASSERT_EQ(shlk_.count("sent"), 1);
    EXPECT_EQ(shlk_.Sent(0), devtest::kStatusRequest);
    EXPECT_EQ(TraceCount(kStatusTrace), 1);
    EXPECT_EQ(TraceCount(kDisconnectedTrace), 0);
    // Present through the library: no port name was looked at.
    EXPECT_EQ(stdout_, "");
    EXPECT_FALSE(ProgressDialog());
}

TEST_F(DriverLibraryProgramTest, ADeviceThatAttachesWhileTheConnectPromptIsOpenIsAskedForStatus) {
    shlk_.set("devices", "");
    Script({{IDOK,
             [this] {
                 // The person plugs the device in; the library tells the connection it made at
                 // the start, whose callback attaches again and now finds device 81.
                 shlk_.set("devices", "81:io");
                 EXPECT_EQ(shlk_.notify(0), 1);
             }},
            {IDNO}});
    EXPECT_EQ(Run(), -1);
    EXPECT_THAT(Boxes(), ElementsAre(kConnectBox, kConsentBox));
    // After OK the device was already connected, so it was asked for its status again rather
    // than attached a third time.
    EXPECT_EQ(shlk_.count("create"), 2);
    ASSERT_EQ(shlk_.count("sent"), 2);
    EXPECT_EQ(shlk_.Sent(0), devtest::kStatusRequest);
    EXPECT_EQ(shlk_.Sent(1), devtest::kStatusRequest);
    EXPECT_EQ(TraceCount(kStatusTrace), 2);
    EXPECT_EQ(TraceCount(kDisconnectedTrace), 1);  // the attach at the start found nothing
    // There is no MIDI port at all, so no port name was examined.
    EXPECT_EQ(stdout_, "");
}

}  // namespace
