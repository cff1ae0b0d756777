// JSON for corvanectl's files: a strict reader (RFC 8259 and nothing more: no comments, no
// trailing commas, no duplicate keys, well-formed UTF-8 only, bounded nesting) that says where
// and why a document is wrong, and the string literal every JSON output is written with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct SJson {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::string text;                      // a string's value; a number as written
    std::optional<int64_t> integer;        // a number without fraction or exponent that fits
    std::vector<SJson> items;              // an array's elements, an object's member values
    std::vector<std::string> keys;         // an object's member names, in the order of items

    // The member of an object by key; nothing for another type or a missing key.
    const SJson* Find(std::string_view key) const;
};

// Deeper documents are refused: the reader recurses once per level.
inline constexpr int kJsonMaxDepth = 64;

// The document, or nothing with error set to "line L, column C: what is wrong". A leading
// UTF-8 byte-order mark is skipped.
std::optional<SJson> ParseJson(std::string_view text, std::string& error);

// A JSON string literal: quotes, backslashes and control characters (C0, DEL and C1) escaped; a
// byte that is not part of well-formed UTF-8 becomes U+FFFD, so the document always parses and
// holds nothing the terminal filter would rewrite.
std::string JsonString(const std::string& s);

// The name of a type for messages: "a string", "an object", ...
const char* JsonTypeName(SJson::Type type);

}  // namespace corvane
