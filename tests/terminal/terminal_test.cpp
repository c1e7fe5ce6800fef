// quadrilux-update as a script uses it: options, answers, exit codes, standard output. Runs the
// built program on the virtual clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::filesystem::path Program() {
    // The test runs from build/<preset>/tests; the program is built into build/<preset>.
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "quadrilux-update";
}

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome RunProgram(const std::string& args, const std::string& input = "") {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("qlx-terminal-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    { std::ofstream(dir / "in") << input; }
    std::string command = Program().string() + " " + args + " <" + (dir / "in").string() + " >" +
                          (dir / "out").string() + " 2>" + (dir / "err").string();
    int status = std::system(command.c_str());
    Outcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = Slurp(dir / "out");
    outcome.err = Slurp(dir / "err");
    std::filesystem::remove_all(dir);
    return outcome;
}

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(Program())) {
            GTEST_SKIP() << Program() << " is not built";
        }
    }
};

TEST_F(TerminalTest, ScriptedAnswersRunAWholeUpdate) {
    Outcome run = RunProgram("--virtual-clock --answer=yes,ok");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Quadrilux Pro\n");
    EXPECT_THAT(run.err,
                HasSubstr("| This updater will update your Quadrilux Pro firmware to version 182.\n"));
    EXPECT_THAT(run.err, HasSubstr("[##############################] 100%"));
    EXPECT_THAT(run.err, HasSubstr("(i) Quadrilux Pro Update"));
    EXPECT_THAT(run.err, HasSubstr("| Quadrilux Pro firmware update completed.\n"));
    EXPECT_THAT(run.err, HasSubstr("virtual Quadrilux Pro: update mode, 2 header(s)"));
}

TEST_F(TerminalTest, AnswersTypedAtTheKeyboardAndEndOfInput) {
    // A word that is not a button of the box is asked again. No controller ever comes, so the
    // connect prompt returns after OK, whatever the timing of the keyboard reader.
    Outcome run = RunProgram("--virtual-clock --no-device", "maybe\nok\nn\ncancel\n");
    EXPECT_EQ(run.exitCode, 255) << run.err;
    EXPECT_THAT(run.err, HasSubstr("> maybe\nPlease answer with one of the buttons.\n> ok\n"));
    EXPECT_THAT(run.err,
                HasSubstr("+-- [O]K  [C]ancel \n> n\nPlease answer with one of the buttons.\n> cancel\n"));
    EXPECT_THAT(run.err, Not(HasSubstr("Do you want to proceed?")));

    Outcome closed = RunProgram("--virtual-clock --no-device", "");
    EXPECT_EQ(closed.exitCode, 255);
    EXPECT_THAT(closed.err, HasSubstr("(end of input: the box is closed)"));
}

TEST_F(TerminalTest, AFaultOfTheControllerEndsInTheErrorBoxAndTheTrace) {
    Outcome run = RunProgram("--virtual-clock --yes --scenario=never --trace=-");
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_THAT(run.err, HasSubstr("(!) Quadrilux Pro Update"));
    EXPECT_THAT(run.err, HasSubstr("| reconnect the Quadrilux Pro and restart the updater.\n"));
    EXPECT_THAT(run.err, HasSubstr("TKUpdate:Device disconnected\n"));
}

TEST_F(TerminalTest, HelpAndMistakes) {
    Outcome help = RunProgram("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("--answer=LIST"));
    EXPECT_THAT(help.out, HasSubstr("--scenario=LIST"));
    EXPECT_THAT(help.out, HasSubstr("--trace=FILE|-"));
    for (const char* wrong : {"--answer=maybe", "--scenario=boot=soon", "--plug-in=x", "--frobnicate"}) {
        Outcome run = RunProgram(wrong);
        EXPECT_EQ(run.exitCode, 2) << wrong;
        EXPECT_THAT(run.err, HasSubstr("quadrilux-update: ")) << wrong;
    }
}

}  // namespace
