#include "sim/switcher.h"

#include <algorithm>
#include <cstdio>

namespace corvane::sim {
namespace {

constexpr uint8_t kRefused = 0xEE;

Frame Reply(std::initializer_list<uint8_t> body) { return MakeFrame(body); }

// The five frames of a factory reset, bytes 2 to 6, in the order the panel sends them.
constexpr std::array<std::array<uint8_t, 5>, 5> kResetSteps{{
    {0x02, 0x03, 0x03, 0x00, 0x01},
    {0x0A, 0x06, 0x02, 0x00, 0x01},
    {0x0A, 0x0C, 0x01, 0x00, 0x01},
    {0x03, 0x08, 0xF0, 0x00, 0x00},
    {0x03, 0x02, 0x04, 0xF0, 0x03},
}};

// The configuration datagrams' checksum: the plain 8-bit sum, not its two's complement.
uint8_t PlainSum(std::span<const uint8_t> bytes)
{
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return static_cast<uint8_t>(sum);
}

std::string Hex(std::size_t v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%zX", v);
    return buf;
}

}  // namespace

Frame RefusalFor(const Frame& c)
{
    return MakeFrame({c[2], c[3], kRefused, 0x00, kRefused, kRefused, kRefused, kRefused, kRefused});
}

bool AnnouncesBlock(const Frame& c)
{
    if (c[2] == 0x03 && (c[3] == 0x06 || c[3] == 0x07) && c[4] == 0x56)
        return true;  // EDID file data header
    return c[2] == 0x20 && c[3] == 0x01 && (c[4] == 0xAA || c[4] == 0x56);  // firmware packet
}

CSwitcher::CSwitcher(SwitcherSettings settings)
    : m_settings(std::move(settings)),
      m_inputSignal(m_settings.inputSignal),
      m_outputSignal(m_settings.outputSignal),
      m_route(m_settings.route),
      m_beep(m_settings.beep),
      m_dvi(m_settings.dvi),
      m_mac(m_settings.mac),
      m_ip(m_settings.ip),
      m_mask(m_settings.mask),
      m_gateway(m_settings.gateway),
      m_dhcp(m_settings.dhcp)
{
    for (int in = 1; in <= kInputs; ++in)
        SetEdid(in, kEdidIndexDefault, PresetEdid(kEdidIndexDefault));
}

void CSwitcher::Note(const std::string& text) const
{
    if (m_note)
        m_note(text);
}

void CSwitcher::SetEdid(int input, uint8_t index, const Edid& data)
{
    m_edidIndex[input - 1] = index;
    m_edid[input - 1] = data;
    if (m_edidChanged)
        m_edidChanged(input, index, data);
}

void CSwitcher::FactoryReset()
{
    m_beep = m_settings.beep;
    m_dvi = m_settings.dvi;
    m_route = m_settings.route;
    for (int in = 1; in <= kInputs; ++in)
        SetEdid(in, kEdidIndexDefault, PresetEdid(kEdidIndexDefault));
    m_fileTarget = 0;
    ++m_resets;
    Note("factory settings restored");
}

bool CSwitcher::Rebooting(int64_t nowMs)
{
    if (!m_rebootUntil)
        return false;
    if (nowMs < *m_rebootUntil)
        return true;
    m_rebootUntil.reset();
    Note("reboot complete");
    return false;
}

// A reset step counts when it follows the one before it; a repeated step keeps the count, any
// other frame ends the sequence. Step 1 is also an ordinary route set, step 2 a route to
// output 2, steps 4 and 5 an EDID preset: each has its own effect as well.
void CSwitcher::TrackReset(const Frame& c)
{
    int step = 0;
    for (std::size_t k = 0; k < kResetSteps.size(); ++k)
        if (std::equal(kResetSteps[k].begin(), kResetSteps[k].end(), c.begin() + 2))
            step = static_cast<int>(k) + 1;
    if (step == 1)
        m_resetStep = 1;
    else if (step != 0 && (step == m_resetStep + 1 || step == m_resetStep))
        m_resetStep = step;
    else
        m_resetStep = 0;
}

std::optional<Frame> CSwitcher::OnCommand(const Frame& c, const Block* block, int64_t nowMs)
{
    if (Rebooting(nowMs))
        return std::nullopt;
    const int before = m_resetStep;
    TrackReset(c);
    if (before == 5 && m_resetStep == 5)  // the last step again: the reset is done already
        return Reply({0x03, 0x02, 0x00, 0x00, c[6], c[7]});

    std::optional<Frame> reply;
    switch (c[2]) {
    case 0x01:
        if (c[3] == 0x01 && m_fw == Fw::Ready && m_fwPackets > 0 && c[10] == 0x00) {
            // The reboot check after a transfer whose last packet carried no end mark (a
            // one-packet image): the transfer is over, the switcher restarts now.
            CompleteUpgrade(nowMs);
            return std::nullopt;
        }
        reply = Status(c);
        break;
    case 0x02: reply = Routing(c); break;
    case 0x03: reply = EdidCommand(c, block); break;
    case 0x06:
    case 0x07:
    case 0x0A: reply = Auxiliary(c); break;
    case 0x20: reply = Firmware(c, block, nowMs); break;
    default: break;
    }
    if (m_resetStep == 5 && before == 4) {
        if (reply && reply->at(4) == 0x00)
            FactoryReset();
        else
            m_resetStep = 4;  // not carried out: a repetition may still complete it
    }
    return reply;
}

std::optional<Frame> CSwitcher::Status(const Frame& c)
{
    const uint8_t n = c[4];
    const uint8_t tag = c[10] == 0xCC ? 0xCC : 0x00;  // the device queries carry 0xCC
    switch (c[3]) {
    case 0x01: {
        Frame r = Reply({0x01, 0x01, m_settings.deviceType, 0, 0, 0, 0, 0, tag});
        if (tag == 0x00) {
            for (const auto& [pos, value] : m_settings.rebootReply)
                if (pos < 12)
                    r[pos] = value;
            SealFrame(r);
        }
        return r;
    }
    case 0x02: return Reply({0x01, 0x02, m_settings.inputs, 0, m_settings.outputs, 0, 0, 0, tag});
    case 0x03: return Reply({0x01, 0x03, m_settings.versionMajor, 0, m_settings.versionMinor, 0, 0, 0, tag});
    case 0x06: {
        const auto& b = m_settings.build;
        auto u = [&](int i) { return static_cast<uint8_t>(b[i]); };
        return Reply({0x01, 0x06, u(0), u(1), u(2), u(3), u(4), u(5), u(6), u(7)});
    }
    case 0x04:
        if (n < 1 || n > kInputs)
            return RefusalFor(c);
        return Reply({0x01, 0x04, n, 0, static_cast<uint8_t>(m_inputSignal[n - 1] ? 0x00 : 0x01)});
    case 0x05:
        if (n < 1 || n > kOutputs)
            return RefusalFor(c);
        return Reply({0x01, 0x05, n, 0, static_cast<uint8_t>(m_outputSignal[n - 1] ? 0x00 : 0x01)});
    case 0x0B: return Reply({0x01, 0x0B, 0x00, 0, static_cast<uint8_t>(m_beep ? 0x00 : 0x01)});
    case 0x0C:
        if (n == 0)  // DVI compatibility
            return Reply({0x01, 0x0C, 0x00, 0, static_cast<uint8_t>(m_dvi ? 0x01 : 0x00)});
        if (n > kInputs)
            return RefusalFor(c);
        return Reply({0x01, 0x0C, n, 0, m_edidIndex[n - 1]});
    default: return std::nullopt;
    }
}

std::optional<Frame> CSwitcher::Routing(const Frame& c)
{
    if (c[3] == 0x01) {  // route query
        const uint8_t out = c[4];
        if (out < 1 || out > kOutputs)
            return RefusalFor(c);
        return Reply({0x02, 0x01, out, 0, m_route[out - 1]});
    }
    if (c[3] == 0x03) {  // route set: byte 4 input, byte 6 output
        const uint8_t in = c[4], out = c[6];
        if (in < 1 || in > kInputs || out < 1 || out > kOutputs)
            return RefusalFor(c);
        m_route[out - 1] = in;
        return Reply({0x02, 0x03, 0x00, 0, out});
    }
    return std::nullopt;
}

std::optional<Frame> CSwitcher::Auxiliary(const Frame& c)
{
    if (c[2] == 0x06 && c[3] == 0x01) {  // beep set: 0F on, F0 off
        if (c[4] != 0x0F && c[4] != 0xF0)
            return RefusalFor(c);
        m_beep = c[4] == 0x0F;
        return Reply({0x06, 0x01, 0x00, 0, static_cast<uint8_t>(m_beep ? 0xDD : 0x00)});
    }
    if (c[2] == 0x07 && c[3] == 0x01) {  // DVI compatibility set: 0F on, F0 off
        if (c[4] != 0x0F && c[4] != 0xF0)
            return RefusalFor(c);
        m_dvi = c[4] == 0x0F;
        return Reply({0x07, 0x01, 0x00, 0, static_cast<uint8_t>(m_dvi ? 0x00 : 0xDD)});
    }
    if (c[2] != 0x0A)
        return std::nullopt;
    switch (c[3]) {
    case 0x06:  // route an input to output 2
        if (c[4] < 1 || c[4] > kInputs)
            return RefusalFor(c);
        m_route[1] = c[4];
        return Reply({0x0A, 0x06, 0x00, 0, 0x01});
    case 0x0C:  // audio and display options: acknowledged, no state of their own here
    case 0x0E:
    case 0x0F: return Reply({0x0A, c[3], 0x00, 0, 0x01});
    case 0x01: return Reply({0x0A, 0x01, 0x00, 0, 0x00});
    default: return std::nullopt;
    }
}

std::optional<Frame> CSwitcher::EdidCommand(const Frame& c, const Block* block)
{
    auto done = [&] { return Reply({0x03, c[3], 0x00, 0x00, c[6], c[7]}); };
    auto presetOk = [&] { return m_edidMode == kEdidModePreset && c[4] >= 1 && c[4] <= kEdidPresets; };

    if (c[4] == 0x56 && (c[3] == 0x06 || c[3] == 0x07)) {  // file data header with its block
        const bool all = c[3] == 0x06;
        const bool targetOk = all ? m_fileTarget == 5 : (m_fileTarget >= 1 && m_fileTarget <= kInputs);
        if (!block || !targetOk)
            return RefusalFor(c);
        if (!BlockChecksumOk(*block)) {
            Note("EDID block checksum wrong: refused");
            return RefusalFor(c);
        }
        Edid data;
        std::copy(block->begin() + 1, block->end(), data.begin());
        for (int in = 1; in <= kInputs; ++in)
            if (all || in == m_fileTarget)
                SetEdid(in, kEdidIndexFile, data);
        m_fileTarget = 0;
        return done();
    }

    switch (c[3]) {
    case 0x08:  // set request; byte 10 names the kind of change
        if (c[10] != kEdidModePreset && c[10] != kEdidModeCopy && c[10] != kEdidModeFile)
            return RefusalFor(c);
        m_edidMode = c[10];
        m_fileTarget = 0;
        return Reply({0x03, 0x08, 0x00});
    case 0x02:  // preset p to input n
        if (!presetOk() || c[6] < 1 || c[6] > kInputs)
            return RefusalFor(c);
        SetEdid(c[6], c[4] - 1, PresetEdid(c[4] - 1));
        return done();
    case 0x01:  // preset p to all inputs
        if (!presetOk())
            return RefusalFor(c);
        for (int in = 1; in <= kInputs; ++in)
            SetEdid(in, c[4] - 1, PresetEdid(c[4] - 1));
        return done();
    case 0x09:  // default to all inputs
        if (m_edidMode != kEdidModePreset)
            return RefusalFor(c);
        for (int in = 1; in <= kInputs; ++in)
            SetEdid(in, kEdidIndexDefault, PresetEdid(kEdidIndexDefault));
        return done();
    case 0x04:  // copy the display EDID of output o to input n
    case 0x03: {
        const uint8_t o = c[4];
        const bool all = c[3] == 0x03;
        if (m_edidMode != kEdidModeCopy || o < 1 || o > kOutputs || (!all && (c[6] < 1 || c[6] > kInputs)))
            return RefusalFor(c);
        if (!m_outputSignal[o - 1]) {
            Note("no display on the output to copy from: refused");
            return RefusalFor(c);
        }
        for (int in = 1; in <= kInputs; ++in)
            if (all || in == c[6])
                SetEdid(in, static_cast<uint8_t>(kEdidIndexCopiedA + o - 1), DisplayEdid(o));
        return done();
    }
    case 0x07:  // file data for input n follows
        if (m_edidMode != kEdidModeFile || c[4] < 1 || c[4] > kInputs)
            return RefusalFor(c);
        m_fileTarget = c[4];
        return Reply({0x03, 0x07, 0xAA, 0x00});
    case 0x06:  // file data for all inputs follows
        if (m_edidMode != kEdidModeFile)
            return RefusalFor(c);
        m_fileTarget = 5;
        return Reply({0x03, 0x06, 0xAA, 0x00});
    default: return std::nullopt;
    }
}

std::optional<Frame> CSwitcher::Firmware(const Frame& c, const Block* block, int64_t nowMs)
{
    if (c[3] != 0x01)
        return std::nullopt;
    switch (c[4]) {
    case 0x01:  // upgrade request: a new transfer
        m_fw = Fw::Requested;
        m_fwBuffer.clear();
        m_fwNext = 0;
        m_fwPackets = 0;
        m_lastPacketHeader.reset();
        Note("firmware upgrade requested");
        return Reply({0x20, 0x01, 0xAA});
    case 0x80:  // erase
        if (m_fw != Fw::Requested && m_fw != Fw::Erased)
            return RefusalFor(c);
        m_fw = Fw::Erased;
        return Reply({0x20, 0x01, 0x00, 0, 0, 0, 0, 0, 0xEE});
    case 0x10:  // ready to receive
        if (m_fw != Fw::Erased && !(m_fw == Fw::Ready && m_fwPackets == 0))
            return RefusalFor(c);
        m_fw = Fw::Ready;
        return Reply({0x20, 0x01, 0x00, 0, 0, 0, 0, 0, 0x00});
    case 0xAA:
    case 0x56: break;
    default: return std::nullopt;
    }

    // A packet header and its block.
    if (m_fw != Fw::Ready || !block)
        return RefusalFor(c);
    if (!BlockChecksumOk(*block)) {
        Note("firmware block checksum wrong: refused");
        return RefusalFor(c);
    }
    const std::span<const uint8_t> data(block->data() + 1, kBlockDataSize);
    auto ack = [&] { return Reply({0x20, 0x01, 0x00, 0, 0, 0x01, 0x01, 0, m_lastControl}); };
    if (m_lastPacketHeader && *m_lastPacketHeader == c && std::equal(data.begin(), data.end(), m_lastPacketData.begin()))
        return ack();  // the panel repeats a packet whose acknowledgement it missed
    if (m_fwNext + kBlockDataSize > kFwMaxImage)
        return RefusalFor(c);

    if (m_fwBuffer.size() < m_fwNext + kBlockDataSize)
        m_fwBuffer.resize(m_fwNext + kBlockDataSize, 0xFF);
    std::copy(data.begin(), data.end(), m_fwBuffer.begin() + static_cast<std::ptrdiff_t>(m_fwNext));
    ++m_fwPackets;
    m_lastPacketHeader = c;
    std::copy(data.begin(), data.end(), m_lastPacketData.begin());
    const auto it = m_settings.packetControl.find(m_fwPackets);
    m_lastControl = it == m_settings.packetControl.end() ? kFwControlNone : it->second;
    m_fwNext += kBlockDataSize;
    if (m_lastControl == kFwControlSkip)
        m_fwNext += kFwSkipBytes;
    const Frame reply = ack();
    if (c[4] == 0x56)
        CompleteUpgrade(nowMs);
    return reply;
}

void CSwitcher::CompleteUpgrade(int64_t nowMs)
{
    m_image = std::move(m_fwBuffer);
    m_fwBuffer.clear();
    m_fw = Fw::Idle;
    m_lastPacketHeader.reset();
    ++m_upgrades;
    Note("firmware received: " + std::to_string(m_fwPackets) + " packets, " + Hex(m_image.size()) +
         " bytes; rebooting for " + std::to_string(m_settings.rebootMs) + " ms");
    if (m_imageDone)
        m_imageDone(m_image);
    if (m_settings.rebootMs > 0)
        m_rebootUntil = nowMs + m_settings.rebootMs;
}

std::vector<uint8_t> CSwitcher::SearchReply() const
{
    std::vector<uint8_t> r(kSearchReplySize, 0);
    std::copy(m_mac.begin(), m_mac.end(), r.begin());
    std::copy(m_ip.begin(), m_ip.end(), r.begin() + 6);
    std::copy(m_mask.begin(), m_mask.end(), r.begin() + 10);
    std::copy(m_gateway.begin(), m_gateway.end(), r.begin() + 14);
    r[18] = 0x77;  // 30600, the search port, most significant byte first
    r[19] = 0x88;
    r[20] = static_cast<uint8_t>(m_settings.tcpPort >> 8);
    r[21] = static_cast<uint8_t>(m_settings.tcpPort);
    r[22] = m_dhcp ? 1 : 0;
    r[23] = m_settings.deviceType;
    r[24] = m_settings.versionMajor;
    r[25] = m_settings.versionMinor;
    std::copy(m_settings.build.begin(), m_settings.build.end(), r.begin() + 26);
    return r;
}

std::optional<std::vector<uint8_t>> CSwitcher::OnSearch(std::span<const uint8_t> d, int64_t nowMs)
{
    if (Rebooting(nowMs) || d.size() != 1 || d[0] != kSearchRequest)
        return std::nullopt;
    return SearchReply();
}

std::optional<std::vector<uint8_t>> CSwitcher::OnConfig(std::span<const uint8_t> d, int64_t nowMs, bool refuse)
{
    // A broadcast for another switcher, or not a configuration request at all: not ours to answer.
    if (Rebooting(nowMs) || d.size() != kConfigSize || !std::equal(m_mac.begin(), m_mac.end(), d.begin()))
        return std::nullopt;

    std::vector<uint8_t> r(d.begin(), d.end());
    auto finish = [&r](uint8_t result) {
        r[74] = result;
        r[75] = PlainSum(std::span(r).first(75));
        return r;
    };
    const bool sumOk = PlainSum(d.first(75)) == d[75];
    const bool automatic = d[18] == 0x01 && d[25] == 0x16;
    const bool fixed = d[18] == 0x00 && d[25] == 0x17;
    const Ipv4 ip{d[6], d[7], d[8], d[9]};
    const Mac mac{d[19], d[20], d[21], d[22], d[23], d[24]};
    // A usable host address: not 0.x or multicast/reserved, not the network or broadcast
    // address of the /24 the request names.
    const bool ipOk = ip[0] != 0 && ip[0] < 224 && ip[3] != 0 && ip[3] != 255;
    // An individual address: no multicast bit, not all zero.
    const bool macOk = (mac[0] & 0x01) == 0 && std::any_of(mac.begin(), mac.end(), [](uint8_t b) { return b != 0; });

    if (refuse || !sumOk || !(automatic || fixed) || (fixed && !ipOk) || !macOk) {
        Note(sumOk ? "configuration refused" : "configuration checksum wrong: refused");
        return finish(0x01);
    }
    m_mac = mac;
    m_dhcp = automatic;
    if (automatic) {
        m_ip = m_settings.autoIp;
        m_mask = m_settings.mask;
        m_gateway = m_settings.gateway;
    } else {
        m_ip = ip;
        m_gateway = {d[10], d[11], d[12], d[13]};
        m_mask = {d[14], d[15], d[16], d[17]};
    }
    std::copy(m_mac.begin(), m_mac.end(), r.begin());
    std::copy(m_ip.begin(), m_ip.end(), r.begin() + 6);
    std::copy(m_gateway.begin(), m_gateway.end(), r.begin() + 10);
    std::copy(m_mask.begin(), m_mask.end(), r.begin() + 14);
    char text[96];
    std::snprintf(text, sizeof text, "network: %s %u.%u.%u.%u, MAC %02X:%02X:%02X:%02X:%02X:%02X",
                  automatic ? "automatic" : "static", m_ip[0], m_ip[1], m_ip[2], m_ip[3], m_mac[0], m_mac[1],
                  m_mac[2], m_mac[3], m_mac[4], m_mac[5]);
    Note(text);
    return finish(0x00);
}

}  // namespace corvane::sim
