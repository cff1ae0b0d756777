// The stream cutter, the reply queue and every fault, on the model's own clock.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "sim/session.h"
#include "tests/sim/sim_test_util.h"

namespace corvane::sim::test {
namespace {

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes B(const Frame& f) { return Bytes(f.begin(), f.end()); }
Bytes B(const Block& b) { return Bytes(b.begin(), b.end()); }

struct Harness {
    CSwitcher device;
    CFaultPlan faults;
    CStreamSession session{device, faults};
    std::vector<std::pair<RxEvent, Bytes>> trace;

    explicit Harness(SwitcherSettings s = {}) : device(std::move(s))
    {
        session.SetTrace([this](RxEvent e, std::span<const uint8_t> b, const std::string&) {
            trace.emplace_back(e, Bytes(b.begin(), b.end()));
        });
    }
    void Fault(const std::string& text)
    {
        std::string error;
        const auto r = ParseFaultRule(text, error);
        ASSERT_TRUE(r) << error;
        faults.Add(*r);
    }
    // Everything due up to t, as written.
    std::vector<Emission> Drain(int64_t t = 1'000'000) { return session.TakeDue(t); }
    Bytes Stream(int64_t t = 1'000'000)
    {
        Bytes all;
        for (const auto& e : Drain(t))
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
        return all;
    }
};

// A conversation with garbage, a header split anywhere, an EDID file block that contains a
// header pattern, and queries after it.
Bytes Conversation()
{
    Bytes edid(256, 0);
    edid[10] = 0xA5;
    edid[11] = 0x5B;  // a header inside the data is data
    edid[200] = 0xA5;
    const Block block = SealedBlock(edid);
    return Cat({
        {0x00, 0x13, 0xA5},
        B(F({0x01, 0x04, 0x01})),
        {0xA5},
        B(F({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xBB})),
        B(F({0x03, 0x07, 0x02, 0xF0})),
        {0xFF, 0xFE},
        B(F({0x03, 0x07, 0x56, 0x00, 0x00, 0x01})),
        B(block),
        B(F({0x01, 0x0C, 0x02})),
        B(F({0x02, 0x01, 0x01})),
    });
}

Bytes ConversationReplies()
{
    return Cat({
        B(F({0x01, 0x04, 0x01, 0x00, 0x00})),
        B(F({0x03, 0x08, 0x00})),
        B(F({0x03, 0x07, 0xAA, 0x00})),
        B(F({0x03, 0x07, 0x00, 0x00, 0x00, 0x01})),
        B(F({0x01, 0x0C, 0x02, 0x00, kEdidIndexFile})),
        B(F({0x02, 0x01, 0x01, 0x00, 0x01})),
    });
}

TEST(StreamSession, SameRepliesHoweverTheStreamIsSplit)
{
    const Bytes in = Conversation();
    const Bytes want = ConversationReplies();
    std::mt19937 rng(7);
    const std::vector<std::pair<const char*, std::function<std::size_t()>>> splits = {
        {"whole", [&] { return in.size(); }},
        {"1 byte", [] { return std::size_t{1}; }},
        {"13 bytes", [] { return std::size_t{13}; }},
        {"random", [&] { return std::size_t{1} + rng() % 40; }},
    };
    for (const auto& [what, next] : splits) {
        SCOPED_TRACE(what);
        Harness h;
        for (std::size_t at = 0; at < in.size();) {
            const std::size_t n = std::min(next(), in.size() - at);
            h.session.Feed(std::span(in).subspan(at, n), 0);
            at += n;
        }
        EXPECT_EQ(HexBytes(h.Stream()), HexBytes(want));
        Bytes skipped;
        for (const auto& [e, b] : h.trace)
            if (e == RxEvent::Skipped)
                skipped.insert(skipped.end(), b.begin(), b.end());
        EXPECT_EQ(HexBytes(skipped), HexBytes(Bytes{0x00, 0x13, 0xA5, 0xA5, 0xFF, 0xFE}));
    }
}

TEST(StreamSession, BadChecksumFrameIgnoredAndNextFrameAnswered)
{
    Harness h;
    Frame bad = F({0x01, 0x04, 0x01});
    bad[12] ^= 0x01;
    h.session.Feed(Cat({B(bad), B(F({0x01, 0x04, 0x02}))}), 0);
    EXPECT_EQ(HexBytes(h.Stream()), HexBytes(F({0x01, 0x04, 0x02, 0x00, 0x00})));
    ASSERT_FALSE(h.trace.empty());
    EXPECT_EQ(h.trace.front().first, RxEvent::BadFrame);
}

TEST(StreamSession, BlockThatStopsArrivingIsDroppedAfterTheWait)
{
    Harness h;
    h.session.SetBlockWait(500);
    h.device.OnCommand(F({0x20, 0x01, 0x01}), nullptr, 0);
    h.session.Feed(B(F({0x20, 0x01, 0xAA, 0, 0, 1, 1, 0x40, 0})), 0);
    h.session.Feed(Bytes(100, 0x00), 10);
    EXPECT_TRUE(h.session.WaitingForBlock());
    EXPECT_EQ(h.session.NextDeadline(), 511);
    // 200 ms later the bytes still belong to the block.
    h.session.Feed(Bytes(50, 0x00), 210);
    EXPECT_TRUE(h.session.WaitingForBlock());
    // After a silence longer than the wait, a frame is a frame again.
    h.session.Feed(B(F({0x01, 0x04, 0x01})), 711);
    EXPECT_FALSE(h.session.WaitingForBlock());
    EXPECT_EQ(HexBytes(h.Stream()), HexBytes(F({0x01, 0x04, 0x01, 0x00, 0x00})));
}

TEST(StreamSession, NothingAnsweredWhileRebooting)
{
    SwitcherSettings s;
    s.rebootMs = 1000;
    Harness h(s);
    h.device.OnCommand(F({0x20, 0x01, 0x01}), nullptr, 0);
    h.device.OnCommand(F({0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE}), nullptr, 0);
    h.device.OnCommand(F({0x20, 0x01, 0x10}), nullptr, 0);
    h.session.Feed(Cat({B(F({0x20, 0x01, 0x56, 0, 0, 1, 1, 0x40, 0})), B(SealedBlock(Bytes(256, 1)))}), 100);
    EXPECT_EQ(h.Stream(100).size(), 13u);
    h.session.Feed(B(F({0x01, 0x01})), 600);
    EXPECT_TRUE(h.Stream(600).empty());
    h.session.Feed(B(F({0x01, 0x01})), 1100);
    EXPECT_EQ(HexBytes(h.Stream(1100)), HexBytes(F({0x01, 0x01, 0x01})));
}

// ---- faults ----

const Frame kQuery = F({0x01, 0x04, 0x02});
const Frame kReply = F({0x01, 0x04, 0x02, 0x00, 0x00});

TEST(StreamFaults, EachFaultDoesWhatItSays)
{
    {
        SCOPED_TRACE("drop");
        Harness h;
        h.Fault("drop:01 04 02");
        h.session.Feed(B(kQuery), 0);
        EXPECT_TRUE(h.Drain().empty());
        h.session.Feed(B(F({0x01, 0x04, 0x01})), 0);
        EXPECT_EQ(h.Drain().size(), 1u) << "other commands are answered";
    }
    {
        SCOPED_TRACE("delay");
        Harness h;
        h.Fault("delay=3500:0104");
        h.session.Feed(B(kQuery), 100);
        EXPECT_EQ(h.session.NextDeadline(), 3600);
        EXPECT_TRUE(h.Drain(3599).empty());
        const auto out = h.Drain(3600);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].bytes, B(kReply));
    }
    {
        SCOPED_TRACE("corrupt");
        Harness h;
        h.Fault("corrupt:01 04 02");
        h.session.Feed(B(kQuery), 0);
        const Bytes got = h.Stream();
        ASSERT_EQ(got.size(), 13u);
        Frame f;
        std::copy(got.begin(), got.end(), f.begin());
        EXPECT_FALSE(FrameChecksumOk(f));
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 12, kReply.begin()));
    }
    {
        SCOPED_TRACE("split");
        Harness h;
        h.Fault("split=5:01 04 02");
        h.session.Feed(B(kQuery), 0);
        const auto out = h.Drain();
        ASSERT_EQ(out.size(), 13u);
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].bytes, Bytes{kReply[i]});
            EXPECT_EQ(out[i].dueMs, static_cast<int64_t>(5 * i));
        }
        // A reply asked for meanwhile follows the split one whole, never between its bytes.
        h.Fault("split=5:01 04 01");
        h.session.Feed(Cat({B(kQuery), B(F({0x01, 0x04, 0x01})), B(F({0x01, 0x05, 0x01}))}), 100);
        EXPECT_EQ(h.Stream(400), Cat({B(kReply), B(F({0x01, 0x04, 0x01, 0x00, 0x00})), B(F({0x01, 0x05, 0x01, 0x00, 0x00}))}));
    }
    {
        SCOPED_TRACE("merge");
        Harness h;
        h.Fault("merge:01 04 02");
        h.session.Feed(B(kQuery), 0);
        EXPECT_TRUE(h.Drain(10).empty()) << "held for the next reply";
        h.session.Feed(B(F({0x01, 0x05, 0x01})), 20);
        const auto out = h.Drain(20);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].bytes, Cat({B(kReply), B(F({0x01, 0x05, 0x01, 0x00, 0x00}))}));
    }
    {
        SCOPED_TRACE("merge, then a split reply");
        Harness h;
        h.Fault("merge:01 04 02");
        h.Fault("split=5:01 05 01");
        h.session.Feed(B(kQuery), 0);
        h.session.Feed(B(F({0x01, 0x05, 0x01})), 20);
        const auto out = h.Drain(100);
        ASSERT_EQ(out.size(), 13u);
        EXPECT_EQ(out[0].bytes, Cat({B(kReply), Bytes{kHeader0}})) << "the held reply leaves first";
        Bytes stream;
        for (const auto& e : out)
            stream.insert(stream.end(), e.bytes.begin(), e.bytes.end());
        EXPECT_EQ(stream, Cat({B(kReply), B(F({0x01, 0x05, 0x01, 0x00, 0x00}))}));
        EXPECT_EQ(out.back().dueMs, 20 + 5 * 12);
    }
    {
        SCOPED_TRACE("merge with nothing to merge with");
        Harness h;
        h.Fault("merge=300:01 04 02");
        h.session.Feed(B(kQuery), 0);
        EXPECT_EQ(h.session.NextDeadline(), 300);
        EXPECT_TRUE(h.Drain(299).empty());
        EXPECT_EQ(h.Stream(300), B(kReply));
    }
    {
        SCOPED_TRACE("noise");
        Harness h;
        h.Fault("noise=40:01 04 02");
        h.session.Feed(B(kQuery), 0);
        const Bytes got = h.Stream();
        ASSERT_EQ(got.size(), 53u);
        EXPECT_EQ(std::count(got.begin(), got.begin() + 40, kHeader0), 0) << "no header inside the noise";
        EXPECT_TRUE(std::equal(got.begin() + 40, got.end(), kReply.begin()));
    }
    {
        SCOPED_TRACE("refuse");
        Harness h;
        h.Fault("refuse:02 03");
        h.session.Feed(B(F({0x02, 0x03, 0x04, 0x00, 0x01})), 0);
        EXPECT_EQ(HexBytes(h.Stream()), HexBytes(RefusalFor(F({0x02, 0x03}))));
        EXPECT_EQ(h.device.Route(1), 1) << "not carried out";
    }
    {
        SCOPED_TRACE("hang up");
        Harness h;
        h.Fault("hangup:01 04 02");
        h.session.Feed(B(kQuery), 0);
        const auto out = h.Drain();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_TRUE(out[0].hangUp);
        EXPECT_TRUE(out[0].bytes.empty());
    }
}

TEST(StreamFaults, RangeSelectsWhichExchangesAreHit)
{
    Harness h;
    h.Fault("drop:01 04:2-3");
    std::vector<bool> answered;
    for (int i = 0; i < 5; ++i) {
        h.session.Feed(B(kQuery), 0);
        h.session.Feed(B(F({0x01, 0x05, 0x01})), 0);  // not matched, not counted
        answered.push_back(h.Drain().size() == 2);
    }
    EXPECT_EQ(answered, (std::vector<bool>{true, false, false, true, true}));
}

TEST(StreamFaults, FirmwarePacketFaultHitsTheAcknowledgementAfterTheBlock)
{
    Harness h;
    h.Fault("drop:20 01 AA:1");
    h.device.OnCommand(F({0x20, 0x01, 0x01}), nullptr, 0);
    h.device.OnCommand(F({0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE}), nullptr, 0);
    h.device.OnCommand(F({0x20, 0x01, 0x10}), nullptr, 0);
    const Bytes packet = Cat({B(F({0x20, 0x01, 0xAA, 0, 0, 1, 1, 0x40, 0})), B(SealedBlock(Bytes(256, 9)))});
    h.session.Feed(packet, 0);
    EXPECT_TRUE(h.Drain().empty());
    h.session.Feed(packet, 3000);  // the panel repeats header and block
    const Bytes ack = h.Stream();
    ASSERT_EQ(ack.size(), 13u);
    EXPECT_EQ(ack[4], 0x00);
    EXPECT_EQ(ack[7], 0x01);
}

TEST(StreamFaults, RandomFaultsAreReproducibleFromTheSeed)
{
    // Queries 7 ms apart: a reply delayed by the default second never lands on another's slot.
    auto run = [](uint64_t seed, double rate) {
        Harness h;
        h.faults.SetRandom({seed, rate, {FaultKind::Drop, FaultKind::Delay, FaultKind::Corrupt, FaultKind::Split,
                                         FaultKind::Merge, FaultKind::Noise}});
        std::vector<std::pair<int64_t, Bytes>> out;
        for (int i = 0; i < 200; ++i) {
            h.session.Feed(B(F({0x01, 0x04, static_cast<uint8_t>(1 + i % 4)})), i * 7);
            for (auto& e : h.Drain(i * 7))
                out.emplace_back(e.dueMs, e.bytes);
        }
        for (auto& e : h.Drain())
            out.emplace_back(e.dueMs, e.bytes);
        return out;
    };
    EXPECT_EQ(run(42, 0.3), run(42, 0.3));
    EXPECT_NE(run(42, 0.3), run(43, 0.3));
    const auto clean = run(42, 0.0);
    ASSERT_EQ(clean.size(), 200u);
    const std::set<std::pair<int64_t, Bytes>> cleanSet(clean.begin(), clean.end());
    int intact = 0;
    for (const auto& e : run(42, 1.0))
        intact += cleanSet.count(e) ? 1 : 0;
    EXPECT_EQ(intact, 0) << "rate 1: every reply is hit by some fault";
    int hit = 0;
    for (const auto& e : run(42, 0.3))
        hit += cleanSet.count(e) ? 0 : 1;
    EXPECT_GT(hit, 20);
}

// ---- datagrams ----

TEST(DatagramFaults, SearchAndConfigurationFaults)
{
    CSwitcher dev;
    CFaultPlan plan;
    std::string error;
    for (const char* rule : {"refuse:config:1", "corrupt:search:1", "drop:search:2", "delay=250:config:2"})
        plan.Add(*ParseFaultRule(rule, error));
    CDatagramPort search(dev, plan, FaultTarget::Search);
    CDatagramPort config(dev, plan, FaultTarget::Config);

    search.OnDatagram(Bytes{0x61}, 77, 0);
    auto out = search.TakeDue(0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].peer, 77u);
    EXPECT_EQ(out[0].bytes[18], 0x77);
    EXPECT_NE(out[0].bytes[19], 0x88) << "corrupted: the marker";
    search.OnDatagram(Bytes{0x61}, 77, 0);
    EXPECT_TRUE(search.TakeDue(0).empty()) << "dropped";
    search.OnDatagram(Bytes{0x62}, 77, 0);  // not a search: no exchange, no reply
    search.OnDatagram(Bytes{0x61}, 77, 0);
    EXPECT_EQ(search.TakeDue(0).size(), 1u);

    const Bytes req = ConfigRequest(dev.MacAddress(), Mac{0x02, 1, 1, 1, 1, 1}, std::nullopt);
    config.OnDatagram(req, 5, 0);
    out = config.TakeDue(0);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes[74], 0x01) << "refused";
    EXPECT_EQ(dev.MacAddress(), (SwitcherSettings{}.mac));
    config.OnDatagram(req, 5, 1000);
    EXPECT_TRUE(config.TakeDue(1249).empty());
    out = config.TakeDue(1250);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes[74], 0x00);
    EXPECT_EQ(dev.MacAddress(), (Mac{0x02, 1, 1, 1, 1, 1}));
}

// ---- rule parsing ----

TEST(FaultRules, ParsedFromTheCommandLineForm)
{
    struct Good {
        const char* text;
        FaultKind kind;
        unsigned arg;
        FaultTarget target;
        Bytes pattern;
        unsigned first, last;
    };
    const std::vector<Good> good = {
        {"drop:01 04 02", FaultKind::Drop, 0, FaultTarget::Frame, {1, 4, 2}, 1, UINT_MAX},
        {"delay=4000:20 01 AA:3", FaultKind::Delay, 4000, FaultTarget::Frame, {0x20, 1, 0xAA}, 3, 3},
        {"noise=6:any:2-", FaultKind::Noise, 6, FaultTarget::Any, {}, 2, UINT_MAX},
        {"split:01,05:1-4", FaultKind::Split, kDefaultSplitGapMs, FaultTarget::Frame, {1, 5}, 1, 4},
        {"refuse:config", FaultKind::Refuse, 0, FaultTarget::Config, {}, 1, UINT_MAX},
        {"merge=100:0a-0c", FaultKind::Merge, 100, FaultTarget::Frame, {0x0A, 0x0C}, 1, UINT_MAX},
        {"value=5:02 01 01", FaultKind::Value, 5, FaultTarget::Frame, {2, 1, 1}, 1, UINT_MAX},
    };
    for (const auto& g : good) {
        SCOPED_TRACE(g.text);
        std::string error;
        const auto r = ParseFaultRule(g.text, error);
        ASSERT_TRUE(r) << error;
        EXPECT_EQ(r->kind, g.kind);
        EXPECT_EQ(r->arg, g.arg);
        EXPECT_EQ(r->target, g.target);
        EXPECT_EQ(r->pattern, g.pattern);
        EXPECT_EQ(r->first, g.first);
        EXPECT_EQ(r->last, g.last);
    }
    for (const char* bad : {"drop", "explode:01", "drop:", "drop:0", "drop:01 4", "drop:zz", "delay=x:01",
                            "drop:01:0", "drop:01:3-2", "drop:01:a", "drop:01 02 03 04 05 06 07 08 09 0A 0B",
                            "noise=4097:any", "noise=4000000000:01", "value=256:02 01"}) {
        SCOPED_TRACE(bad);
        std::string error;
        EXPECT_FALSE(ParseFaultRule(bad, error));
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    const auto r = ParseRandomFaults("7:10%:drop,hangup", error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->seed, 7u);
    EXPECT_DOUBLE_EQ(r->rate, 0.1);
    EXPECT_EQ(r->kinds, (std::vector<FaultKind>{FaultKind::Drop, FaultKind::HangUp}));
    EXPECT_EQ(ParseRandomFaults("7:0.25", error)->kinds.size(), 6u);
    for (const char* bad : {"7", "x:0.1", "7:1.5", "7:-1", "7:0.1:boom", "7:abc"})
        EXPECT_FALSE(ParseRandomFaults(bad, error)) << bad;
}

}  // namespace
}  // namespace corvane::sim::test
