// The switcher model answers each frame the panel sends with the bytes the panel's reply
// handlers examine, and keeps the state those frames change.
#include <gtest/gtest.h>

#include "sim/switcher.h"
#include "tests/sim/sim_test_util.h"

namespace corvane::sim::test {
namespace {

struct Case {
    const char* what;
    Bytes command;                 // bytes 2.. of the frame the panel sends
    std::optional<Bytes> reply;    // bytes 2.. of the reply; nothing: silence
};

Frame FromBody(const Bytes& body)
{
    Frame f = MakeFrame({});
    for (std::size_t i = 0; i < body.size() && i < 10; ++i)
        f[2 + i] = body[i];
    SealFrame(f);
    return f;
}

void RunTable(CSwitcher& dev, const std::vector<Case>& table)
{
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        const auto got = dev.OnCommand(FromBody(c.command), nullptr, 0);
        if (!c.reply) {
            EXPECT_FALSE(got) << Hex(got);
            continue;
        }
        ASSERT_TRUE(got);
        EXPECT_TRUE(FrameChecksumOk(*got));
        EXPECT_EQ(HexBytes(*got), HexBytes(FromBody(*c.reply)));
    }
}

// Bytes 2.. of the error reply to command g c.
Bytes Refused(uint8_t g, uint8_t c) { return {g, c, 0xEE, 0x00, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}; }

TEST(SwitcherQueries, EveryQueryOfThePanelGetsItsReply)
{
    SwitcherSettings s;
    s.inputSignal = {true, false, true, false};
    s.outputSignal = {false, true};
    s.route = {3, 4};
    s.deviceType = 0x02;
    s.versionMajor = 2;
    s.versionMinor = 7;
    s.build = {'B', 'U', 'I', 'L', 'D', '-', '4', '2'};
    CSwitcher dev(s);
    RunTable(dev, {
        // Signal queries: byte 6 = 00 connected, anything else not.
        {"input 1", {0x01, 0x04, 0x01}, Bytes{0x01, 0x04, 0x01, 0x00, 0x00}},
        {"input 2", {0x01, 0x04, 0x02}, Bytes{0x01, 0x04, 0x02, 0x00, 0x01}},
        {"input 3", {0x01, 0x04, 0x03}, Bytes{0x01, 0x04, 0x03, 0x00, 0x00}},
        {"input 4", {0x01, 0x04, 0x04}, Bytes{0x01, 0x04, 0x04, 0x00, 0x01}},
        {"output 1", {0x01, 0x05, 0x01}, Bytes{0x01, 0x05, 0x01, 0x00, 0x01}},
        {"output 2", {0x01, 0x05, 0x02}, Bytes{0x01, 0x05, 0x02, 0x00, 0x00}},
        // Beep on: 00; DVI compatibility off: 00.
        {"beep status", {0x01, 0x0B}, Bytes{0x01, 0x0B, 0x00, 0x00, 0x00}},
        {"DVI status", {0x01, 0x0C}, Bytes{0x01, 0x0C, 0x00, 0x00, 0x00}},
        {"route output 1", {0x02, 0x01, 0x01}, Bytes{0x02, 0x01, 0x01, 0x00, 0x03}},
        {"route output 2", {0x02, 0x01, 0x02}, Bytes{0x02, 0x01, 0x02, 0x00, 0x04}},
        {"EDID input 1", {0x01, 0x0C, 0x01}, Bytes{0x01, 0x0C, 0x01, 0x00, 0x0F}},
        {"EDID input 4", {0x01, 0x0C, 0x04}, Bytes{0x01, 0x0C, 0x04, 0x00, 0x0F}},
        {"device type", {0x01, 0x01, 0, 0, 0, 0, 0, 0, 0xCC}, Bytes{0x01, 0x01, 0x02, 0, 0, 0, 0, 0, 0xCC}},
        {"size", {0x01, 0x02, 0, 0, 0, 0, 0, 0, 0xCC}, Bytes{0x01, 0x02, 0x04, 0, 0x02, 0, 0, 0, 0xCC}},
        {"version", {0x01, 0x03, 0, 0, 0, 0, 0, 0, 0xCC}, Bytes{0x01, 0x03, 0x02, 0, 0x07, 0, 0, 0, 0xCC}},
        {"build text", {0x01, 0x06}, Bytes{0x01, 0x06, 'B', 'U', 'I', 'L', 'D', '-', '4', '2'}},
        // The reboot check differs from the device-type query only in byte 10.
        {"reboot check", {0x01, 0x01}, Bytes{0x01, 0x01, 0x02, 0, 0, 0, 0, 0, 0x00}},
        // Out of range: an error reply no handler accepts. Unknown: silence.
        {"input 5", {0x01, 0x04, 0x05}, Refused(0x01, 0x04)},
        {"output 0", {0x01, 0x05, 0x00}, Refused(0x01, 0x05)},
        {"route output 3", {0x02, 0x01, 0x03}, Refused(0x02, 0x01)},
        {"EDID input 5", {0x01, 0x0C, 0x05}, Refused(0x01, 0x0C)},
        {"unknown group", {0x55, 0x01}, std::nullopt},
        {"unknown code", {0x01, 0x7F}, std::nullopt},
    });
}

TEST(SwitcherSettingsCommands, SetsAnswerAndChangeTheState)
{
    CSwitcher dev;
    RunTable(dev, {
        // Beep set answer: DD when on. DVI set answer: DD when off.
        {"beep off", {0x06, 0x01, 0xF0, 0x00, 0x00}, Bytes{0x06, 0x01, 0x00, 0x00, 0x00}},
        {"beep status off", {0x01, 0x0B}, Bytes{0x01, 0x0B, 0x00, 0x00, 0x01}},
        {"beep on", {0x06, 0x01, 0x0F, 0x00, 0xDD}, Bytes{0x06, 0x01, 0x00, 0x00, 0xDD}},
        {"beep status on", {0x01, 0x0B}, Bytes{0x01, 0x0B, 0x00, 0x00, 0x00}},
        {"DVI on", {0x07, 0x01, 0x0F, 0x00, 0x00}, Bytes{0x07, 0x01, 0x00, 0x00, 0x00}},
        {"DVI status on", {0x01, 0x0C}, Bytes{0x01, 0x0C, 0x00, 0x00, 0x01}},
        {"DVI off", {0x07, 0x01, 0xF0, 0x00, 0xDD}, Bytes{0x07, 0x01, 0x00, 0x00, 0xDD}},
        {"DVI status off", {0x01, 0x0C}, Bytes{0x01, 0x0C, 0x00, 0x00, 0x00}},
        {"beep nonsense", {0x06, 0x01, 0x33}, Refused(0x06, 0x01)},
        // Route set: acknowledged with byte 4 = 00 and the output in byte 6.
        {"IN4 to OUT1", {0x02, 0x03, 0x04, 0x00, 0x01}, Bytes{0x02, 0x03, 0x00, 0x00, 0x01}},
        {"IN3 to OUT2", {0x02, 0x03, 0x03, 0x00, 0x02}, Bytes{0x02, 0x03, 0x00, 0x00, 0x02}},
        {"query 1", {0x02, 0x01, 0x01}, Bytes{0x02, 0x01, 0x01, 0x00, 0x04}},
        {"query 2", {0x02, 0x01, 0x02}, Bytes{0x02, 0x01, 0x02, 0x00, 0x03}},
        {"input 0", {0x02, 0x03, 0x00, 0x00, 0x01}, Refused(0x02, 0x03)},
        {"output 3", {0x02, 0x03, 0x01, 0x00, 0x03}, Refused(0x02, 0x03)},
        {"route to output 2, other path", {0x0A, 0x06, 0x01, 0x00, 0x01}, Bytes{0x0A, 0x06, 0x00, 0x00, 0x01}},
        {"query 2 again", {0x02, 0x01, 0x02}, Bytes{0x02, 0x01, 0x02, 0x00, 0x01}},
    });
    EXPECT_EQ(dev.Route(1), 4);
    EXPECT_EQ(dev.Route(2), 1);
}

const Bytes kReset[5] = {
    {0x02, 0x03, 0x03, 0x00, 0x01},
    {0x0A, 0x06, 0x02, 0x00, 0x01},
    {0x0A, 0x0C, 0x01, 0x00, 0x01},
    {0x03, 0x08, 0xF0, 0x00, 0x00},
    {0x03, 0x02, 0x04, 0xF0, 0x03},
};
// The panel checks bytes 2, 3, 4 and (except step 4) byte 6.
const Bytes kResetAck[5] = {
    {0x02, 0x03, 0x00, 0x00, 0x01},
    {0x0A, 0x06, 0x00, 0x00, 0x01},
    {0x0A, 0x0C, 0x00, 0x00, 0x01},
    {0x03, 0x08, 0x00, 0x00, 0x00},
    {0x03, 0x02, 0x00, 0x00, 0x03},
};

void Scramble(CSwitcher& dev)
{
    dev.OnCommand(F({0x06, 0x01, 0xF0}), nullptr, 0);
    dev.OnCommand(F({0x07, 0x01, 0x0F}), nullptr, 0);
    dev.OnCommand(F({0x02, 0x03, 0x04, 0x00, 0x02}), nullptr, 0);
    dev.OnCommand(F({0x03, 0x08, 0xF0}), nullptr, 0);
    dev.OnCommand(F({0x03, 0x01, 0x0A, 0xF0}), nullptr, 0);
}

TEST(SwitcherFactoryReset, FiveStepsAcknowledgedAndSettingsRestored)
{
    CSwitcher dev;
    Scramble(dev);
    ASSERT_FALSE(dev.Beep());
    ASSERT_EQ(dev.EdidIndex(2), 9);
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(k + 1);
        const auto r = dev.OnCommand(FromBody(kReset[k]), nullptr, 0);
        ASSERT_TRUE(r);
        EXPECT_EQ(HexBytes(*r), HexBytes(FromBody(kResetAck[k])));
    }
    EXPECT_EQ(dev.FactoryResets(), 1u);
    EXPECT_TRUE(dev.Beep());
    EXPECT_FALSE(dev.Dvi());
    EXPECT_EQ(dev.Route(1), 1);
    EXPECT_EQ(dev.Route(2), 2);
    for (int in = 1; in <= kInputs; ++in) {
        EXPECT_EQ(dev.EdidIndex(in), kEdidIndexDefault);
        EXPECT_EQ(dev.EdidData(in), PresetEdid(kEdidIndexDefault));
    }
    // The last step sent again (its acknowledgement was lost) is acknowledged once more and
    // changes nothing.
    dev.OnCommand(F({0x06, 0x01, 0xF0}), nullptr, 0);
    const auto again = dev.OnCommand(FromBody(kReset[4]), nullptr, 0);
    ASSERT_TRUE(again);
    EXPECT_EQ(HexBytes(*again), HexBytes(FromBody(kResetAck[4])));
}

TEST(SwitcherFactoryReset, RepeatedStepsStillCountButGapsDoNot)
{
    CSwitcher dev;
    Scramble(dev);
    for (int k : {0, 1, 1, 2, 3, 3, 4})  // steps 2 and 4 sent twice after a lost acknowledgement
        dev.OnCommand(FromBody(kReset[k]), nullptr, 0);
    EXPECT_EQ(dev.FactoryResets(), 1u);

    CSwitcher other;
    Scramble(other);
    for (int k : {0, 1, 3, 4})  // step 3 missing
        other.OnCommand(FromBody(kReset[k]), nullptr, 0);
    EXPECT_EQ(other.FactoryResets(), 0u);
    EXPECT_FALSE(other.Beep());

    CSwitcher third;
    Scramble(third);
    for (int k : {0, 1, 2, 3}) third.OnCommand(FromBody(kReset[k]), nullptr, 0);
    third.OnCommand(F({0x01, 0x0B}), nullptr, 0);  // anything in between ends the sequence
    third.OnCommand(FromBody(kReset[4]), nullptr, 0);
    EXPECT_EQ(third.FactoryResets(), 0u);
}

struct EdidCase {
    const char* what;
    uint8_t mode;            // byte 10 of the set request
    Bytes action;            // bytes 2.. of the frame after "accepted"
    Bytes done;              // bytes 2.. of the set done reply
    std::array<uint8_t, 4> index;  // EDID index of inputs 1..4 afterwards
};

TEST(SwitcherEdid, SetRequestAcceptedThenActionDone)
{
    const std::vector<EdidCase> table = {
        {"preset 5 to IN2", 0x00, {0x03, 0x02, 0x05, 0xF0, 0x02}, {0x03, 0x02, 0x00, 0x00, 0x02}, {15, 4, 15, 15}},
        {"Default EDID to IN2 sends preset 4", 0x00, {0x03, 0x02, 0x04, 0xF0, 0x02},
         {0x03, 0x02, 0x00, 0x00, 0x02}, {15, 3, 15, 15}},
        {"preset 13 to all", 0x00, {0x03, 0x01, 0x0D, 0xF0}, {0x03, 0x01, 0x00, 0x00, 0x00}, {12, 12, 12, 12}},
        {"default to all", 0x00, {0x03, 0x09, 0xFE}, {0x03, 0x09, 0x00, 0x00, 0x00}, {15, 15, 15, 15}},
        {"copy A to IN3", 0xEE, {0x03, 0x04, 0x01, 0x00, 0x03}, {0x03, 0x04, 0x00, 0x00, 0x03}, {15, 15, 0x10, 15}},
        {"copy B to all", 0xEE, {0x03, 0x03, 0x02}, {0x03, 0x03, 0x00, 0x00, 0x00}, {0x11, 0x11, 0x11, 0x11}},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        CSwitcher dev;
        const auto accepted = dev.OnCommand(F({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, c.mode}), nullptr, 0);
        ASSERT_TRUE(accepted);
        EXPECT_EQ(HexBytes(*accepted), HexBytes(F({0x03, 0x08, 0x00})));
        const auto done = dev.OnCommand(FromBody(c.action), nullptr, 0);
        ASSERT_TRUE(done);
        EXPECT_EQ(HexBytes(*done), HexBytes(FromBody(c.done)));
        for (int in = 1; in <= 4; ++in) {
            EXPECT_EQ(dev.EdidIndex(in), c.index[in - 1]) << "input " << in;
            const auto status = dev.OnCommand(F({0x01, 0x0C, static_cast<uint8_t>(in)}), nullptr, 0);
            ASSERT_TRUE(status);
            EXPECT_EQ(status->at(6), c.index[in - 1]);
        }
    }
    CSwitcher dev;
    dev.OnCommand(F({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xEE}), nullptr, 0);
    dev.OnCommand(F({0x03, 0x04, 0x02, 0x00, 0x01}), nullptr, 0);
    EXPECT_EQ(dev.EdidData(1), DisplayEdid(2));
}

TEST(SwitcherEdid, ActionsOutsideTheirHandshakeAreRefused)
{
    SwitcherSettings s;
    s.outputSignal = {true, false};
    CSwitcher dev(s);
    RunTable(dev, {
        {"preset without set request", {0x03, 0x02, 0x05, 0xF0, 0x02}, Refused(0x03, 0x02)},
        {"unknown set mode", {0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0x42}, Refused(0x03, 0x08)},
        {"copy request", {0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xEE}, Bytes{0x03, 0x08, 0x00}},
        {"preset under a copy request", {0x03, 0x02, 0x05, 0xF0, 0x02}, Refused(0x03, 0x02)},
        {"copy from a display that is not there", {0x03, 0x04, 0x02, 0x00, 0x01}, Refused(0x03, 0x04)},
        {"copy to input 5", {0x03, 0x04, 0x01, 0x00, 0x05}, Refused(0x03, 0x04)},
        {"preset request", {0x03, 0x08, 0xF0}, Bytes{0x03, 0x08, 0x00}},
        {"preset 16", {0x03, 0x02, 0x10, 0xF0, 0x01}, Refused(0x03, 0x02)},
        {"preset 0", {0x03, 0x01, 0x00, 0xF0}, Refused(0x03, 0x01)},
        {"file under a preset request", {0x03, 0x07, 0x01, 0xF0}, Refused(0x03, 0x07)},
    });
    for (int in = 1; in <= 4; ++in)
        EXPECT_EQ(dev.EdidIndex(in), kEdidIndexDefault);
}

TEST(SwitcherEdid, FileDataAnnouncedThenBlockKeptPerInput)
{
    Bytes edid(256);
    for (std::size_t i = 0; i < edid.size(); ++i)
        edid[i] = static_cast<uint8_t>(i * 7 + 3);
    const Block block = SealedBlock(edid);
    struct FileCase {
        uint8_t target;  // 1..4 or 5 all
        Bytes announce, accepted, header, done;
    };
    const std::vector<FileCase> table = {
        {3, {0x03, 0x07, 0x03, 0xF0}, {0x03, 0x07, 0xAA, 0x00}, {0x03, 0x07, 0x56, 0x00, 0x00, 0x01},
         {0x03, 0x07, 0x00, 0x00, 0x00, 0x01}},
        {5, {0x03, 0x06, 0xFE, 0xF0}, {0x03, 0x06, 0xAA, 0x00}, {0x03, 0x06, 0x56, 0x00, 0x00, 0x01},
         {0x03, 0x06, 0x00, 0x00, 0x00, 0x01}},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.target);
        CSwitcher dev;
        ASSERT_TRUE(dev.OnCommand(F({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xBB}), nullptr, 0));
        const auto acc = dev.OnCommand(FromBody(c.announce), nullptr, 0);
        EXPECT_EQ(Hex(acc), HexBytes(FromBody(c.accepted)));
        const Frame header = FromBody(c.header);
        EXPECT_TRUE(AnnouncesBlock(header));
        const auto done = dev.OnCommand(header, &block, 0);
        EXPECT_EQ(Hex(done), HexBytes(FromBody(c.done)));
        for (int in = 1; in <= 4; ++in) {
            const bool hit = c.target == 5 || c.target == in;
            EXPECT_EQ(dev.EdidIndex(in), hit ? kEdidIndexFile : kEdidIndexDefault);
            EXPECT_EQ(std::equal(edid.begin(), edid.end(), dev.EdidData(in).begin()), hit);
        }
    }
}

TEST(SwitcherEdid, FileBlockWithBadChecksumOrNoAnnouncementIsRefused)
{
    CSwitcher dev;
    Block bad = SealedBlock(Bytes(256, 0x11));
    bad[0] ^= 0x01;
    const Frame header = F({0x03, 0x07, 0x56, 0x00, 0x00, 0x01});
    const Block good = SealedBlock(Bytes(256, 0x11));
    EXPECT_EQ(Hex(dev.OnCommand(header, &good, 0)), HexBytes(RefusalFor(header))) << "not announced";
    dev.OnCommand(F({0x03, 0x08, 0xF0, 0, 0, 0, 0, 0, 0xBB}), nullptr, 0);
    dev.OnCommand(F({0x03, 0x07, 0x02, 0xF0}), nullptr, 0);
    EXPECT_EQ(Hex(dev.OnCommand(header, &bad, 0)), HexBytes(RefusalFor(header)));
    EXPECT_EQ(dev.EdidIndex(2), kEdidIndexDefault);
    EXPECT_EQ(dev.EdidData(2), PresetEdid(kEdidIndexDefault));
    // Announced for one input, the header for all inputs does not match.
    EXPECT_EQ(Hex(dev.OnCommand(F({0x03, 0x06, 0x56, 0x00, 0x00, 0x01}), &good, 0)),
              HexBytes(RefusalFor(F({0x03, 0x06}))));
}

TEST(SwitcherEdid, BuiltInEdidsAreWellFormed)
{
    auto check = [](const Edid& e) {
        const Bytes header = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
        EXPECT_TRUE(std::equal(header.begin(), header.end(), e.begin()));
        EXPECT_EQ(PlainSum(Bytes(e.begin(), e.begin() + 128), 128), 0);
        EXPECT_LE(e[126], 1);
        if (e[126] == 1) {
            EXPECT_EQ(PlainSum(Bytes(e.begin() + 128, e.end()), 128), 0);
        }
    };
    for (uint8_t i = 0; i <= kEdidPresets; ++i) {
        SCOPED_TRACE(i);
        check(PresetEdid(i));
    }
    check(DisplayEdid(1));
    check(DisplayEdid(2));
    EXPECT_NE(PresetEdid(0), PresetEdid(1));
}

// ---- firmware ----

// The firmware page's transfer: packets of 256 image bytes, each header built from the
// acknowledgement of the packet before.
struct Transfer {
    std::vector<Frame> headers;
    std::optional<Frame> lastAck;
    bool ok = true;
};

Transfer SendImage(CSwitcher& dev, const Bytes& image, int64_t now = 0)
{
    Transfer t;
    const std::size_t fileLength = image.size() + 2;
    auto expect = [&](const Frame& cmd, const Frame& want) {
        const auto r = dev.OnCommand(cmd, nullptr, now);
        EXPECT_EQ(Hex(r), HexBytes(want));
        t.ok = t.ok && r && *r == want;
    };
    expect(F({0x20, 0x01, 0x01}), F({0x20, 0x01, 0xAA}));
    expect(F({0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE}), F({0x20, 0x01, 0x00, 0, 0, 0, 0, 0, 0xEE}));
    expect(F({0x20, 0x01, 0x10}), F({0x20, 0x01, 0x00}));
    std::size_t offset = 0, segment = 0;
    Frame header = F({0x20, 0x01, 0xAA, 0x00, 0x00, 0x01, 0x01, 0x40, 0x00});
    for (int guard = 0; guard < 2000 && t.ok; ++guard) {
        Bytes data(256, 0);
        for (std::size_t p = 0; p < 256; ++p)
            if (offset + p < image.size())
                data[p] = image[offset + p];
        const Block block = SealedBlock(data);
        t.headers.push_back(header);
        const auto ack = dev.OnCommand(header, &block, now);
        t.ok = ack && (*ack)[2] == 0x20 && (*ack)[3] == 0x01 && (*ack)[4] == 0x00 && (*ack)[7] == 0x01 &&
               (*ack)[8] == 0x01;
        EXPECT_TRUE(t.ok) << Hex(ack);
        if (!t.ok)
            break;
        t.lastAck = ack;
        segment += 256;
        offset += 256;
        if (offset >= fileLength)
            break;
        uint8_t b4 = 0xAA, b9 = 0x40, b10;
        switch ((*ack)[10]) {
        case 0xF0:
            b9 = 0xB0;
            b10 = 0x01;
            break;
        case 0xB0:
            segment = 0;
            b10 = 0x00;
            offset += 3840;
            break;
        default: b10 = static_cast<uint8_t>(segment / 256); break;
        }
        if (offset + 256 >= fileLength)
            b4 = 0x56;
        header = F({0x20, 0x01, b4, 0x00, 0x00, 0x01, 0x01, b9, b10});
    }
    return t;
}

Bytes Pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    return b;
}

struct FwCase {
    const char* what;
    std::size_t imageSize;
    std::map<unsigned, uint8_t> control;
    std::size_t packets;
    uint8_t lastMark;  // byte 4 of the last header
};

TEST(SwitcherFirmware, TransferReassemblesTheImageAsSent)
{
    const std::vector<FwCase> table = {
        {"four packets", 1000, {}, 4, 0x56},
        {"one packet: no end mark", 200, {}, 1, 0xAA},
        {"file of exactly 256 bytes", 254, {}, 1, 0xAA},
        {"file length mod 256 = 1: a padding packet", 255, {}, 2, 0x56},
        {"control F0 after packet 1", 700, {{1, 0xF0}}, 3, 0x56},
        {"control B0 after packet 2 skips 3840 bytes", 6000, {{2, 0xB0}}, 9, 0x56},
        {"300 packets: header counter wraps", 300 * 256 - 10, {}, 300, 0x56},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        SwitcherSettings s;
        s.packetControl = c.control;
        s.rebootMs = 0;
        CSwitcher dev(s);
        const Bytes image = Pattern(c.imageSize);
        const Transfer t = SendImage(dev, image);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(t.headers.size(), c.packets);
        EXPECT_EQ(t.headers.back()[4], c.lastMark);
        if (c.lastMark == 0xAA) {  // the reboot check ends a transfer that carried no end mark
            EXPECT_FALSE(dev.OnCommand(F({0x01, 0x01}), nullptr, 0));
        }
        ASSERT_EQ(dev.Upgrades(), 1u);

        // Expected: every packet's 256 bytes at its image position, skipped bytes erased.
        Bytes want;
        std::size_t offset = 0;
        for (std::size_t k = 0; k < t.headers.size(); ++k) {
            if (want.size() < offset)
                want.resize(offset, 0xFF);
            for (std::size_t p = 0; p < 256; ++p)
                want.push_back(offset + p < image.size() ? image[offset + p] : 0x00);
            offset += 256;
            const auto ctl = c.control.find(static_cast<unsigned>(k + 1));
            if (ctl != c.control.end() && ctl->second == 0xB0)
                offset += 3840;
        }
        EXPECT_EQ(dev.FirmwareImage(), want);
        for (std::size_t k = 0; k < t.headers.size(); ++k) {
            const auto ctl = k == 0 ? c.control.end() : c.control.find(static_cast<unsigned>(k));
            if (ctl != c.control.end() && ctl->second == 0xF0) {
                EXPECT_EQ(t.headers[k][9], 0xB0);
                EXPECT_EQ(t.headers[k][10], 0x01);
            }
        }
    }
}

TEST(SwitcherFirmware, RebootCheckAnsweredOnlyAfterTheRebootTime)
{
    SwitcherSettings s;
    s.rebootMs = 5000;
    CSwitcher dev(s);
    ASSERT_TRUE(SendImage(dev, Pattern(600), 1000).ok);
    const Frame check = F({0x01, 0x01});
    EXPECT_FALSE(dev.OnCommand(check, nullptr, 1000));
    EXPECT_FALSE(dev.OnCommand(check, nullptr, 5999));
    EXPECT_FALSE(dev.OnCommand(F({0x01, 0x04, 0x01}), nullptr, 3000)) << "no answers at all while rebooting";
    EXPECT_FALSE(dev.OnSearch(Bytes{0x61}, 3000));
    // The reboot reply: 01 01 with bytes 7, 8 and 10 zero.
    EXPECT_EQ(Hex(dev.OnCommand(check, nullptr, 6000)), HexBytes(F({0x01, 0x01, 0x01})));
}

TEST(SwitcherFirmware, RepeatedPacketIsAcknowledgedAgainNotStoredTwice)
{
    SwitcherSettings s;
    s.packetControl = {{1, 0xB0}};
    CSwitcher dev(s);
    dev.OnCommand(F({0x20, 0x01, 0x01}), nullptr, 0);
    dev.OnCommand(F({0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE}), nullptr, 0);
    dev.OnCommand(F({0x20, 0x01, 0x10}), nullptr, 0);
    const Frame h1 = F({0x20, 0x01, 0xAA, 0, 0, 0x01, 0x01, 0x40, 0x00});
    const Block b1 = SealedBlock(Bytes(256, 0x11));
    const auto a1 = dev.OnCommand(h1, &b1, 0);
    const auto a1again = dev.OnCommand(h1, &b1, 0);
    ASSERT_TRUE(a1 && a1again);
    EXPECT_EQ(*a1, *a1again) << "the same control byte again";
    EXPECT_EQ((*a1)[10], 0xB0);
    const Frame h2 = F({0x20, 0x01, 0x56, 0, 0, 0x01, 0x01, 0x40, 0x00});
    const Block b2 = SealedBlock(Bytes(256, 0x22));
    ASSERT_TRUE(dev.OnCommand(h2, &b2, 0));
    ASSERT_EQ(dev.FirmwareImage().size(), 4096u + 256u);
    EXPECT_EQ(dev.FirmwareImage()[0], 0x11);
    EXPECT_EQ(dev.FirmwareImage()[256], 0xFF);
    EXPECT_EQ(dev.FirmwareImage()[4096], 0x22);
}

TEST(SwitcherFirmware, StepsOutOfOrderOrBadBlocksAreRefused)
{
    CSwitcher dev;
    const Frame erase = F({0x20, 0x01, 0x80, 0, 0, 0, 0, 0, 0xEE});
    const Frame ready = F({0x20, 0x01, 0x10});
    const Frame header = F({0x20, 0x01, 0xAA, 0, 0, 0x01, 0x01, 0x40, 0x00});
    const Block good = SealedBlock(Bytes(256, 0x5A));
    Block bad = good;
    bad[100] ^= 0x01;
    EXPECT_EQ(Hex(dev.OnCommand(erase, nullptr, 0)), HexBytes(RefusalFor(erase)));
    EXPECT_EQ(Hex(dev.OnCommand(header, &good, 0)), HexBytes(RefusalFor(header)));
    dev.OnCommand(F({0x20, 0x01, 0x01}), nullptr, 0);
    EXPECT_EQ(Hex(dev.OnCommand(ready, nullptr, 0)), HexBytes(RefusalFor(ready))) << "erase comes first";
    dev.OnCommand(erase, nullptr, 0);
    EXPECT_EQ(Hex(dev.OnCommand(header, &good, 0)), HexBytes(RefusalFor(header))) << "not ready yet";
    dev.OnCommand(ready, nullptr, 0);
    EXPECT_EQ(Hex(dev.OnCommand(header, &bad, 0)), HexBytes(RefusalFor(header)));
    EXPECT_TRUE(dev.OnCommand(header, &good, 0));
    EXPECT_EQ(dev.Upgrades(), 0u);
}

// ---- network ----

TEST(SwitcherNetwork, SearchReplyCarriesMacAddressAndMarker)
{
    SwitcherSettings s;
    s.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    s.ip = {10, 1, 2, 3};
    CSwitcher dev(s);
    const auto r = dev.OnSearch(Bytes{0x61}, 0);
    ASSERT_TRUE(r);
    ASSERT_GE(r->size(), 50u);
    EXPECT_EQ(Bytes(r->begin(), r->begin() + 10), (Bytes{0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 10, 1, 2, 3}));
    EXPECT_EQ((*r)[18], 0x77);
    EXPECT_EQ((*r)[19], 0x88);
    EXPECT_FALSE(dev.OnSearch(Bytes{0x62}, 0));
    EXPECT_FALSE(dev.OnSearch(Bytes{0x61, 0x61}, 0));
}

TEST(SwitcherNetwork, ConfigurationAppliedAndAcknowledged)
{
    SwitcherSettings s;
    s.autoIp = {127, 0, 0, 9};
    CSwitcher dev(s);
    const Mac fresh{0x02, 0xAB, 0xCD, 0xEF, 0x01, 0x23};

    const auto r = dev.OnConfig(ConfigRequest(s.mac, fresh, Ipv4{192, 168, 1, 100}), 0);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->size(), kConfigSize);
    EXPECT_EQ((*r)[74], 0x00);
    EXPECT_EQ((*r)[75], PlainSum(*r, 75));
    EXPECT_EQ(dev.MacAddress(), fresh);
    EXPECT_EQ(dev.IpAddress(), (Ipv4{192, 168, 1, 100}));
    EXPECT_EQ(dev.Gateway(), (Ipv4{192, 168, 1, 1}));
    EXPECT_EQ(dev.NetMask(), (Ipv4{255, 255, 255, 0}));
    EXPECT_FALSE(dev.Dhcp());
    const auto search = dev.OnSearch(Bytes{0x61}, 0);
    EXPECT_EQ(Bytes(search->begin(), search->begin() + 10),
              (Bytes{0x02, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 192, 168, 1, 100}));

    // Named by its old MAC the switcher no longer answers; by the new one, automatic addressing.
    EXPECT_FALSE(dev.OnConfig(ConfigRequest(s.mac, s.mac, std::nullopt), 0));
    const auto a = dev.OnConfig(ConfigRequest(fresh, s.mac, std::nullopt), 0);
    ASSERT_TRUE(a);
    EXPECT_EQ((*a)[74], 0x00);
    EXPECT_TRUE(dev.Dhcp());
    EXPECT_EQ(dev.IpAddress(), (Ipv4{127, 0, 0, 9}));
    EXPECT_EQ(dev.MacAddress(), s.mac);
}

TEST(SwitcherNetwork, BadConfigurationRefusedWithByte74)
{
    const SwitcherSettings s;
    struct Bad {
        const char* what;
        std::function<void(Bytes&)> spoil;
    };
    auto resum = [](Bytes& d) { d[75] = PlainSum(d, 75); };
    const std::vector<Bad> table = {
        {"checksum", [](Bytes& d) { d[75] ^= 0x01; }},
        {"two's complement checksum", [](Bytes& d) { d[75] = static_cast<uint8_t>(0x100 - PlainSum(d, 75)); }},
        {"mode byte 25 does not match byte 18", [&](Bytes& d) { d[25] = 0x17; resum(d); }},
        {"multicast MAC", [&](Bytes& d) { d[19] = 0x01; resum(d); }},
        {"all-zero MAC", [&](Bytes& d) { std::fill(d.begin() + 19, d.begin() + 25, 0); resum(d); }},
        {"static 0.0.0.0", [&](Bytes& d) {
             d[18] = 0; d[25] = 0x17; resum(d);
         }},
        {"static x.x.x.255", [&](Bytes& d) {
             d[6] = 192; d[7] = 168; d[8] = 1; d[9] = 255; d[18] = 0; d[25] = 0x17; resum(d);
         }},
        {"static multicast", [&](Bytes& d) {
             d[6] = 239; d[7] = 1; d[8] = 1; d[9] = 1; d[18] = 0; d[25] = 0x17; resum(d);
         }},
    };
    for (const auto& b : table) {
        SCOPED_TRACE(b.what);
        CSwitcher dev(s);
        Bytes d = ConfigRequest(s.mac, Mac{0x02, 1, 2, 3, 4, 5}, std::nullopt);
        b.spoil(d);
        const auto r = dev.OnConfig(d, 0);
        ASSERT_TRUE(r);
        EXPECT_EQ((*r)[74], 0x01);
        EXPECT_EQ((*r)[75], PlainSum(*r, 75));
        EXPECT_EQ(dev.MacAddress(), s.mac);
        EXPECT_EQ(dev.IpAddress(), s.ip);
    }
    CSwitcher dev(s);
    Bytes shortOne = ConfigRequest(s.mac, s.mac, std::nullopt);
    shortOne.pop_back();
    EXPECT_FALSE(dev.OnConfig(shortOne, 0)) << "75 bytes: not a configuration request";
    EXPECT_FALSE(dev.OnConfig(ConfigRequest(Mac{0x02, 9, 9, 9, 9, 9}, s.mac, std::nullopt), 0))
        << "another switcher's";
}

}  // namespace
}  // namespace corvane::sim::test
