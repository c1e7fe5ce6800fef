// The SysEx writer: a message only from 0xF0, status bytes inside reported and dropped, done at 0xF7.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "device/sysex_writer.h"
#include "platform/host/sim.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class SysExWriterTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }

    // Feeds every byte; returns what each Write returned.
    std::vector<bool> Feed(const Bytes& bytes) {
        std::vector<bool> results;
        for (std::uint8_t byte : bytes) {
            results.push_back(writer.Write(byte));
        }
        return results;
    }

    SysExWriter writer;
};

TEST_F(SysExWriterTest, IgnoresBytesBeforeAStart) {
    sim::StdoutCapture out;
    EXPECT_EQ(Feed({0x01, 0xF7, 0x7F}), (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(writer.Message().empty());
    EXPECT_EQ(out.Text(), "");
}

TEST_F(SysExWriterTest, StartThenEndIsAMessage) {
    EXPECT_EQ(Feed({0xF0, 0xF7}), (std::vector<bool>{false, true}));
    EXPECT_EQ(writer.Message(), (Bytes{0xF0, 0xF7}));
}

TEST_F(SysExWriterTest, StatusBytesInsideAreReportedAndDropped) {
    const struct {
        std::uint8_t byte;
        const char* printed;
    } cases[] = {{0xF0, "writing invalid sysex: 0xf0"},
                 {0xF8, "writing invalid sysex: 0xf8"},
                 {0x80, "writing invalid sysex: 0x80"},
                 {0xFF, "writing invalid sysex: 0xff"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printed);
        SysExWriter fresh;
        sim::StdoutCapture out;
        std::vector<bool> results;
        for (std::uint8_t byte : Bytes{0xF0, 0x00, 0x20, 0x29, c.byte, 0x7F, 0xF7}) {
            results.push_back(fresh.Write(byte));
        }
        EXPECT_EQ(results, (std::vector<bool>{false, false, false, false, false, false, true}));
        EXPECT_EQ(fresh.Message(), (Bytes{0xF0, 0x00, 0x20, 0x29, 0x7F, 0xF7}));
        EXPECT_EQ(out.Text(), c.printed);  // no line end
    }
}

TEST_F(SysExWriterTest, CompletedMessageStaysUntilTheNextStart) {
    Feed({0xF0, 0x01, 0xF7});
    sim::StdoutCapture out;
    EXPECT_FALSE(writer.Write(0x42));
    EXPECT_FALSE(writer.Write(0xF7));
    EXPECT_EQ(writer.Message(), (Bytes{0xF0, 0x01, 0xF7}));
    EXPECT_FALSE(writer.Write(0xF0));
    EXPECT_EQ(writer.Message(), (Bytes{0xF0}));
    EXPECT_FALSE(writer.Write(0x05));
    EXPECT_TRUE(writer.Write(0xF7));
    EXPECT_EQ(writer.Message(), (Bytes{0xF0, 0x05, 0xF7}));
    EXPECT_EQ(out.Text(), "");
}

TEST_F(SysExWriterTest, PassesAFullBlockThroughUnchanged) {
    Bytes block = {0xF0, 0x00, 0x20, 0x29, 0x00, 0x72};
    for (int i = 0; i < 37; ++i) {
        block.push_back(static_cast<std::uint8_t>((i * 29) & 0x7F));
    }
    block.push_back(0xF7);
    std::vector<bool> results = Feed(block);
    EXPECT_TRUE(results.back());
    results.pop_back();
    EXPECT_TRUE(std::none_of(results.begin(), results.end(), [](bool done) { return done; }));
    EXPECT_EQ(writer.Message(), block);
}

}  // namespace
