#include <gtest/gtest.h>

#include "core/link/frame.h"

namespace corvane {
namespace {

struct FrameCase {
    const char* name;
    Frame frame;
    uint8_t checksum;
};

TEST(Frame, ChecksumOfKnownCommands)
{
    const FrameCase cases[] = {
        {"input 1 signal query", MakeFrame({0x01, 0x04, 0x01}), 0xFA},
        {"beep status query", MakeFrame({0x01, 0x0B}), 0xF4},
        {"DVI status query", MakeFrame({0x01, 0x0C}), 0xF3},
        {"header only", MakeFrame({}), static_cast<uint8_t>(0x100 - 0xA5 - 0x5B)},
        {"sum wraps twice", MakeFrame({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
         static_cast<uint8_t>(0x100 - ((0xA5 + 0x5B + 10 * 0xFF) & 0xFF))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.frame[12], c.checksum);
        EXPECT_TRUE(FrameChecksumOk(c.frame));
        unsigned sum = 0;
        for (uint8_t b : c.frame)
            sum += b;
        EXPECT_EQ(sum & 0xFF, 0u);
    }
}

TEST(Frame, AnyFlippedBitFailsTheCheck)
{
    const Frame good = MakeFrame({0x02, 0x03, 0x02, 0x00, 0x01});
    for (std::size_t i = 0; i < kFrameSize; ++i)
        for (int bit = 0; bit < 8; ++bit) {
            Frame bad = good;
            bad[i] ^= static_cast<uint8_t>(1u << bit);
            EXPECT_FALSE(FrameChecksumOk(bad)) << "byte " << i << " bit " << bit;
        }
}

TEST(Block, ChecksumCoversTheDataBytesOnly)
{
    struct Case {
        const char* name;
        unsigned dataSum;  // made of the first data bytes
        uint8_t expected;
    };
    const Case cases[] = {
        {"all zero", 0, 0x00},
        {"sum 0x0101", 0x0101, 0xFF},
        {"sum 0xFF", 0xFF, 0x01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Block b{};
        b[0] = 0x77;  // whatever byte 0 held before is overwritten
        unsigned left = c.dataSum;
        for (std::size_t i = 1; left > 0; ++i) {
            b[i] = static_cast<uint8_t>(std::min(left, 0xFFu));
            left -= b[i];
        }
        SealBlock(b);
        EXPECT_EQ(b[0], c.expected);
        EXPECT_TRUE(BlockChecksumOk(b));
    }
}

TEST(Frame, ClearCommandKeepsTheHeader)
{
    Frame f = MakeFrame({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ClearCommand(f);
    EXPECT_EQ(f, (Frame{0xA5, 0x5B}));
    EXPECT_EQ(HexBytes(std::span(f).first(3)), "A5 5B 00 ");
    EXPECT_EQ(HexText(std::span(f).first(3)), "A5 5B 00");
    EXPECT_EQ(HexText({}), "");
}

}  // namespace
}  // namespace corvane
