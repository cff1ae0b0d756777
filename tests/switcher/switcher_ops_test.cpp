// Every operation of the switcher object against every fault the line commits, on a virtual
// clock against the emulator's model: each ends exactly once, within the longest time it
// states, with the outcome the fault calls for; and a stop before any frame sends nothing that
// starts an exchange, nor leaves one the switcher holds part of.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "core/scene/scene_apply.h"
#include "core/switcher/switcher.h"
#include "sim/session.h"
#include "sim/switcher.h"
#include "tests/support/edid_builder.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

// One switcher object wired to the model through its line.
class CBench final : public ITransport {
public:
    explicit CBench(const std::vector<sim::FaultRule>& faults) : line(device, plan)
    {
        for (const auto& f : faults)
            plan.Add(f);
        sw.AttachSerial(this);
        sw.SetStop(&stop);
    }
    void Write(std::span<const uint8_t> bytes) override
    {
        sent.emplace_back(bytes.begin(), bytes.end());
        if (stopAfter >= 0 && sent.size() >= static_cast<std::size_t>(stopAfter) && !stop) {
            stop = 1;
            sentAtStop = sent.size();
        }
        line.Feed(bytes, clock.Now());
    }
    // Runs the operation to its end; the line is then left to settle for a minute, and the
    // completion must not come again.
    SResult Run(SOperation op)
    {
        worst = op.worstCaseMs;
        if (stopAfter == 0) {
            stop = 1;
            sentAtStop = 0;
        }
        const int64_t begin = clock.Now();
        int calls = 0;
        SResult result;
        sw.Start(std::move(op), [&](const SResult& r) {
            ++calls;
            result = r;
            took = clock.Now() - begin;
        });
        for (int64_t until = -1;;) {
            Deliver();
            if (calls && until < 0)
                until = clock.Now() + 60000;
            if (until >= 0 && clock.Now() >= until)
                break;
            int64_t next = clock.NextDue();
            if (const auto d = line.NextDeadline(); d && (next < 0 || *d < next))
                next = *d;
            if (until >= 0 && (next < 0 || until < next))
                next = until;
            if (next < 0) {
                ADD_FAILURE() << "the operation waits for nothing";
                break;
            }
            clock.Advance(std::max<int64_t>(0, next - clock.Now()));
        }
        EXPECT_EQ(calls, 1);
        return result;
    }

    CVirtualTimers clock;
    CTextPane tx, rx;
    sim::CSwitcher device;
    sim::CFaultPlan plan;
    sim::CStreamSession line;
    CSwitcher sw{clock, tx, rx};
    std::vector<Bytes> sent;
    volatile std::sig_atomic_t stop = 0;
    int stopAfter = -1;  // the stop comes once this many frames went out
    std::size_t sentAtStop = 0;
    int64_t took = 0;
    unsigned worst = 0;

private:
    void Deliver()
    {
        for (const auto& e : line.TakeDue(clock.Now())) {
            if (e.hangUp) {
                sw.OnLinkLost("the other end hung up");
                continue;
            }
            for (uint8_t b : e.bytes)
                sw.Link().OnPortByte(b);
        }
    }
};

struct SOp {
    const char* name;
    Bytes key;  // bytes 2.. of the frame the faults hit
    std::function<SOperation(CBench&)> make;
    std::function<bool(const sim::CSwitcher&)> took;  // the model shows the change
    EOutcome onNoAnswer = EOutcome::TimedOut;
};

SScene LobbyScene()
{
    SScene s;
    s.routes = {3, 4};
    s.beep = false;
    s.dvi = true;
    s.edids[0].kind = SSceneEdid::Kind::Preset;
    s.edids[0].preset = SBuiltInEdid{7};
    return s;
}

std::vector<uint8_t> FileEdid()
{
    const EdidImage image = BuildEdid(EdidFields{});
    return {image.begin(), image.begin() + 128};
}

const std::vector<SOp>& Operations()
{
    static SSceneApply sceneResult;
    static const std::vector<SOp> ops = {
        {"route", {0x02, 0x03}, [](CBench& b) { return b.sw.Route(1, 3); },
         [](const sim::CSwitcher& d) { return d.Route(1) == 3; }},
        {"beep", {0x06, 0x01}, [](CBench& b) { return b.sw.Switch(true, false); },
         [](const sim::CSwitcher& d) { return !d.Beep(); }},
        {"dvi", {0x07, 0x01}, [](CBench& b) { return b.sw.Switch(false, true); },
         [](const sim::CSwitcher& d) { return d.Dvi(); }},
        {"edid preset", {0x03}, [](CBench& b) { return b.sw.EdidPreset(2, SBuiltInEdid{7}); },
         [](const sim::CSwitcher& d) { return d.EdidIndex(2) == 7; }},
        {"edid copy", {0x03}, [](CBench& b) { return b.sw.EdidCopy(3, 1); },
         [](const sim::CSwitcher& d) { return d.EdidIndex(3) == sim::kEdidIndexCopiedA; }},
        {"edid file", {0x03}, [](CBench& b) { return b.sw.EdidFile(4, "monitor.bin", FileEdid()); },
         [](const sim::CSwitcher& d) { return d.EdidIndex(4) == sim::kEdidIndexFile; }},
        {"read", {0x01, 0x04, 0x01}, [](CBench& b) { return b.sw.ReadSettings(true); },
         [](const sim::CSwitcher&) { return true; }},
        {"device", {0x01, 0x01}, [](CBench& b) { return b.sw.ReadDevice(); },
         [](const sim::CSwitcher&) { return true; }},
        {"factory reset", {0x0A, 0x06, 0x02}, [](CBench& b) { return b.sw.FactoryReset(); },
         [](const sim::CSwitcher& d) { return d.Route(2) == 2 && d.Beep(); }},
        // A change whose answer is lost may still have taken: the reading back decides.
        {"scene apply", {0x02, 0x03},
         [](CBench& b) { return ApplyScene(b.sw, LobbyScene(), false, sceneResult); },
         [](const sim::CSwitcher& d) { return d.Route(1) == 3 && d.Route(2) == 4 && d.Dvi(); }, EOutcome::Done},
    };
    return ops;
}

sim::FaultRule Rule(sim::FaultKind kind, const Bytes& key, unsigned arg = 0, unsigned last = 1)
{
    sim::FaultRule r;
    r.kind = kind;
    r.arg = arg;
    r.target = sim::FaultTarget::Frame;
    r.pattern = key;
    r.last = last;
    return r;
}

TEST(SwitcherOperations, EachEndsOnceWithTheOutcomeOfItsFaultWithinItsStatedTime)
{
    struct Fault {
        const char* name;
        std::function<std::vector<sim::FaultRule>(const Bytes&)> rules;
        std::function<EOutcome(const SOp&)> outcome;
        bool changes;  // the model shows the change afterwards
    };
    const std::vector<Fault> faults = {
        {"answer", [](const Bytes&) { return std::vector<sim::FaultRule>{}; },
         [](const SOp&) { return EOutcome::Done; }, true},
        {"late answer inside the resend window",
         [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::Delay, k, 3500)}; },
         [](const SOp&) { return EOutcome::Done; }, true},
        {"no answer", [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::Drop, k, 0, UINT_MAX)}; },
         [](const SOp& op) { return op.onNoAnswer; }, false},
        {"refusal", [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::Refuse, k)}; },
         [](const SOp&) { return EOutcome::Refused; }, false},
        {"link lost", [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::HangUp, k)}; },
         [](const SOp&) { return EOutcome::LinkLost; }, false},
    };
    for (const SOp& op : Operations())
        for (const Fault& f : faults) {
            SCOPED_TRACE(std::string(op.name) + ", " + f.name);
            CBench b(f.rules(op.key));
            const SResult r = b.Run(op.make(b));
            EXPECT_EQ(r.outcome, f.outcome(op)) << r.words;
            EXPECT_EQ(r.words.empty(), r.Ok()) << r.words;
            EXPECT_LE(b.took, b.worst);
            if (f.changes)
                EXPECT_TRUE(op.took(b.device));
        }
}

TEST(SwitcherOperations, AStopBeforeAnyFrameSendsNothingNewAndLeavesNoExchangeHalfDone)
{
    for (const SOp& op : Operations()) {
        CBench clean({});
        ASSERT_TRUE(clean.Run(op.make(clean)).Ok()) << op.name;
        const int frames = static_cast<int>(clean.sent.size());
        // The first, a middle and the last frame.
        for (int k : {0, frames / 2, frames - 1}) {
            SCOPED_TRACE(std::string(op.name) + ", stop before frame " + std::to_string(k + 1) + " of " +
                         std::to_string(frames));
            CBench b({});
            b.stopAfter = k;
            EXPECT_EQ(b.Run(op.make(b)).outcome, EOutcome::Stopped);
            // Only the rest of an exchange the switcher holds part of goes out.
            for (std::size_t i = b.sentAtStop; i < b.sent.size(); ++i) {
                ASSERT_GT(i, 0u);
                const Bytes& before = b.sent[i - 1];
                const bool owed = b.sent[i].size() == kBlockSize ? AnnouncesEdidBlock(before)
                                                                 : OpensEdidSet(before) && IsEdidFrame(b.sent[i]);
                EXPECT_TRUE(owed) << "frame " << i + 1 << " went out after the stop";
            }
            if (!b.sent.empty())
                EXPECT_FALSE(OpensEdidSet(b.sent.back()) || AnnouncesEdidBlock(b.sent.back()));
        }
    }
}

}  // namespace
}  // namespace corvane::test
