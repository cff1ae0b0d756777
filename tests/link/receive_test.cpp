#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/link/receive.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes FrameBytes(const Frame& f) { return Bytes(f.begin(), f.end()); }

std::vector<Frame> HuntAll(const Bytes& bytes)
{
    CSerialHunt hunt;
    std::vector<Frame> out;
    for (uint8_t b : bytes)
        if (auto f = hunt.OnPortByte(b))
            out.push_back(*f);
    return out;
}

// Feeds the cutter in chunks of `step` bytes (0: random chunk sizes with a fixed seed).
std::vector<Frame> CutAll(const Bytes& bytes, std::size_t step)
{
    CTcpCutter cut;
    std::vector<Frame> out;
    std::mt19937 rng(42);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t n = step ? step : std::uniform_int_distribution<std::size_t>(1, 40)(rng);
        n = std::min(n, bytes.size() - pos);
        for (const Frame& f : cut.Feed(std::span(bytes).subspan(pos, n)))
            out.push_back(f);
        EXPECT_LT(cut.Pending(), kFrameSize);
        pos += n;
    }
    return out;
}

const Frame kA = MakeFrame({0x01, 0x04, 0x01, 0x00, 0x00});
const Frame kB = MakeFrame({0x02, 0x03, 0x00, 0x00, 0x01});

struct StreamCase {
    const char* name;
    Bytes stream;
    std::vector<Frame> expected;
};

// Streams on which the serial hunt and the TCP cutter agree.
std::vector<StreamCase> CommonCases()
{
    return {
        {"one frame", FrameBytes(kA), {kA}},
        {"two frames back to back", Cat({FrameBytes(kA), FrameBytes(kB)}), {kA, kB}},
        {"garbage before the header", Cat({{0x00, 0x13, 0xFF, 0x5B}, FrameBytes(kA)}), {kA}},
        {"header at the second A5", Cat({{0x00, 0xA5}, FrameBytes(kA)}), {kA}},
        {"A5 and 5B apart are no header", Cat({{0xA5, 0x00, 0x5B}, FrameBytes(kB)}), {kB}},
        {"noise between two frames", Cat({FrameBytes(kA), {0x00, 0x13}, FrameBytes(kB)}), {kA, kB}},
        {"bad checksum is still cut", Cat({Bytes(kB.begin(), kB.end() - 1), {0x00}}),
         {[] {
             Frame f = kB;
             f[12] = 0;
             return f;
         }()}},
        {"incomplete tail waits", Cat({FrameBytes(kA), Bytes(kB.begin(), kB.begin() + 12)}), {kA}},
        {"header inside a frame body is data", Cat({{0xA5, 0x5B, 0xA5, 0x5B}, Bytes(9, 0x11), FrameBytes(kB)}),
         {Frame{0xA5, 0x5B, 0xA5, 0x5B, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11}, kB}},
        {"nothing but noise", Bytes(300, 0x5B), {}},
    };
}

TEST(SerialHunt, CutsFramesOutOfTheStream)
{
    for (const auto& c : CommonCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HuntAll(c.stream), c.expected);
    }
}

TEST(SerialHunt, HeaderAcrossTheHuntWrapIsMissed)
{
    // 252 filler bytes, then A5 as the 253rd... the 254th stored byte lands at index 255 and the
    // index wraps to 2 before the 5B arrives: that header is not recognised.
    Bytes s(253, 0x00);
    s.push_back(0xA5);
    s.push_back(0x5B);
    s.insert(s.end(), kA.begin() + 2, kA.end());
    EXPECT_TRUE(HuntAll(s).empty());

    // Nor does an A5 stored before the wrap pair with a 5B stored after it.
    Bytes u(254, 0x00);
    u[0] = 0xA5;
    u.insert(u.end(), kA.begin() + 1, kA.end());
    EXPECT_TRUE(HuntAll(u).empty());

    // One byte earlier, the header fits and is found.
    Bytes t(252, 0x00);
    t.insert(t.end(), kA.begin(), kA.end());
    EXPECT_EQ(HuntAll(t), std::vector<Frame>{kA});
}

TEST(SerialHunt, LongNoiseNeverOverruns)
{
    std::mt19937 rng(7);
    Bytes s(100000);
    for (auto& b : s)
        b = static_cast<uint8_t>(rng() & 0x7F);  // no A5 at all
    s.insert(s.end(), kB.begin(), kB.end());
    EXPECT_EQ(HuntAll(s), std::vector<Frame>{kB});
}

TEST(TcpCutter, SameFramesWhateverTheSplit)
{
    for (const auto& c : CommonCases())
        for (std::size_t step : {std::size_t{1}, std::size_t{13}, std::size_t{1024}, std::size_t{0}}) {
            SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(step));
            EXPECT_EQ(CutAll(c.stream, step), c.expected);
        }
}

TEST(TcpCutter, TwoRepliesInOneReadAndOneSplitAcrossReads)
{
    CTcpCutter cut;
    const Bytes both = Cat({FrameBytes(kA), FrameBytes(kB), Bytes(kA.begin(), kA.begin() + 5)});
    EXPECT_EQ(cut.Feed(both), (std::vector<Frame>{kA, kB}));
    EXPECT_EQ(cut.Pending(), 5u);
    EXPECT_EQ(cut.Feed(Bytes(kA.begin() + 5, kA.end())), std::vector<Frame>{kA});
    EXPECT_EQ(cut.Pending(), 0u);
}

TEST(TcpCutter, HugeReadWithManyFrames)
{
    Bytes s;
    for (int i = 0; i < 1000; ++i) {
        s.push_back(static_cast<uint8_t>(i));  // noise between frames
        s.insert(s.end(), kA.begin(), kA.end());
    }
    CTcpCutter cut;
    auto frames = cut.Feed(s);
    EXPECT_EQ(frames.size(), 1000u);
}

}  // namespace
}  // namespace corvane
