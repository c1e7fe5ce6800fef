// Trace lines on the debugger channel and the library's exception type.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "diag/general_error.h"
#include "diag/trace.h"
#include "platform/host/sim.h"

namespace {

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(TraceTest, FormatsBehindThePrefixWithoutAddingALineEnd) {
    DebugTrace("psa: got bad midi: %02x,%02x%02x\n", 0xB0, 0x07, 0x7f);
    DebugTrace("Ignoring unknown Sysex msg >%s<[%d]", "F0 7F F7", 3);
    DebugTrace("%s", "");
    EXPECT_EQ(sim::DebugLines(),
              (std::vector<std::string>{"TKL: psa: got bad midi: b0,077f\n",
                                        "TKL: Ignoring unknown Sysex msg >F0 7F F7<[3]", "TKL: "}));
}

TEST_F(TraceTest, EmptyFormatSendsJustThePrefix) {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
#endif
    DebugTrace("");
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    EXPECT_EQ(sim::DebugLines(), (std::vector<std::string>{"TKL: "}));
}

TEST_F(TraceTest, LongTextIsCutAtTheBufferEnd) {
    const struct {
        std::size_t length;
        std::size_t sent;
    } cases[] = {{8186, 8186}, {8187, 8186}, {20000, 8186}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        sim::ClearDebugLines();
        // The last character differs so that a cut at the wrong place shows.
        std::string text(c.length - 1, 'x');
        text.push_back('!');
        DebugTrace("%s", text.c_str());
        const auto lines = sim::DebugLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "TKL: " + text.substr(0, c.sent));
    }
}

TEST_F(TraceTest, GeneralErrorKeepsItsTextWhenCopied) {
    const std::string text = "midiOutOpen failed with error: 4";
    GeneralError copy("");
    try {
        throw GeneralError(text);
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), text);
        copy = dynamic_cast<const GeneralError&>(error);
    }
    EXPECT_EQ(std::string(copy.what()), text);
    const GeneralError second(copy);
    EXPECT_EQ(std::string(second.what()), text);
    const std::exception& base = second;
    EXPECT_EQ(std::string(base.what()), text);
}

}  // namespace
