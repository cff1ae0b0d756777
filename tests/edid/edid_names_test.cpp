// The built-in EDIDs by name: the one reading every front end shares.
#include <gtest/gtest.h>

#include "core/edid/edid_names.h"

namespace corvane {
namespace {

TEST(EdidNames, ReadInAnyCaseNumbersOnlyWhenAsked)
{
    const struct {
        const char* text;
        EdidNumbers numbers;
        int position;  // -1: refused
        const char* onOneInput;
    } cases[] = {
        {"1080p,Stereo Audio 2.0", EdidNumbers::Refused, 3, "1080p,Stereo Audio 2.0"},
        {"dvi 1920X1200", EdidNumbers::Refused, 14, "DVI 1920x1200"},
        {" default edid\n", EdidNumbers::Refused, 15, "1080p,Stereo Audio 2.0"},
        {"16", EdidNumbers::Accepted, 15, "1080p,Stereo Audio 2.0"},
        {"16", EdidNumbers::Refused, -1, ""},
        {"17", EdidNumbers::Accepted, -1, ""},
        {"0", EdidNumbers::Accepted, -1, ""},
        {"Default", EdidNumbers::Accepted, -1, ""},
        {"1080p", EdidNumbers::Refused, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto edid = ParseBuiltInEdid(c.text, c.numbers);
        ASSERT_EQ(edid.has_value(), c.position >= 0);
        if (!edid)
            continue;
        EXPECT_EQ(edid->position, c.position);
        EXPECT_EQ(edid->IsDefault(), c.position == 15);
        EXPECT_STREQ(edid->NameOnOneInput(), c.onOneInput);
    }
}

}  // namespace
}  // namespace corvane
