// The EDIDs the switcher carries: fifteen presets (four timing families times three audio
// layouts for HDMI, three DVI ones without audio), its default and the displays on its outputs.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "sim/edid_block.h"
#include "sim/switcher.h"

namespace corvane::sim {
namespace {

// 1920x1080 at 60 Hz, 148.5 MHz.
constexpr uint8_t kTiming1080p[18] = {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58,
                                      0x2C, 0x45, 0x00, 0x50, 0x2D, 0x21, 0x00, 0x00, 0x1E};

enum class Audio { None, Stereo, Surround, HdAudio };

Edid Build(uint16_t product, std::string_view name, std::initializer_list<uint8_t> vics, Audio audio)
{
    Edid e{};
    std::copy(kEdidHeader.begin(), kEdidHeader.end(), e.begin());
    e[8] = 0x0E;  // manufacturer "CVS"
    e[9] = 0xD3;
    e[10] = static_cast<uint8_t>(product);
    e[11] = static_cast<uint8_t>(product >> 8);
    e[16] = 1;
    e[17] = 36;
    e[18] = 1;
    e[19] = 3;
    e[20] = 0x80;  // digital input
    e[21] = 0x50;
    e[22] = 0x2D;
    e[23] = 0x78;
    e[24] = 0x0A;
    e[35] = 0x21;
    e[36] = 0x08;
    for (std::size_t i = 38; i < 54; ++i)
        e[i] = 0x01;
    std::memcpy(&e[54], kTiming1080p, sizeof kTiming1080p);
    PutEdidText(e, 72, 0xFC, name);
    PutEdidText(e, 90, 0xFD, "");
    e[95] = 0x38;
    e[96] = 0x4B;
    e[97] = 0x1E;
    e[98] = 0x53;
    e[99] = 0x11;
    PutEdidText(e, 108, 0x10, "");
    e[126] = audio == Audio::None ? 0 : 1;  // extension blocks
    SealEdidBlock(e, 0);
    if (audio == Audio::None)
        return e;

    std::size_t p = 132;
    e[128] = 0x02;
    e[129] = 0x03;
    e[131] = 0x70;
    e[p++] = static_cast<uint8_t>(0x40 | vics.size());
    for (uint8_t v : vics)
        e[p++] = v;
    std::vector<uint8_t> sads;
    switch (audio) {
    case Audio::Stereo: sads = {0x09, 0x07, 0x07}; break;
    case Audio::Surround: sads = {0x09, 0x07, 0x07, 0x15, 0x07, 0x50, 0x3D, 0x07, 0xC0}; break;
    default: sads = {0x0F, 0x7F, 0x07, 0x15, 0x07, 0x50, 0x3D, 0x07, 0xC0, 0x57, 0x06, 0x03}; break;
    }
    e[p++] = static_cast<uint8_t>(0x20 | sads.size());
    for (uint8_t s : sads)
        e[p++] = s;
    for (uint8_t b : {0x65, 0x03, 0x0C, 0x00, 0x10, 0x00})  // HDMI vendor block, address 1.0.0.0
        e[p++] = b;
    e[130] = static_cast<uint8_t>(p - 128);
    std::memcpy(&e[p], kTiming1080p, sizeof kTiming1080p);
    SealEdidBlock(e, 128);
    return e;
}

}  // namespace

Edid PresetEdid(uint8_t index)
{
    static constexpr char kDigits[] = "0123456789";
    std::string name = "CORVANE E00";
    name[9] = kDigits[(index / 10) % 10];
    name[10] = kDigits[index % 10];
    const uint16_t product = static_cast<uint16_t>(0x0100 + index);
    if (index >= kEdidPresets)
        return Build(0x0100 + kEdidIndexDefault, "CORVANE DEF", {16, 4, 5, 3}, Audio::Stereo);
    if (index >= 12)  // DVI: one block, no audio
        return Build(product, name, {}, Audio::None);
    const Audio audio = index % 3 == 0 ? Audio::Stereo : index % 3 == 1 ? Audio::Surround : Audio::HdAudio;
    switch (index / 3) {
    case 0: return Build(product, name, {5, 20, 4, 3}, audio);       // interlaced 1080
    case 1: return Build(product, name, {16, 31, 4, 3}, audio);      // progressive 1080
    case 2: return Build(product, name, {16, 32, 34, 4}, audio);     // 3D-capable 1080
    default: return Build(product, name, {95, 94, 93, 16}, audio);   // 3840x2160
    }
}

Edid DisplayEdid(int output)
{
    return Build(static_cast<uint16_t>(0x0200 + output), output == 1 ? "DISPLAY A" : "DISPLAY B",
                 {16, 31, 4, 3, 2}, Audio::Surround);
}

}  // namespace corvane::sim
