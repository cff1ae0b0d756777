// What an EDID says about the display it came from: maker, product, serial number, date,
// version, the name and serial text descriptors, the preferred timing, and what its extension
// block is (a CTA-861 block with its audio formats and whether it declares HDMI). Any bytes
// decode without harm; fields the bytes do not carry stay empty. Texts taken from the EDID keep
// printable ASCII only: any other byte becomes '?', so they are safe to show and to log.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvane {

struct EdidTiming {
    int width = 0;
    int height = 0;            // lines of the frame (both fields when interlaced)
    bool interlaced = false;
    uint32_t pixelClockKhz = 0;
    uint32_t refreshMilliHz = 0;  // field rate when interlaced; 0 when the totals are 0
};

struct EdidAudioFormat {
    uint8_t code = 0;      // 1 LPCM, 2 AC-3, ... 15 extended
    int channels = 0;      // at most
    uint8_t rates = 0;     // bit 0 32 kHz ... bit 6 192 kHz
};

enum class EdidExtension { None, Cta861, Other, Missing };

struct EdidInfo {
    std::string manufacturer;  // three letters; '?' for a letter outside A..Z
    uint16_t productCode = 0;
    uint32_t serialNumber = 0;
    uint8_t week = 0;          // 0 unknown; 0xFF: year is the model year
    int year = 0;              // 0 when the byte is 0
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    std::string displayName;   // descriptor FC
    std::string serialText;    // descriptor FF
    std::optional<EdidTiming> preferred;

    uint8_t extensionCount = 0;  // byte 126
    // None: no extension announced; Missing: announced but the bytes do not carry it.
    EdidExtension extension = EdidExtension::None;
    uint8_t extensionTag = 0;
    uint8_t ctaRevision = 0;
    bool basicAudio = false;           // CTA flag: the sink takes basic audio
    std::vector<EdidAudioFormat> audio;  // short audio descriptors, in order
    bool hdmi = false;                 // HDMI vendor-specific data block (OUI 00-0C-03)
    bool hdmiForum = false;            // HDMI Forum vendor-specific data block (OUI C4-5D-D8)
};

// Decodes the bytes (an EDID of 128 or 256 bytes; shorter input reads as if cut off, extra
// bytes past 256 are ignored).
EdidInfo DecodeEdid(std::span<const uint8_t> edid);

// "LPCM", "AC-3", ... "format 0" for unknown codes.
std::string AudioFormatName(uint8_t code);

// A few lines for a person: which display, made when, EDID version, preferred timing and the
// extension.
std::vector<std::string> SummarizeEdid(const EdidInfo& info);

}  // namespace corvane
