// The paced serial line of the emulator: every byte takes 11 bits at 19200 baud, bytes queue
// behind what the line still carries, and a long run keeps its exact time.
#include <gtest/gtest.h>

#include "sim/line_pacer.h"
#include "sim/options.h"

namespace corvane::sim {
namespace {

constexpr int64_t kMs = 1000000;

TEST(LinePacer, BytesArriveOneByteTimeApartBehindWhatTheLineCarries)
{
    CLinePacer line;
    EXPECT_EQ(line.ByteTimeNs(), 572917);  // 11 / 19200 s
    const uint8_t frame[13] = {0xA5, 0x5B};
    line.Push(frame, 10 * kMs);
    EXPECT_EQ(line.NextDue(), 10 * kMs + 572916);
    EXPECT_TRUE(line.Take(10 * kMs + 572915).empty());
    EXPECT_EQ(line.Take(10 * kMs + 572916), std::vector<uint8_t>{0xA5});
    // A frame's 13 bytes take 7.448 ms; a second write queues behind the first.
    line.Push(frame, 11 * kMs);
    EXPECT_EQ(line.Take(10 * kMs + 7447916).size(), 12u);
    EXPECT_EQ(line.Take(10 * kMs + 14895832).size(), 12u);
    EXPECT_EQ(line.Take(10 * kMs + 14895833).size(), 1u);
    EXPECT_TRUE(line.Empty());
    EXPECT_FALSE(line.NextDue());

    // An idle line starts a new run when the next bytes come.
    line.Push(frame, 100 * kMs);
    EXPECT_EQ(line.NextDue(), 100 * kMs + 572916);
}

TEST(LinePacer, ASecondCarriesTheLineRateWithoutDrift)
{
    CLinePacer line;
    const std::vector<uint8_t> lots(20000, 0x11);
    line.Push(lots, 0);
    // 19200 / 11 = 1745.45 bytes a second, 17454 in 10 s: no rounding adds up.
    EXPECT_EQ(line.Take(1000 * kMs).size(), 1745u);
    EXPECT_EQ(line.Take(10000 * kMs).size(), 17454u - 1745u);
    line.Clear();
    EXPECT_TRUE(line.Empty());
}

TEST(LinePacer, OptionPacesTheSerialLink)
{
    std::string error;
    auto o = ParseOptions({"--serial", "--pace-line"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_TRUE(o->paceLine);
    o = ParseOptions({"--serial"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_FALSE(o->paceLine);
}

}  // namespace
}  // namespace corvane::sim
