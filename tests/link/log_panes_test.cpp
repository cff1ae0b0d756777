#include <gtest/gtest.h>

#include "core/link/log_panes.h"

namespace corvane {
namespace {

TEST(LogPanes, FrameTakesExactlyOneLine)
{
    CTextPane tx, rx;
    CLogWriter log(tx, rx);
    const Frame f = MakeFrame({0x01, 0x04, 0x01});
    log.LogTx(f);
    log.LogRx(f);
    EXPECT_EQ(tx.Text(), "A5 5B 01 04 01 00 00 00 00 00 00 00 FA \n");
    EXPECT_EQ(rx.Text(), tx.Text());
}

TEST(LogPanes, BlockLayout)
{
    CTextPane tx, rx;
    CLogWriter log(tx, rx);
    Block b{};
    log.LogTx(b);
    // Nineteen lines of 13 bytes, one of 10 and an empty line.
    std::string expected;
    for (int line = 0; line < 19; ++line) {
        for (int i = 0; i < 13; ++i)
            expected += "00 ";
        expected += "\n";
    }
    for (int i = 0; i < 10; ++i)
        expected += "00 ";
    expected += "\n\n";
    EXPECT_EQ(tx.Text(), expected);
    // The next frame starts on a fresh line.
    log.LogTx(MakeFrame({}));
    EXPECT_EQ(tx.Text().substr(expected.size(), 6), "A5 5B ");
}

TEST(LogPanes, ShortWritesShareLines)
{
    CTextPane tx, rx;
    CLogWriter log(tx, rx);
    const uint8_t five[5] = {1, 2, 3, 4, 5};
    for (int i = 0; i < 3; ++i)
        log.LogTx(five);
    EXPECT_EQ(tx.Text(), "01 02 03 04 05 01 02 03 04 05 01 02 03 \n04 05 ");
}

TEST(LogPanes, PanesEmptyAfterEverySixtiethEntry)
{
    struct Case {
        int entries;
        bool txEmpty;
    };
    for (const Case c : {Case{59, false}, Case{60, true}, Case{61, false}, Case{120, true}}) {
        CTextPane tx, rx;
        CLogWriter log(tx, rx);
        Block block{};
        for (int i = 0; i < c.entries; ++i) {
            if (i % 2)
                log.LogTx(block);  // a block counts as one write
            else
                log.LogTx(MakeFrame({}));
            log.LogRx(MakeFrame({}));
        }
        SCOPED_TRACE(c.entries);
        EXPECT_EQ(tx.Text().empty(), c.txEmpty);
        EXPECT_EQ(rx.Text().empty(), c.txEmpty);
    }
}

// Each datagram starts its own line and counts toward the emptying, so a flood of datagrams
// from the network keeps the pane small.
TEST(LogPanes, RawDatagramsTakeLinesOfTheirOwnAndAreBounded)
{
    CTextPane tx, rx;
    CLogWriter log(tx, rx);
    log.LogRxRaw(std::vector<uint8_t>{0x61});  // a search request heard on the port
    log.LogRxRaw(std::vector<uint8_t>(27, 0xAB));
    EXPECT_EQ(rx.Text().substr(0, 4), "61 \n");
    EXPECT_EQ(std::count(rx.Text().begin(), rx.Text().end(), '\n'), 4);
    EXPECT_EQ(log.RxFrames(), 2u);

    std::size_t longest = 0;
    for (int i = 0; i < 1000; ++i) {
        log.LogRxRaw(std::vector<uint8_t>(1024, 0xEE));
        longest = std::max(longest, rx.Text().size());
    }
    EXPECT_LE(longest, kLogClearEvery * (1024 * 3 + 79));
}

}  // namespace
}  // namespace corvane
