// The EDID decoder against EDIDs built with known fields, the emulator's own EDIDs, and bytes
// that lie about their own layout.
#include <gtest/gtest.h>

#include "core/edid/edid_decode.h"
#include "sim/switcher.h"
#include "tests/support/edid_builder.h"

namespace corvane::test {
namespace {

using Lines = std::vector<std::string>;

TEST(EdidDecode, KnownFieldsOfBothBlocks)
{
    const EdidImage e = BuildEdid();
    const EdidInfo info = DecodeEdid(e);
    EXPECT_EQ(info.manufacturer, "ZQX");
    EXPECT_EQ(info.productCode, 0xA1B2);
    EXPECT_EQ(info.serialNumber, 0x01020304u);
    EXPECT_EQ(info.week, 12);
    EXPECT_EQ(info.year, 2019);
    EXPECT_EQ(info.versionMajor, 1);
    EXPECT_EQ(info.versionMinor, 3);
    EXPECT_EQ(info.displayName, "OFFICE 27");
    EXPECT_EQ(info.serialText, "SN0042");
    ASSERT_TRUE(info.preferred);
    EXPECT_EQ(info.preferred->width, 1920);
    EXPECT_EQ(info.preferred->height, 1080);
    EXPECT_FALSE(info.preferred->interlaced);
    EXPECT_EQ(info.preferred->pixelClockKhz, 148500u);
    EXPECT_EQ(info.preferred->refreshMilliHz, 60000u);
    EXPECT_EQ(info.extension, EdidExtension::Cta861);
    EXPECT_EQ(info.ctaRevision, 3);
    EXPECT_TRUE(info.basicAudio);
    EXPECT_TRUE(info.hdmi);
    EXPECT_FALSE(info.hdmiForum);
    ASSERT_EQ(info.audio.size(), 3u);
    EXPECT_EQ(info.audio[0].code, 1);
    EXPECT_EQ(info.audio[0].channels, 2);
    EXPECT_EQ(info.audio[0].rates, 0x07);
    EXPECT_EQ(info.audio[1].code, 2);
    EXPECT_EQ(info.audio[1].channels, 6);
    EXPECT_EQ(info.audio[2].code, 7);

    EXPECT_EQ(SummarizeEdid(info), (Lines{
                                       "Display: OFFICE 27",
                                       "Maker: ZQX, product code 0xA1B2",
                                       "Serial: SN0042, number 16909060",
                                       "Made: week 12 of 2019",
                                       "EDID 1.3, 1 extension block",
                                       "Preferred timing: 1920x1080 at 60.00 Hz",
                                       "Extension: CTA-861 revision 3, HDMI",
                                       "Audio: LPCM 2 ch, AC-3 6 ch, DTS 6 ch",
                                   }));
}

TEST(EdidDecode, Variants)
{
    struct Case {
        const char* name;
        EdidFields fields;
        void (*change)(EdidImage&);
        std::size_t length;
        Lines expectedTail;  // the summary from its "EDID x.y" line on
    };
    const Case cases[] = {
        {"one block, no extension", {.cta = false}, nullptr, 128,
         {"EDID 1.3, 0 extension blocks", "Preferred timing: 1920x1080 at 60.00 Hz", "Extension: none"}},
        {"interlaced 1080 at 74.25 MHz", {.timing = {7425, 1920, 280, 1080, 22, true}, .cta = false}, nullptr, 128,
         {"EDID 1.3, 0 extension blocks", "Preferred timing: 1920x1080i at 60.00 Hz", "Extension: none"}},
        {"59.94 Hz", {.timing = {14835, 1920, 280, 1080, 45, false}, .cta = false}, nullptr, 128,
         {"EDID 1.3, 0 extension blocks", "Preferred timing: 1920x1080 at 59.94 Hz", "Extension: none"}},
        {"extension announced, file of one block", {}, nullptr, 128,
         {"EDID 1.3, 1 extension block", "Preferred timing: 1920x1080 at 60.00 Hz",
          "Extension: announced but not present"}},
        {"another kind of extension", {}, [](EdidImage& e) { e[128] = 0x70; }, 256,
         {"EDID 1.3, 1 extension block", "Preferred timing: 1920x1080 at 60.00 Hz", "Extension: unknown (tag 0x70)"}},
        {"CTA without audio or HDMI", {.sads = {}, .hdmi = false}, nullptr, 256,
         {"EDID 1.3, 1 extension block", "Preferred timing: 1920x1080 at 60.00 Hz", "Extension: CTA-861 revision 3",
          "Audio: basic only"}},
        {"HDMI Forum block", {.sads = {}, .hdmi = false},
         [](EdidImage& e) {
             const uint8_t hf[] = {0x66, 0xD8, 0x5D, 0xC4, 0x01, 0x78, 0x00};
             std::copy(std::begin(hf), std::end(hf), e.begin() + 135);
             e[130] = 135 + 7 - 128;
             e[131] = 0;
         },
         256,
         {"EDID 1.3, 1 extension block", "Preferred timing: 1920x1080 at 60.00 Hz",
          "Extension: CTA-861 revision 3, HDMI Forum", "Audio: none"}},
        {"audio block running past the data blocks is not read", {.hdmi = false},
         [](EdidImage& e) { e[130] = 137 - 128; }, 256,
         {"EDID 1.3, 1 extension block", "Preferred timing: 1920x1080 at 60.00 Hz", "Extension: CTA-861 revision 3",
          "Audio: basic only"}},
        {"first descriptor is no timing", {}, [](EdidImage& e) { e[54] = e[55] = 0; }, 256,
         {"EDID 1.3, 1 extension block", "Extension: CTA-861 revision 3, HDMI", "Audio: LPCM 2 ch, AC-3 6 ch, DTS 6 ch"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EdidImage e = BuildEdid(c.fields);
        if (c.change)
            c.change(e);
        const Lines lines = SummarizeEdid(DecodeEdid(std::span<const uint8_t>(e).first(c.length)));
        ASSERT_GE(lines.size(), c.expectedTail.size());
        auto it = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("EDID ", 0) == 0; });
        EXPECT_EQ(Lines(it, lines.end()), c.expectedTail);
    }
}

TEST(EdidDecode, HeadFieldsOddValues)
{
    const struct {
        const char* name;
        void (*change)(EdidImage&);
        Lines expectedHead;  // the summary up to its "EDID x.y" line
    } cases[] = {
        {"model year", [](EdidImage& e) { e[16] = 0xFF; },
         {"Display: OFFICE 27", "Maker: ZQX, product code 0xA1B2", "Serial: SN0042, number 16909060", "Model year: 2019"}},
        {"no week, no serial number, no name", [](EdidImage& e) {
             e[16] = 0;
             e[12] = e[13] = e[14] = e[15] = 0;
             e[75] = 0x10;  // the name descriptor becomes a dummy
         },
         {"Maker: ZQX, product code 0xA1B2", "Serial: SN0042", "Made: 2019"}},
        {"letters outside A..Z, no date, unprintable text", [](EdidImage& e) {
             e[8] = 0x7C;  // 11111: no letter
             e[9] = 0x00;  // 0: no letter
             e[17] = 0;
             e[79] = 0x07;
             e[80] = 0xC3;
             e[81] = 0x0A;
         },
         {"Display: OF??", "Maker: ?\?\?, product code 0xA1B2", "Serial: SN0042, number 16909060"}},
        {"name of 13 characters without line feed", [](EdidImage& e) {
             const char name[] = "ABCDEFGHIJKLM";
             std::copy(name, name + 13, e.begin() + 77);
         },
         {"Display: ABCDEFGHIJKLM", "Maker: ZQX, product code 0xA1B2", "Serial: SN0042, number 16909060",
          "Made: week 12 of 2019"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EdidImage e = BuildEdid();
        c.change(e);
        const Lines lines = SummarizeEdid(DecodeEdid(e));
        auto it = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("EDID ", 0) == 0; });
        EXPECT_EQ(Lines(lines.begin(), it), c.expectedHead);
    }
}

TEST(EdidDecode, TheEmulatorsDisplaysAndPresets)
{
    const EdidInfo a = DecodeEdid(sim::DisplayEdid(1));
    EXPECT_EQ(a.displayName, "DISPLAY A");
    EXPECT_EQ(a.manufacturer, "CVS");
    EXPECT_TRUE(a.hdmi);
    EXPECT_EQ(a.audio.size(), 3u);
    EXPECT_EQ(DecodeEdid(sim::DisplayEdid(2)).displayName, "DISPLAY B");
    const EdidInfo dvi = DecodeEdid(sim::PresetEdid(13));
    EXPECT_EQ(dvi.extension, EdidExtension::None);
    EXPECT_EQ(dvi.displayName, "CORVANE E13");
    ASSERT_TRUE(dvi.preferred);
    EXPECT_EQ(dvi.preferred->refreshMilliHz, 60000u);
}

TEST(EdidDecode, ShortAndOddInputsDecodeWithoutHarm)
{
    // Nothing: every field empty, no timing.
    const EdidInfo none = DecodeEdid({});
    EXPECT_EQ(none.manufacturer, "???");
    EXPECT_FALSE(none.preferred);
    // A timing with zero totals has no refresh rate rather than a division by zero.
    EdidImage e{};
    e[54] = 1;
    const EdidInfo zero = DecodeEdid(e);
    ASSERT_TRUE(zero.preferred);
    EXPECT_EQ(zero.preferred->refreshMilliHz, 0u);
    EXPECT_EQ(AudioFormatName(0), "format 0");
    EXPECT_EQ(AudioFormatName(15), "extended");
}

}  // namespace
}  // namespace corvane::test
