#include "core/text/text.h"

#include <filesystem>

namespace corvane {

namespace {
constexpr std::string_view kBlanks = " \t\r\n";
}

std::string Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(kBlanks) - first + 1));
}

std::string Lower(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string TidyPath(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path tidy = fs::path(path).lexically_normal();
    if (tidy.empty() || !fs::equivalent(tidy, fs::path(path), error) || error)
        return path;
    return tidy.string();
}

}  // namespace corvane
