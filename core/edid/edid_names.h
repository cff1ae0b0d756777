// The switcher's built-in EDIDs by name: the fifteen presets and its default EDID, in the order
// of the EDID page's list, and the one reading of a name that every front end shares.
#pragma once

#include <optional>
#include <string_view>

namespace corvane {

inline constexpr int kEdidNames = 16;  // fifteen presets and "Default EDID"
inline constexpr int kDefaultEdidPosition = kEdidNames - 1;
// Sent to a single input, "Default EDID" is the preset "1080p,Stereo Audio 2.0": the switcher
// then reports that preset for the input.
inline constexpr int kDefaultOnOneInputPosition = 3;

// The name at a position of the preset list (0..15); "" outside.
const char* EdidListName(int position);
// The name of an index in a status reply: 0..14 a preset, every other value "Default EDID".
const char* EdidName(unsigned index);

// A built-in EDID: one of the fifteen presets, or the switcher's default EDID.
struct SBuiltInEdid {
    int position = kDefaultEdidPosition;  // in the EDID page's list: 0..14 a preset, 15 the default

    bool IsDefault() const { return position == kDefaultEdidPosition; }
    const char* Name() const { return EdidListName(position); }
    // The name the switcher reports for an input given this EDID on its own.
    const char* NameOnOneInput() const { return EdidListName(IsDefault() ? kDefaultOnOneInputPosition : position); }
    bool operator==(const SBuiltInEdid&) const = default;
};

enum class EdidNumbers { Refused, Accepted };

// A name of the list, whatever the case of its letters and blanks around it; with
// EdidNumbers::Accepted also its number in the list, 1 to 16. Nothing for any other text.
std::optional<SBuiltInEdid> ParseBuiltInEdid(std::string_view text, EdidNumbers numbers = EdidNumbers::Refused);

}  // namespace corvane
