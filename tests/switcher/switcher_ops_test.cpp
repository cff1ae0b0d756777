// Every operation of the switcher object against every fault the line commits, on a virtual
// clock against the emulator's model, started from an event loop and run by a front end that
// blocks: each ends exactly once, within the longest time it states, with the outcome the fault
// calls for, the words it reports and no timer left running; and a stop before any frame sends
// nothing that starts an exchange, nor leaves one the switcher holds part of.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/firmware/firmware.h"
#include "core/scene/scene_apply.h"
#include "core/switcher/switcher.h"
#include "platform/regular_file.h"
#include "sim/session.h"
#include "sim/switcher.h"
#include "tests/support/edid_builder.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

// One switcher object wired to the model through its line.
class CBench final : public ITransport {
public:
    explicit CBench(const std::vector<sim::FaultRule>& faults, bool tcp = false) : line(device, plan)
    {
        for (const auto& f : faults)
            plan.Add(f);
        if (tcp)
            sw.AttachTcp(this);
        else
            sw.AttachSerial(this);
        sw.SetStop(&stop);
        sw.SetFailureReporter([this](const std::string& line) { reports.push_back(line); });
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
        if (blocking) {
            // A front end that blocks: its pump takes the next event; then it waits out the line.
            sw.SetPump([this] { Step(); });
            const SResult r = sw.Run(std::move(op));
            took = clock.Now() - begin;
            sw.Settle();
            EXPECT_FALSE(sw.Link().Settling());
            return r;
        }
        int calls = 0;
        SResult result;
        sw.Start(std::move(op), [&](const SResult& r) {
            ++calls;
            result = r;
            took = clock.Now() - begin;
        });
        if (sw.Busy()) {
            SResult second;
            sw.Start(sw.Wait([] { return true; }), [&second](const SResult& r) { second = r; });
            EXPECT_EQ(second.outcome, EOutcome::Refused) << "a second operation started";
        }
        for (int64_t until = -1;;) {
            Deliver();
            if (calls && until < 0)
                until = clock.Now() + (linger ? 60000 : 0);
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
        if (linger)
            EXPECT_LT(clock.NextDue(), 0) << "a timer still runs a minute after the end";
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
    std::optional<std::size_t> sentAtLoss;  // frames written when the line hung up
    int64_t took = 0;
    unsigned worst = 0;
    bool blocking = false;
    bool linger = true;  // false: the next operation starts at once, while late answers may come
    std::vector<std::string> reports;  // the failure lines the switcher reported

private:
    void Step()
    {
        int64_t next = clock.NextDue();
        if (const auto d = line.NextDeadline(); d && (next < 0 || *d < next))
            next = *d;
        if (next < 0) {
            ADD_FAILURE() << "the operation waits for nothing";
            stop = 1;
            return;
        }
        clock.Advance(std::max<int64_t>(0, next - clock.Now()));
        Deliver();
    }
    void Deliver()
    {
        for (const auto& e : line.TakeDue(clock.Now())) {
            if (e.hangUp) {
                sw.OnLinkLost("the other end hung up");
                sentAtLoss = sent.size();
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
    // When the switcher's own answers say no (a reading that shows another value, a value out
    // of range) or the input is refused before any frame: the outcome, and words it names.
    EOutcome onAnswer = EOutcome::Done;
    const char* words = "";
    bool sends = true;  // false: it ends before any frame, whatever the line does
    const char* lostWords = "";  // what it says when the line hangs up at the frame of key
    std::function<bool(const SSwitcherState&, const sim::CSwitcher&)> read;  // what was read matches the model
};

sim::FaultRule Rule(sim::FaultKind kind, const Bytes& key, unsigned arg = 0, unsigned last = 1);

// The switcher reporting value on every answer to the query whose bytes 2.. are key.
void Reports(CBench& b, const Bytes& key, unsigned value)
{
    b.plan.Add(Rule(sim::FaultKind::Value, key, value, UINT_MAX));
}

bool SettingsRead(const SSwitcherState& s, const sim::CSwitcher& d)
{
    bool ok = s.beep == d.Beep() && s.dvi == d.Dvi() && s.routes[0] == d.Route(1) && s.routes[1] == d.Route(2);
    for (int i = 1; i <= 4; ++i)
        ok = ok && s.edids[i - 1].has_value();
    return ok;
}

// Only DVI compatibility differs from the model as it starts.
SScene DviScene()
{
    SScene s;
    s.routes = {1, 2};
    s.beep = true;
    s.dvi = true;
    return s;
}

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

// The lobby, and a file for IN2.
SScene FileScene()
{
    SScene s = LobbyScene();
    s.edids[1].kind = SSceneEdid::Kind::File;
    s.edids[1].file = "monitor.bin";
    s.edids[1].data = FileEdid();
    return s;
}

void Fault(CBench& b, const char* text)
{
    std::string error;
    b.plan.Add(*sim::ParseFaultRule(text, error));
}

SSceneApply sceneResult;  // what the last scene apply found
std::string scenePlanned;  // what it said it would do, before any change

void Planned(const SSceneApply& plan) { scenePlanned = "planned: " + std::to_string(plan.changes.size()) + " change"; }

// An image of a few packets.
std::vector<uint8_t> Image()
{
    std::vector<uint8_t> image(700);
    for (std::size_t k = 0; k < image.size(); ++k)
        image[k] = static_cast<uint8_t>(k * 7 + 3);
    return image;
}

void LoadFirmware(CBench& b)
{
    // Each test process its own file: ctest runs them side by side.
    const std::string path = testing::TempDir() + "/switcher_ops." + std::to_string(getpid()) + ".fw";
    std::string error;
    ASSERT_TRUE(WriteWholeFile(path, *PackFirmware(Image()), error)) << error;
    b.sw.firmware.LoadFile(path);
    std::remove(path.c_str());
}

const std::vector<SOp>& Operations()
{
    static const std::vector<SOp> ops = {
        {"route", {0x02, 0x03}, [](CBench& b) { return b.sw.Route(1, 3); },
         [](const sim::CSwitcher& d) { return d.Route(1) == 3; }},
        {"beep", {0x06, 0x01}, [](CBench& b) { return b.sw.Switch(true, false); },
         [](const sim::CSwitcher& d) { return !d.Beep(); }},
        {"dvi", {0x07, 0x01}, [](CBench& b) { return b.sw.Switch(false, true); },
         [](const sim::CSwitcher& d) { return d.Dvi(); }},
        {"edid preset", {0x03}, [](CBench& b) { return b.sw.EdidPreset(2, SBuiltInEdid{7}); },
         [](const sim::CSwitcher& d) { return d.EdidIndex(2) == 7; }},
        // The default: given to one input, the switcher names it as the preset it sends.
        {"edid default to one input", {0x03}, [](CBench& b) { return b.sw.EdidPreset(3, SBuiltInEdid{}); },
         [](const sim::CSwitcher& d) { return d.EdidIndex(3) == kDefaultOnOneInputPosition; }},
        {"edid default to every input", {0x03}, [](CBench& b) { return b.sw.EdidPreset(kEveryInput, SBuiltInEdid{}); },
         [](const sim::CSwitcher& d) {
             return d.EdidIndex(1) == 15 && d.EdidIndex(2) == 15 && d.EdidIndex(3) == 15 && d.EdidIndex(4) == 15;
         }},
        // The reading back of a set goes unanswered: whether it took is not known.
        {"beep, its reading back", {0x01, 0x0B}, [](CBench& b) { return b.sw.Switch(true, false); },
         [](const sim::CSwitcher& d) { return !d.Beep(); }},
        {"edid copy", {0x03}, [](CBench& b) { return b.sw.EdidCopy(3, 1); },
         [](const sim::CSwitcher& d) { return d.EdidIndex(3) == sim::kEdidIndexCopiedA; }},
        {"edid file", {0x03}, [](CBench& b) { return b.sw.EdidFile(4, "monitor.bin", FileEdid()); },
         [](const sim::CSwitcher& d) { return d.EdidIndex(4) == sim::kEdidIndexFile; }},
        {.name = "read", .key = {0x01, 0x04, 0x01}, .make = [](CBench& b) { return b.sw.ReadSettings(true); },
         .took = [](const sim::CSwitcher&) { return true; },
         .read = [](const SSwitcherState& s, const sim::CSwitcher& d) {
             bool ok = SettingsRead(s, d);
             for (int i = 1; i <= 4; ++i)
                 ok = ok && s.inputs[i - 1] && !s.inputs[i - 1]->output && s.inputs[i - 1]->number == i &&
                      s.inputs[i - 1]->connected == d.InputSignal(i);
             for (int o = 1; o <= 2; ++o)
                 ok = ok && s.outputs[o - 1] && s.outputs[o - 1]->output && s.outputs[o - 1]->number == o &&
                      s.outputs[o - 1]->connected == d.OutputSignal(o);
             return ok;
         }},
        {.name = "read without signals", .key = {0x01, 0x0C, 0x00}, .make = [](CBench& b) { return b.sw.ReadSettings(false); },
         .took = [](const sim::CSwitcher&) { return true; }, .read = SettingsRead},
        {.name = "device", .key = {0x01, 0x01}, .make = [](CBench& b) { return b.sw.ReadDevice(); },
         .took = [](const sim::CSwitcher&) { return true; },
         .read = [](const SSwitcherState& s, const sim::CSwitcher&) { return s.device.has_value(); }},
        // Answers that say no: a value out of range, a reading back that shows another value.
        {.name = "routes, output 2 out of range", .key = {0x02, 0x01, 0x01},
         .make = [](CBench& b) { Reports(b, {0x02, 0x01, 0x02}, 5); return b.sw.ReadRoutes(); },
         .took = [](const sim::CSwitcher&) { return true; }, .onAnswer = EOutcome::Refused,
         .words = "reported input 5 for output 2, outside 1 to 4"},
        {.name = "routes, output 1 out of range", .key = {0x02, 0x01, 0x02},
         .make = [](CBench& b) { Reports(b, {0x02, 0x01, 0x01}, 0); return b.sw.ReadRoutes(); },
         .took = [](const sim::CSwitcher&) { return true; }, .onAnswer = EOutcome::Refused,
         .words = "reported input 0 for output 1, outside 1 to 4"},
        {.name = "EDID names, IN1 out of range", .key = {0x01, 0x0C, 0x02},
         .make = [](CBench& b) { Reports(b, {0x01, 0x0C, 0x01}, 200); return b.sw.ReadEdidNames(); },
         .took = [](const sim::CSwitcher&) { return true; }, .onAnswer = EOutcome::Refused,
         .words = "reported EDID number 200 for input 1, outside 0 to 18"},
        {.name = "EDID names, a file on IN1, IN4 out of range", .key = {0x01, 0x0C, 0x01},
         .make = [](CBench& b) {
             Reports(b, {0x01, 0x0C, 0x01}, sim::kEdidIndexFile);
             Reports(b, {0x01, 0x0C, 0x04}, 19);
             return b.sw.ReadEdidNames();
         },
         .took = [](const sim::CSwitcher&) { return true; }, .onAnswer = EOutcome::Refused,
         .words = "reported EDID number 19 for input 4, outside 0 to 18"},
        {.name = "route, read back otherwise", .key = {0x02, 0x03},
         .make = [](CBench& b) { Reports(b, {0x02, 0x01, 0x01}, 2); return b.sw.Route(1, 3); },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 3; }, .onAnswer = EOutcome::Refused,
         .words = "the switcher shows IN 2 on output 1"},
        {.name = "dvi, read back otherwise", .key = {0x07, 0x01},
         .make = [](CBench& b) { Reports(b, {0x01, 0x0C, 0x00}, 0); return b.sw.Switch(false, true); },
         .took = [](const sim::CSwitcher& d) { return d.Dvi(); }, .onAnswer = EOutcome::Refused,
         .words = "the switcher reports DVI compatibility off"},
        {.name = "edid preset, read back otherwise", .key = {0x03},
         .make = [](CBench& b) { Reports(b, {0x01, 0x0C, 0x04}, 3); return b.sw.EdidPreset(4, SBuiltInEdid{7}); },
         .took = [](const sim::CSwitcher& d) { return d.EdidIndex(4) == 7; }, .onAnswer = EOutcome::Refused,
         .words = "\" on IN4"},
        // Input refused before any frame.
        {.name = "route to no output", .key = {0x02, 0x03}, .make = [](CBench& b) { return b.sw.Route(3, 1); },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 1 && d.Route(2) == 2; },
         .onAnswer = EOutcome::BadInput, .words = "no such route: input 1 to output 3", .sends = false},
        {.name = "edid file, not an EDID", .key = {0x03},
         .make = [](CBench& b) { return b.sw.EdidFile(4, "notes.txt", {1, 2, 3}); },
         .took = [](const sim::CSwitcher& d) { return d.EdidIndex(4) != sim::kEdidIndexFile; },
         .onAnswer = EOutcome::BadInput, .words = "bad EDID file \"notes.txt\": size 3 bytes", .sends = false},
        {.name = "firmware upgrade", .key = {0x20, 0x01},
         .make = [](CBench& b) { LoadFirmware(b); return b.sw.FirmwareUpgrade(); },
         .took = [](const sim::CSwitcher& d) {
             const std::vector<uint8_t> image = Image();
             return d.FirmwareImage().size() >= image.size() &&
                    std::equal(image.begin(), image.end(), d.FirmwareImage().begin());
         }},
        {"factory reset", {0x0A, 0x06, 0x02}, [](CBench& b) { return b.sw.FactoryReset(); },
         [](const sim::CSwitcher& d) { return d.Route(2) == 2 && d.Beep(); }},
        // A change whose answer is lost may still have taken: the reading back decides.
        {.name = "scene apply", .key = {0x02, 0x03},
         .make = [](CBench& b) { return ApplyScene(b.sw, LobbyScene(), false, sceneResult); },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 3 && d.Route(2) == 4 && d.Dvi(); },
         .onNoAnswer = EOutcome::Done,
         .words = R"({"changes":[{"setting":"output 1","from":"IN 1","to":"IN 3"},)"
                  R"({"setting":"output 2","from":"IN 2","to":"IN 4"},{"setting":"beep","from":"on","to":"off"},)"
                  R"({"setting":"DVI compatibility","from":"off","to":"on"},)"
                  R"({"setting":"EDID IN1","from":"Default EDID","to":"3D,Dolby/DTS 5.1"}],)"
                  R"("left_alone":[{"setting":"EDID IN2","switcher":"Default EDID"},)"
                  R"({"setting":"EDID IN3","switcher":"Default EDID"},{"setting":"EDID IN4","switcher":"Default EDID"}],)"
                  R"("dry_run":false,"matches":true,"mismatches":[],"not_read_back":[]})",
         .lostWords = R"({"setting":"output 2","switcher":"IN 2","scene":"IN 4","why":"it was not tried, the link was lost"})"},
        {.name = "scene apply, read back otherwise", .key = {0x02, 0x03},
         .make = [](CBench& b) { Reports(b, {0x02, 0x01, 0x01}, 2); return ApplyScene(b.sw, LobbyScene(), false, sceneResult); },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 3 && d.Route(2) == 4 && d.Dvi(); },
         .onNoAnswer = EOutcome::Refused, .onAnswer = EOutcome::Refused,
         .words = "output 1 did not take: the switcher shows IN 2, the scene says IN 3"
                  R"({"changes":[{"setting":"output 1","from":"IN 2","to":"IN 3"},)"
                  R"({"setting":"output 2","from":"IN 2","to":"IN 4"},{"setting":"beep","from":"on","to":"off"},)"
                  R"({"setting":"DVI compatibility","from":"off","to":"on"},)"
                  R"({"setting":"EDID IN1","from":"Default EDID","to":"3D,Dolby/DTS 5.1"}],)"
                  R"("left_alone":[{"setting":"EDID IN2","switcher":"Default EDID"},)"
                  R"({"setting":"EDID IN3","switcher":"Default EDID"},{"setting":"EDID IN4","switcher":"Default EDID"}],)"
                  R"("dry_run":false,"matches":false,)"
                  R"("mismatches":[{"setting":"output 1","switcher":"IN 2","scene":"IN 3","why":"the switcher shows IN 2"}],)"
                  R"("not_read_back":[]})"},
        {.name = "scene apply, dry run", .key = {0x01, 0x0C, 0x00},
         .make = [](CBench& b) { return ApplyScene(b.sw, LobbyScene(), true, sceneResult); },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 1 && !d.Dvi(); },
         .words = R"("dry_run":true,"matches":false,"mismatches":[],"not_read_back":[]})"
                  "output 1: IN 1 -> IN 3\noutput 2: IN 2 -> IN 4\nbeep: on -> off\nDVI compatibility: off -> on\n"
                  "EDID IN1: Default EDID -> 3D,Dolby/DTS 5.1\n"
                  "EDID IN2: left as it is (unknown in the scene; the switcher shows Default EDID)\n"},
        // A value out of range is no reading: what it would have shown is not known.
        {.name = "scene apply, outputs and IN1 not read back", .key = {0x02, 0x03},
         .make = [](CBench& b) { Fault(b, "value=9:02 01 01:2-");
             Fault(b, "value=9:02 01 02:2-");
             return ApplyScene(b.sw, LobbyScene(), false, sceneResult); },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 3 && d.EdidIndex(1) == 7; },
         .onNoAnswer = EOutcome::Refused, .onAnswer = EOutcome::Refused,
         .words = R"("matches":false,"mismatches":[],"not_read_back":["output 1","output 2","EDID IN1"]})"
                  "the switcher could not be read back for output 1, output 2 and EDID IN1: they were set, but "
                  "whether they took is not known"},
        {.name = "scene apply, IN1 not read back", .key = {0x02, 0x03},
         .make = [](CBench& b) { Fault(b, "value=200:01 0C 01:2-"); return ApplyScene(b.sw, LobbyScene(), false, sceneResult); },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 3 && d.EdidIndex(1) == 7; },
         .onNoAnswer = EOutcome::Refused, .onAnswer = EOutcome::Refused,
         .words = R"("not_read_back":["EDID IN1"]})"
                  "the switcher could not be read back for EDID IN1: it was set, but whether it took is not known"},
        {.name = "EDID names, IN2 out of range", .key = {0x01, 0x0C, 0x01},
         .make = [](CBench& b) { Reports(b, {0x01, 0x0C, 0x02}, 200); return b.sw.ReadEdidNames(); },
         .took = [](const sim::CSwitcher&) { return true; }, .onAnswer = EOutcome::Refused,
         .words = "reported EDID number 200 for input 2, outside 0 to 18",
         .read = [](const SSwitcherState& s, const sim::CSwitcher&) { return s.edids[0] && !s.edids[1] && s.edids[3]; }},
        {.name = "scene apply, a file refused", .key = {0x02, 0x03},
         .make = [](CBench& b) {
             Fault(b, "refuse:03:3-");
             Reports(b, {0x01, 0x0C, 0x02}, 3);  // what IN2 holds, and keeps
             return ApplyScene(b.sw, FileScene(), false, sceneResult);
         },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 3 && d.EdidIndex(2) != sim::kEdidIndexFile; },
         .onNoAnswer = EOutcome::Refused, .onAnswer = EOutcome::Refused,
         .words = R"("mismatches":[{"setting":"EDID IN2","switcher":"1080p,Stereo Audio 2.0","scene":"file monitor.bin",)"
                  R"("why":"the switcher shows 1080p,Stereo Audio 2.0"}],"not_read_back":[]})"},
        {.name = "scene apply, DVI only", .key = {0x07, 0x01},
         .make = [](CBench& b) { return ApplyScene(b.sw, DviScene(), false, sceneResult, Planned); },
         .took = [](const sim::CSwitcher& d) { return d.Dvi() && d.Beep() && d.Route(1) == 1; },
         .onNoAnswer = EOutcome::Done,
         .words = R"("left_alone":[{"setting":"EDID IN1","switcher":"Default EDID"},)"
                  R"({"setting":"EDID IN2","switcher":"Default EDID"},{"setting":"EDID IN3","switcher":"Default EDID"},)"
                  R"({"setting":"EDID IN4","switcher":"Default EDID"}],"dry_run":false,"matches":true,)"
                  R"("mismatches":[],"not_read_back":[]}planned: 1 change)"},
        {.name = "scene apply, a file refused, output 2 not taken", .key = {0x02, 0x03},
         .make = [](CBench& b) {
             Fault(b, "refuse:03:3-");
             Reports(b, {0x02, 0x01, 0x02}, 1);
             return ApplyScene(b.sw, FileScene(), false, sceneResult);
         },
         .took = [](const sim::CSwitcher& d) { return d.Route(1) == 3 && d.EdidIndex(2) != sim::kEdidIndexFile; },
         .onNoAnswer = EOutcome::Refused, .onAnswer = EOutcome::Refused,
         .words = R"("mismatches":[{"setting":"output 2","switcher":"IN 1","scene":"IN 4","why":"the switcher shows IN 1"},)"
                  R"({"setting":"EDID IN2","switcher":"Default EDID","scene":"file monitor.bin",)"
                  R"("why":"the switcher did not accept the file"}],"not_read_back":[]})"},
    };
    return ops;
}

sim::FaultRule Rule(sim::FaultKind kind, const Bytes& key, unsigned arg, unsigned last)
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
         [](const SOp& op) { return op.onAnswer; }, true},
        {"late answer inside the resend window",
         [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::Delay, k, 3500)}; },
         [](const SOp& op) { return op.onAnswer; }, true},
        {"no answer", [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::Drop, k, 0, UINT_MAX)}; },
         [](const SOp& op) { return op.sends ? op.onNoAnswer : op.onAnswer; }, false},
        {"refusal", [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::Refuse, k)}; },
         [](const SOp& op) { return op.sends ? EOutcome::Refused : op.onAnswer; }, false},
        {"link lost", [](const Bytes& k) { return std::vector{Rule(sim::FaultKind::HangUp, k)}; },
         [](const SOp& op) { return op.sends ? EOutcome::LinkLost : op.onAnswer; }, false},
    };
    for (const SOp& op : Operations())
        for (const Fault& f : faults) {
            for (bool blocking : {false, true}) {
                SCOPED_TRACE(std::string(op.name) + ", " + f.name + (blocking ? ", blocking" : ""));
                CBench b(f.rules(op.key));
                b.blocking = blocking;
                sceneResult = {};
                scenePlanned.clear();
                const SResult r = b.Run(op.make(b));
                EXPECT_EQ(r.outcome, f.outcome(op)) << r.words;
                EXPECT_EQ(r.words.empty(), r.Ok()) << r.words;
                EXPECT_LE(b.took, b.worst);
                if (b.sentAtLoss) {
                    EXPECT_EQ(b.sent.size(), *b.sentAtLoss) << "a frame was written to a line that hung up";
                    EXPECT_NE(sceneResult.Json().find(op.lostWords), std::string::npos) << sceneResult.Json();
                }
                if (b.sw.Failed())
                    EXPECT_EQ(b.reports.back(), r.words);
                else if (r.Ok() && f.changes)
                    EXPECT_TRUE(b.reports.empty()) << b.reports.front();
                if (f.changes) {
                    EXPECT_TRUE(op.took(b.device));
                    std::string said = r.words + sceneResult.Json() + scenePlanned;
                    for (const std::string& line : sceneResult.Problems())
                        said += line;
                    for (const std::string& line : sceneResult.PlanLines())
                        said += line + "\n";
                    EXPECT_NE(said.find(op.words), std::string::npos) << said;
                    if (op.read)
                        EXPECT_TRUE(op.read(b.sw.State(), b.device));
                }
            }
        }
}

TEST(SwitcherOperations, AfterALostLinkEachEndsAsLostSendingNothingAndAReattachedLinkWorksAtOnce)
{
    for (bool tcp : {false, true})
        for (const SOp& op : Operations()) {
            if (op.onAnswer != EOutcome::Done)
                continue;
            SCOPED_TRACE(std::string(op.name) + (tcp ? ", TCP" : ", serial"));
            // Lost while the line still settles: a query resent and never answered.
            CBench b({Rule(sim::FaultKind::Drop, {0x01, 0x0B}, 0, 2)}, tcp);
            b.linger = false;
            EXPECT_EQ(b.Run(b.sw.ReadSettings(false)).outcome, EOutcome::TimedOut);
            b.sent.clear();
            b.sw.OnLinkLost("unplugged");
            const SResult lost = b.Run(op.make(b));
            EXPECT_EQ(lost.outcome, EOutcome::LinkLost);
            EXPECT_EQ(lost.words.rfind("the link to the switcher was lost: unplugged", 0), 0u) << lost.words;
            EXPECT_TRUE(b.sent.empty());
            if (tcp)
                b.sw.AttachTcp(&b);
            else
                b.sw.AttachSerial(&b);
            sceneResult = {};
            b.linger = true;
            const SResult again = b.Run(op.make(b));
            EXPECT_TRUE(again.Ok()) << again.words;
            EXPECT_TRUE(op.took(b.device));
            if (std::string(op.name) == "route")  // no waiting for the old link's line
                EXPECT_LT(b.took, 1000);
        }
}

// An answer that comes after its exchange timed out, within the window the line is given to
// settle, belongs to nobody: the next operation waits it out and takes only its own. (One later
// still may be taken, but the reading back then shows what the switcher really did.)
TEST(SwitcherOperations, AnAnswerLaterThanItsTimeOutIsNotTheNextOperations)
{
    struct Row {
        const char* name;
        std::vector<const char*> faults;
        std::function<SOperation(CBench&)> first, second;
        EOutcome outcome;  // of the second (a refusal not answered: the switcher did nothing)
        std::function<bool(const SSwitcherState&)> read = [](const SSwitcherState&) { return true; };
    };
    const std::vector<Row> rows = {
        {"a route's acknowledgement", {"delay=9000:02 03 03", "refuse:02 03 04", "drop:02 03 04"},
         [](CBench& b) { return b.sw.Route(1, 3); }, [](CBench& b) { return b.sw.Route(1, 4); }, EOutcome::TimedOut},
        {"a beep set's answer", {"delay=9000:06 01:1", "refuse:06 01:2-", "drop:06 01:2-"},
         [](CBench& b) { return b.sw.Switch(true, false); }, [](CBench& b) { return b.sw.Switch(true, false); },
         EOutcome::TimedOut},
        {"a resent query's two answers", {"delay=6500:01 0C 00:1-2", "delay=3500:01 0C 00:3"},
         [](CBench& b) { return b.sw.ReadSettings(false); }, [](CBench& b) { return b.sw.Switch(false, true); },
         EOutcome::Done, [](const SSwitcherState& s) { return s.dvi == true; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<sim::FaultRule> faults;
        for (const char* text : row.faults) {
            std::string error;
            faults.push_back(*sim::ParseFaultRule(text, error));
        }
        CBench b(faults);
        b.linger = false;
        EXPECT_EQ(b.Run(row.first(b)).outcome, EOutcome::TimedOut);
        const SResult r = b.Run(row.second(b));
        EXPECT_EQ(r.outcome, row.outcome) << r.words;
        EXPECT_TRUE(row.read(b.sw.State()));
    }
}

TEST(SwitcherOperations, AStopBeforeAnyFrameSendsNothingNewAndLeavesNoExchangeHalfDone)
{
    for (const SOp& op : Operations()) {
        if (op.onAnswer != EOutcome::Done)
            continue;
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
                const bool owed = b.sent[i].size() == kBlockSize
                                      ? AnnouncesEdidBlock(before) || AnnouncesFirmwareBlock(before)
                                      : OpensEdidSet(before) && IsEdidFrame(b.sent[i]);
                EXPECT_TRUE(owed) << "frame " << i + 1 << " went out after the stop";
            }
            if (!b.sent.empty())
                EXPECT_FALSE(OpensEdidSet(b.sent.back()) || AnnouncesEdidBlock(b.sent.back()) ||
                             AnnouncesFirmwareBlock(b.sent.back()));
        }
    }
}

}  // namespace
}  // namespace corvane::test
