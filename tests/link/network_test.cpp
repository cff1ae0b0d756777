// Search replies, the switcher list, the configuration request and the text conversions.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/link/net_link.h"
#include "core/link/network.h"

namespace corvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Reply(std::size_t size, Bytes mac, Bytes ip, bool marker = true)
{
    Bytes r(size, 0);
    std::copy(mac.begin(), mac.end(), r.begin());
    std::copy(ip.begin(), ip.end(), r.begin() + 6);
    if (marker && size >= 20) {
        r[18] = 0x77;
        r[19] = 0x88;
    }
    return r;
}

TEST(HexFieldToByte, Table)
{
    const struct {
        const char* text;
        uint8_t value;
    } cases[] = {
        {"1A", 0x1A}, {"1a2B", 0x2B}, {"G1", 0x00}, {"1", 0x00}, {"", 0x00}, {"ff", 0xFF},
        {"ABC", 0xAB},      // a single last character is ignored
        {"1AG2", 0x1A},     // reading stops at the first pair with another character
        {"1A 2B", 0x1A},    // a blank ends the reading too
        {"0x12", 0x00},     // no prefix is understood
        {"9f00", 0x00},     // the last good pair wins
        {"-1", 0x00},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexFieldToByte(c.text), c.value) << '"' << c.text << '"';
}

TEST(SearchReply, Table)
{
    const Bytes mac = {0x02, 0xC5, 0x1A, 0x00, 0x0B, 0xFF};
    const Bytes ip = {192, 168, 1, 7};
    EXPECT_FALSE(ParseSearchReply(Reply(49, mac, ip)));
    EXPECT_FALSE(ParseSearchReply({}));

    const auto unmarked = ParseSearchReply(Reply(50, mac, ip, false));
    ASSERT_TRUE(unmarked);
    EXPECT_FALSE(unmarked->listed);
    EXPECT_EQ(unmarked->ipText, "192.168.1.7");

    const auto a = ParseSearchReply(Reply(64, mac, ip));
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->listed);
    EXPECT_EQ(a->mac, (MacFields{"02", "C5", "1A", "00", "0B", "FF"}));
    EXPECT_EQ(a->macText, "02C51A000BFF");
    EXPECT_EQ(a->ip, (IpFields{"192", "168", "1", "7"}));

    // Only 77 88 in this order marks a listed reply: swapped, or one of the two alone, does not.
    for (const auto& [b18, b19] : {std::pair{0x88, 0x77}, {0x77, 0x00}, {0x00, 0x88}, {0x77, 0x77}}) {
        Bytes r = Reply(50, mac, ip, false);
        r[18] = uint8_t(b18), r[19] = uint8_t(b19);
        EXPECT_FALSE(ParseSearchReply(r)->listed) << std::hex << b18 << " " << b19;
    }
}

TEST(SwitcherList, SortedByTextWithPairsKept)
{
    CSwitcherList list;
    // Text order, not numeric: .100 before .20 before .3.
    EXPECT_EQ(list.Add("192.168.1.3", "000000000003"), 0u);
    EXPECT_EQ(list.Add("192.168.1.20", "000000000020"), 0u);
    EXPECT_EQ(list.Add("192.168.1.100", "000000000100"), 0u);
    EXPECT_EQ(list.Add("10.0.0.1", "00000000000A"), 0u);
    EXPECT_EQ(list.Add("192.168.1.20", "0000000000F0"), 3u);  // an equal address goes after
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"10.0.0.1", "00000000000A"},     {"192.168.1.100", "000000000100"}, {"192.168.1.20", "000000000020"},
        {"192.168.1.20", "0000000000F0"}, {"192.168.1.3", "000000000003"},
    };
    ASSERT_EQ(list.Size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(list.At(i).ip, expected[i].first) << i;
        EXPECT_EQ(list.At(i).mac, expected[i].second) << i;
    }
}

TEST(SwitcherList, HoldsAtMost256AndCountsTheRest)
{
    CSwitcherList list;
    for (int i = 0; i < 257; ++i)
        list.Add("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256), "M" + std::to_string(i));
    EXPECT_EQ(list.Size(), 256u);
    EXPECT_EQ(list.Dropped(), 1u);
    EXPECT_FALSE(list.Add("1.1.1.1", "X"));  // even one that would sort first
    EXPECT_EQ(list.At(0).ip, "10.0.0.0");
    EXPECT_EQ(list.Dropped(), 2u);
    list.Clear();
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(list.Dropped(), 0u);
}

TEST(TextFields, SplitAddressAndMac)
{
    EXPECT_EQ(SplitAddress("192.168.1.100"), (IpFields{"192", "168", "1", "100"}));
    EXPECT_EQ(SplitAddress("1.2.3.4.5"), (IpFields{"1", "2", "3", "4.5"}));  // the rest goes last
    EXPECT_EQ(SplitAddress("1.2"), (IpFields{"1", "2", "", ""}));
    EXPECT_EQ(SplitAddress(""), (IpFields{"", "", "", ""}));
    EXPECT_EQ(SplitMac("02C51A000BFF"), (MacFields{"02", "C5", "1A", "00", "0B", "FF"}));
    EXPECT_EQ(SplitMac("02C5A"), (MacFields{"02", "C5", "A", "", "", ""}));
    EXPECT_EQ(MacText(SplitMac("02C51A000BFF")), "02C51A000BFF");
}

TEST(TextFields, AddressFieldValues)
{
    const struct {
        const char* text;
        int value;  // -1: not an address part
    } cases[] = {{"0", 0}, {"255", 255}, {"007", 7}, {"256", -1}, {"", -1}, {"1000", -1},
                 {"0255", -1}, {"1a", -1}, {" 1", -1}, {"-1", -1}};
    for (const auto& c : cases) {
        const auto v = AddressFieldValue(c.text);
        EXPECT_EQ(v ? int(*v) : -1, c.value) << '"' << c.text << '"';
    }
}

TEST(TextFields, ParseIpv4)
{
    EXPECT_EQ(ParseIpv4(u"192.168.1.100"), 0xC0A80164u);
    EXPECT_EQ(ParseIpv4(u"0.0.0.0"), 0u);
    for (const char16_t* bad : {u"", u"192.168.1", u"192.168.1.256", u"1.2.3.4.5", u"a.b.c.d", u"1..2.3"})
        EXPECT_FALSE(ParseIpv4(bad)) << "a bad address is parsed";
    // Each character counts with its low byte only (U+0131 is 0x31, "1").
    EXPECT_EQ(ParseIpv4(u"\u0131.2.3.4"), 0x01020304u);
}

// Where CORVANE_UDP_TO and --udp-to aim the search and the configuration.
TEST(TextFields, ParseUdpTarget)
{
    const struct {
        const char* text;
        uint32_t ip;  // 0: refused
        uint16_t search, config, local;
    } cases[] = {
        {"127.0.0.1", 0x7F000001u, 30600, 30601, 30600},
        {"127.0.0.1:40000,40001", 0x7F000001u, 40000, 40001, 0},
        {"10.1.2.3:1,65535", 0x0A010203u, 1, 65535, 0},
        {"127.0.0.1:40000", 0, 0, 0, 0},
        {"127.0.0.1:0,40001", 0, 0, 0, 0},
        {"127.0.0.1:40000,65536", 0, 0, 0, 0},
        {"127.0.0.1:x,1", 0, 0, 0, 0},
        {"localhost", 0, 0, 0, 0},
        {"127.0.0.1 ", 0, 0, 0, 0},
        {"", 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto t = ParseUdpTarget(c.text, error);
        ASSERT_EQ(t.has_value(), c.ip != 0);
        if (!t) {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(t->ipv4, c.ip);
        EXPECT_EQ(t->ports.searchRemote, c.search);
        EXPECT_EQ(t->ports.configRemote, c.config);
        EXPECT_EQ(t->ports.searchLocal, c.local);
    }
}

// What --host, a hosts file and --port take.
TEST(TextFields, ParseHostAndPortName)
{
    const struct {
        const char* text;
        bool ok;
        uint16_t port;
    } hosts[] = {
        {"192.168.1.20", true, 8000}, {"10.0.0.1:8123", true, 8123}, {"10.0.0.1:", false, 0},
        {"10.0.0.1:0", false, 0},     {"10.0.0.1:65536", false, 0},  {"switcher.local", false, 0},
        {"10.0.0", false, 0},         {"1.2.3.4:80x", false, 0},     {"", false, 0},
    };
    for (const auto& h : hosts) {
        SCOPED_TRACE(h.text);
        std::string error;
        const auto parsed = ParseHost(h.text, &error);
        ASSERT_EQ(parsed.has_value(), h.ok);
        if (h.ok) {
            EXPECT_EQ(parsed->port, h.port);
            EXPECT_EQ(HostWithPort(h.text), std::string(h.text).substr(0, std::string(h.text).find(':')) + ":" +
                                                std::to_string(h.port));
        } else {
            EXPECT_EQ(HostWithPort(h.text), h.text) << "what is not an address stays as given";
        }
        if (!h.ok) {
            EXPECT_NE(error.find(std::string("'") + h.text + "'"), std::string::npos) << error;
        }
    }
    // What may be looked up as a host name.
    const std::string label63(63, 'a'), long253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    const struct {
        std::string text;
        bool name;
    } names[] = {
        {"switcher-lobby.local", true}, {label63 + ".lan", true}, {std::string(64, 'a') + ".lan", false},
        {long253, true},                {long253 + "c", false},   {"-lobby", false},
        {"lobby-", false},              {"lobby-.lan", false},    {"lobby..lan", false},
        {".lobby", false},              {"10.0.0", false},        {"3com", true},
        {"lobby_1", false},             {"", false},
    };
    for (const auto& n : names)
        EXPECT_EQ(IsHostName(n.text), n.name) << n.text;
    const struct {
        const char* text;
        unsigned number;     // a COM name
        const char* device;  // a path; nullptr: refused
    } ports[] = {
        {"COM5", 5, ""}, {"com255", 255, ""}, {"COM0", 0, nullptr}, {"COM256", 0, nullptr},
        {"COM", 0, nullptr}, {"COM1x", 0, nullptr}, {"/dev/ttyUSB0", 0, "/dev/ttyUSB0"}, {"ttyUSB0", 0, nullptr},
    };
    for (const auto& p : ports) {
        SCOPED_TRACE(p.text);
        std::string error;
        const auto parsed = ParsePortName(p.text, error);
        ASSERT_EQ(parsed.has_value(), p.device != nullptr) << error;
        if (parsed) {
            EXPECT_EQ(parsed->number, p.number);
            EXPECT_EQ(parsed->device, p.device);
        }
    }
}

struct ConfigCase {
    const char* name;
    int mode;
    IpFields ip;
    MacFields current, fresh;
    std::vector<std::pair<std::size_t, Bytes>> expect;  // offset, bytes there
};

TEST(ConfigRequest, Table)
{
    const MacFields mac = {"02", "C5", "1A", "00", "00", "01"};
    const ConfigCase cases[] = {
        {"automatic: no address, flag 01, kind 16", IP_MODE_AUTO, {"192", "168", "1", "100"}, mac, mac,
         {{0, {0x02, 0xC5, 0x1A, 0x00, 0x00, 0x01}},
          {6, Bytes(12, 0x00)},
          {18, {0x01}},
          {19, {0x02, 0xC5, 0x1A, 0x00, 0x00, 0x01}},
          {25, {0x16}},
          {74, {0xFF}}}},
        {"automatic ignores address fields that are no address", IP_MODE_AUTO, {"", "999", "x", ""}, mac, mac,
         {{6, Bytes(12, 0x00)}, {18, {0x01}}}},
        {"static: address, gateway .1, mask /24", IP_MODE_STATIC, {"192", "168", "1", "100"}, mac, mac,
         {{6, {0xC0, 0xA8, 0x01, 0x64, 0xC0, 0xA8, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0x00}},
          {18, {0x00}},
          {25, {0x17}},
          {74, {0xFF}}}},
        {"odd MAC fields", IP_MODE_AUTO, {}, {"ABC", "1", "", "g0", "0a", "Ff"}, {"1a2B", "zz", "12", "", "7", "FE"},
         {{0, {0xAB, 0x00, 0x00, 0x00, 0x0A, 0xFF}}, {19, {0x2B, 0x00, 0x12, 0x00, 0x00, 0xFE}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = BuildConfigRequest(c.mode, c.ip, c.current, c.fresh);
        ASSERT_TRUE(r);
        for (const auto& [at, bytes] : c.expect)
            EXPECT_EQ(Bytes(r->begin() + at, r->begin() + at + bytes.size()), bytes) << "at " << at;
        EXPECT_EQ(Bytes(r->begin() + 26, r->begin() + 74), Bytes(48, 0x00));
        // The plain sum, not its complement.
        EXPECT_EQ((*r)[75], uint8_t(std::accumulate(r->begin(), r->begin() + 75, 0u)));
    }
}

TEST(ConfigRequest, StaticAddressThatIsNoneIsNotBuilt)
{
    const MacFields mac = {"02", "C5", "1A", "00", "00", "01"};
    for (const IpFields& ip : {IpFields{"192", "168", "1", ""}, IpFields{"192", "168", "1", "256"},
                               IpFields{"1000", "0", "0", "1"}, IpFields{"", "", "", ""}})
        EXPECT_FALSE(BuildConfigRequest(IP_MODE_STATIC, ip, mac, mac)) << ip[0] << "." << ip[1] << "." << ip[2] << "." << ip[3];
}

TEST(ConfigReply, AcceptedOnlyWhenLongEnoughAndByte74Zero)
{
    Bytes ok(76, 0xFF);
    ok[74] = 0x00;
    EXPECT_TRUE(ConfigReplyAccepted(ok));
    Bytes longer(200, 0x00);
    EXPECT_TRUE(ConfigReplyAccepted(longer));
    Bytes refused = ok;
    refused[74] = 0x01;
    EXPECT_FALSE(ConfigReplyAccepted(refused));
    EXPECT_FALSE(ConfigReplyAccepted(Bytes(75, 0x00)));
    EXPECT_FALSE(ConfigReplyAccepted({}));
}

}  // namespace
}  // namespace corvane
