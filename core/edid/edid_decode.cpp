#include "core/edid/edid_decode.h"

#include <cstdio>
#include <iterator>

namespace corvane {

namespace {

constexpr std::size_t kBlock = 128;
constexpr std::size_t kDescriptors[] = {54, 72, 90, 108};
constexpr std::size_t kDescriptorSize = 18;
constexpr uint8_t kTagCta861 = 0x02;
constexpr uint32_t kOuiHdmi = 0x000C03;
constexpr uint32_t kOuiHdmiForum = 0xC45DD8;

// The bytes as an EDID: anything past the end reads as 0, so no field can read out of bounds.
class CBytes {
public:
    explicit CBytes(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint8_t operator[](std::size_t i) const { return i < m_bytes.size() ? m_bytes[i] : 0; }
    bool Has(std::size_t from, std::size_t count) const { return from + count <= m_bytes.size(); }

private:
    std::span<const uint8_t> m_bytes;
};

char Letter(unsigned code) { return code >= 1 && code <= 26 ? static_cast<char>('A' + code - 1) : '?'; }

// A descriptor's 13 text bytes up to the line feed, trailing blanks dropped.
std::string DescriptorText(const CBytes& e, std::size_t at)
{
    std::string text;
    for (std::size_t i = 5; i < kDescriptorSize; ++i) {
        const uint8_t c = e[at + i];
        if (c == 0x0A)
            break;
        text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::optional<EdidTiming> DetailedTiming(const CBytes& e, std::size_t at)
{
    const uint32_t clock10k = e[at] | (e[at + 1] << 8);
    if (clock10k == 0)
        return std::nullopt;  // a display descriptor, not a timing
    EdidTiming t;
    t.pixelClockKhz = clock10k * 10;
    t.width = e[at + 2] | ((e[at + 4] & 0xF0) << 4);
    const int hBlank = e[at + 3] | ((e[at + 4] & 0x0F) << 8);
    const int vActive = e[at + 5] | ((e[at + 7] & 0xF0) << 4);
    const int vBlank = e[at + 6] | ((e[at + 7] & 0x0F) << 8);
    t.interlaced = (e[at + 17] & 0x80) != 0;
    t.height = t.interlaced ? 2 * vActive : vActive;
    const uint64_t hTotal = static_cast<uint64_t>(t.width) + hBlank;
    const uint64_t vTotal = static_cast<uint64_t>(vActive) + vBlank;
    // An interlaced field is half a line longer than its active and blank lines.
    const uint64_t halfLines = t.interlaced ? 2 * vTotal + 1 : 2 * vTotal;
    const uint64_t clockHz = static_cast<uint64_t>(t.pixelClockKhz) * 1000;
    if (hTotal != 0 && halfLines != 0)
        t.refreshMilliHz = static_cast<uint32_t>((clockHz * 2000 * 2 + hTotal * halfLines) / (2 * hTotal * halfLines));
    return t;
}

void DecodeCta(const CBytes& e, EdidInfo& info)
{
    const std::size_t base = kBlock;
    info.ctaRevision = e[base + 1];
    info.basicAudio = (e[base + 3] & 0x40) != 0;
    // Data blocks lie between byte 4 and the offset of the first timing (byte 2); 0 means none.
    std::size_t end = e[base + 2];
    if (end < 4)
        return;
    if (end > kBlock - 1)
        end = kBlock - 1;  // byte 127 is the checksum
    for (std::size_t p = 4; p < end;) {
        const uint8_t head = e[base + p];
        const unsigned tag = head >> 5;
        const std::size_t len = head & 0x1F;
        const std::size_t payload = base + p + 1;
        if (p + 1 + len > end)
            break;  // a block that runs past the collection is not read
        if (tag == 1) {  // audio: three bytes per short audio descriptor
            for (std::size_t i = 0; i + 3 <= len; i += 3) {
                EdidAudioFormat a;
                a.code = (e[payload + i] >> 3) & 0x0F;
                a.channels = (e[payload + i] & 0x07) + 1;
                a.rates = e[payload + i + 1] & 0x7F;
                info.audio.push_back(a);
            }
        } else if (tag == 3 && len >= 3) {  // vendor-specific: the OUI, least significant byte first
            const uint32_t oui = e[payload] | (e[payload + 1] << 8) | (e[payload + 2] << 16);
            if (oui == kOuiHdmi)
                info.hdmi = true;
            else if (oui == kOuiHdmiForum)
                info.hdmiForum = true;
        }
        p += 1 + len;
    }
}

std::string Format(const char* fmt, auto... args)
{
    char text[96];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

}  // namespace

EdidInfo DecodeEdid(std::span<const uint8_t> bytes)
{
    const CBytes e(bytes);
    EdidInfo info;
    const unsigned id = (e[8] << 8) | e[9];
    info.manufacturer = {Letter((id >> 10) & 0x1F), Letter((id >> 5) & 0x1F), Letter(id & 0x1F)};
    info.productCode = static_cast<uint16_t>(e[10] | (e[11] << 8));
    info.serialNumber = static_cast<uint32_t>(e[12]) | (static_cast<uint32_t>(e[13]) << 8) |
                        (static_cast<uint32_t>(e[14]) << 16) | (static_cast<uint32_t>(e[15]) << 24);
    info.week = e[16];
    info.year = e[17] ? 1990 + e[17] : 0;
    info.versionMajor = e[18];
    info.versionMinor = e[19];

    info.preferred = DetailedTiming(e, kDescriptors[0]);
    for (std::size_t at : kDescriptors) {
        if (e[at] != 0 || e[at + 1] != 0)
            continue;  // a timing
        if (e[at + 3] == 0xFC && info.displayName.empty())
            info.displayName = DescriptorText(e, at);
        else if (e[at + 3] == 0xFF && info.serialText.empty())
            info.serialText = DescriptorText(e, at);
    }

    info.extensionCount = e[126];
    if (info.extensionCount == 0)
        return info;
    if (!e.Has(kBlock, kBlock)) {
        info.extension = EdidExtension::Missing;
        return info;
    }
    info.extensionTag = e[kBlock];
    info.extension = info.extensionTag == kTagCta861 ? EdidExtension::Cta861 : EdidExtension::Other;
    if (info.extension == EdidExtension::Cta861)
        DecodeCta(e, info);
    return info;
}

std::string AudioFormatName(uint8_t code)
{
    static const char* const kNames[] = {nullptr,    "LPCM",  "AC-3",   "MPEG-1",       "MP3",
                                         "MPEG-2",   "AAC",   "DTS",    "ATRAC",        "One Bit Audio",
                                         "E-AC-3",   "DTS-HD", "MAT",   "DST",          "WMA Pro",
                                         "extended"};
    if (code < std::size(kNames) && kNames[code])
        return kNames[code];
    return "format " + std::to_string(code);
}

std::vector<std::string> SummarizeEdid(const EdidInfo& info)
{
    std::vector<std::string> lines;
    if (!info.displayName.empty())
        lines.push_back("Display: " + info.displayName);
    lines.push_back("Maker: " + info.manufacturer + Format(", product code 0x%04X", info.productCode));
    std::string serial;
    if (!info.serialText.empty())
        serial = info.serialText;
    if (info.serialNumber != 0)
        serial += (serial.empty() ? "" : ", number ") + std::to_string(info.serialNumber);
    if (!serial.empty())
        lines.push_back("Serial: " + serial);
    if (info.year != 0) {
        if (info.week == 0xFF)
            lines.push_back("Model year: " + std::to_string(info.year));
        else if (info.week >= 1 && info.week <= 54)
            lines.push_back(Format("Made: week %d of %d", info.week, info.year));
        else
            lines.push_back("Made: " + std::to_string(info.year));
    }
    lines.push_back(Format("EDID %u.%u, %u extension block%s", info.versionMajor, info.versionMinor,
                           info.extensionCount, info.extensionCount == 1 ? "" : "s"));
    if (info.preferred) {
        const EdidTiming& t = *info.preferred;
        const uint32_t centiHz = (t.refreshMilliHz + 5) / 10;
        lines.push_back(Format("Preferred timing: %dx%d%s at %u.%02u Hz", t.width, t.height, t.interlaced ? "i" : "",
                               centiHz / 100, centiHz % 100));
    }
    switch (info.extension) {
    case EdidExtension::None: lines.push_back("Extension: none"); break;
    case EdidExtension::Missing: lines.push_back("Extension: announced but not present"); break;
    case EdidExtension::Other: lines.push_back(Format("Extension: unknown (tag 0x%02X)", info.extensionTag)); break;
    case EdidExtension::Cta861: {
        std::string cta = Format("Extension: CTA-861 revision %u", info.ctaRevision);
        if (info.hdmi)
            cta += ", HDMI";
        if (info.hdmiForum)
            cta += ", HDMI Forum";
        lines.push_back(cta);
        std::string audio;
        for (const EdidAudioFormat& a : info.audio)
            audio += (audio.empty() ? "" : ", ") + AudioFormatName(a.code) + " " + std::to_string(a.channels) + " ch";
        if (audio.empty())
            audio = info.basicAudio ? "basic only" : "none";
        lines.push_back("Audio: " + audio);
        break;
    }
    }
    return lines;
}

}  // namespace corvane
