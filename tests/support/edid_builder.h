// EDIDs with known fields for tests: a base block with maker, product, serial, date, name and
// serial descriptors and a preferred timing, and optionally a CTA-861 extension with audio
// formats and an HDMI vendor block. Both blocks come out sealed (sum 0).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/edid_block.h"

namespace corvane::test {

using EdidImage = sim::Edid;

struct TimingSpec {
    uint16_t clock10kHz = 14850;  // 148.5 MHz
    int hActive = 1920, hBlank = 280, vActive = 1080, vBlank = 45;
    bool interlaced = false;
};

struct EdidFields {
    std::string maker = "ZQX";
    uint16_t product = 0xA1B2;
    uint32_t serial = 0x01020304;
    uint8_t week = 12;
    uint8_t yearByte = 29;  // 2019
    std::string name = "OFFICE 27";
    std::string serialText = "SN0042";
    TimingSpec timing{};
    bool cta = true;
    // Short audio descriptors (3 bytes each) and whether an HDMI vendor block follows them.
    std::vector<uint8_t> sads = {0x09, 0x07, 0x07, 0x15, 0x07, 0x50, 0x3D, 0x07, 0xC0};
    bool hdmi = true;
};

using sim::SealEdidBlock;

inline void PutTiming(EdidImage& e, std::size_t at, const TimingSpec& t)
{
    const int vLines = t.interlaced ? t.vActive / 2 : t.vActive;
    e[at] = static_cast<uint8_t>(t.clock10kHz);
    e[at + 1] = static_cast<uint8_t>(t.clock10kHz >> 8);
    e[at + 2] = static_cast<uint8_t>(t.hActive);
    e[at + 3] = static_cast<uint8_t>(t.hBlank);
    e[at + 4] = static_cast<uint8_t>(((t.hActive >> 8) << 4) | (t.hBlank >> 8));
    e[at + 5] = static_cast<uint8_t>(vLines);
    e[at + 6] = static_cast<uint8_t>(t.vBlank);
    e[at + 7] = static_cast<uint8_t>(((vLines >> 8) << 4) | (t.vBlank >> 8));
    e[at + 17] = static_cast<uint8_t>(0x18 | (t.interlaced ? 0x80 : 0));
}

inline EdidImage BuildEdid(const EdidFields& s = {})
{
    EdidImage e{};
    std::copy(sim::kEdidHeader.begin(), sim::kEdidHeader.end(), e.begin());
    auto letter = [&](std::size_t i) { return i < s.maker.size() ? unsigned(s.maker[i] - 'A' + 1) & 0x1F : 0u; };
    const unsigned id = (letter(0) << 10) | (letter(1) << 5) | letter(2);
    e[8] = static_cast<uint8_t>(id >> 8);
    e[9] = static_cast<uint8_t>(id);
    e[10] = static_cast<uint8_t>(s.product);
    e[11] = static_cast<uint8_t>(s.product >> 8);
    for (int i = 0; i < 4; ++i)
        e[12 + i] = static_cast<uint8_t>(s.serial >> (8 * i));
    e[16] = s.week;
    e[17] = s.yearByte;
    e[18] = 1;
    e[19] = 3;
    e[20] = 0x80;
    PutTiming(e, 54, s.timing);
    sim::PutEdidText(e, 72, 0xFC, s.name);
    sim::PutEdidText(e, 90, 0xFF, s.serialText);
    sim::PutEdidText(e, 108, 0xFE, "");
    e[126] = s.cta ? 1 : 0;
    SealEdidBlock(e, 0);
    if (!s.cta)
        return e;
    std::size_t p = 132;
    e[128] = 0x02;
    e[129] = 0x03;
    e[131] = 0x40;  // basic audio
    e[p++] = 0x42;  // video: two VICs
    e[p++] = 16;
    e[p++] = 4;
    if (!s.sads.empty()) {
        e[p++] = static_cast<uint8_t>(0x20 | s.sads.size());
        for (uint8_t b : s.sads)
            e[p++] = b;
    }
    if (s.hdmi)
        for (uint8_t b : {0x65, 0x03, 0x0C, 0x00, 0x10, 0x00})
            e[p++] = b;
    e[130] = static_cast<uint8_t>(p - 128);
    PutTiming(e, p, s.timing);
    SealEdidBlock(e, 128);
    return e;
}

}  // namespace corvane::test
