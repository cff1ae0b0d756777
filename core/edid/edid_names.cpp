#include "core/edid/edid_names.h"

#include <string>

#include "core/text/text.h"

namespace corvane {

namespace {

constexpr const char* kEdidListNames[kEdidNames] = {
    "1080i,Stereo Audio 2.0", "1080i,Dolby/DTS 5.1", "1080i,HD Audio 7.1", "1080p,Stereo Audio 2.0",
    "1080p,Dolby/DTS 5.1",    "1080p,HD Audio 7.1",  "3D,Stereo Audio 2.0", "3D,Dolby/DTS 5.1",
    "3D,HD Audio 7.1",        "4K2K,Stereo Audio 2.0", "4K2K,Dolby/DTS 5.1", "4K2K,HD Audio 7.1",
    "DVI 1024x768",           "DVI 1920x1080",       "DVI 1920x1200",      "Default EDID",
};

}  // namespace

const char* EdidListName(int position)
{
    return position >= 0 && position < kEdidNames ? kEdidListNames[position] : "";
}

const char* EdidName(unsigned index)
{
    return EdidListName(index < static_cast<unsigned>(kDefaultEdidPosition) ? static_cast<int>(index)
                                                                             : kDefaultEdidPosition);
}

std::optional<SBuiltInEdid> ParseBuiltInEdid(std::string_view text, EdidNumbers numbers)
{
    const std::string word = Lower(Trim(text));
    if (numbers == EdidNumbers::Accepted && !word.empty() && word.size() <= 2 &&
        word.find_first_not_of("0123456789") == std::string::npos) {
        const int n = std::stoi(word);
        if (n >= 1 && n <= kEdidNames)
            return SBuiltInEdid{n - 1};
        return std::nullopt;
    }
    for (int p = 0; p < kEdidNames; ++p)
        if (word == Lower(kEdidListNames[p]))
            return SBuiltInEdid{p};
    return std::nullopt;
}

}  // namespace corvane
