#include "core/scene/json.h"

#include <limits>
#include <unordered_set>

namespace corvane {

namespace {

// The length of the well-formed UTF-8 sequence at s[i], or 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = at(i);
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        lo = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        hi = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        lo = lead == 0xF0 ? 0x90 : 0x80;
        hi = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (i + n > s.size() || at(i + 1) < lo || at(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return n;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class CReader {
public:
    explicit CReader(std::string_view text) : m_s(text) {}

    std::optional<SJson> Document()
    {
        if (m_s.substr(0, 3) == "\xEF\xBB\xBF")
            m_at = 3;
        SkipSpace();
        SJson v;
        if (!Value(v, 0))
            return std::nullopt;
        SkipSpace();
        if (m_at != m_s.size())
            return Fail("unexpected text after the document"), std::nullopt;
        return v;
    }

    std::string error;

private:
    bool Fail(const std::string& what)
    {
        if (!error.empty())
            return false;
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < m_at && i < m_s.size(); ++i) {
            const auto b = static_cast<unsigned char>(m_s[i]);
            if (b == '\n') {
                ++line;
                column = 1;
            } else if ((b & 0xC0) != 0x80) {  // a column is a character, not a byte
                ++column;
            }
        }
        error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
        return false;
    }
    bool AtEnd() const { return m_at >= m_s.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_s[m_at]; }
    void SkipSpace()
    {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
            ++m_at;
    }
    bool Literal(std::string_view word)
    {
        if (m_s.substr(m_at, word.size()) != word)
            return Fail("expected a value");
        m_at += word.size();
        return true;
    }

    bool Value(SJson& v, int depth)
    {
        if (depth >= kJsonMaxDepth)
            return Fail("nested deeper than " + std::to_string(kJsonMaxDepth) + " levels");
        if (AtEnd())
            return Fail("the document ends where a value should be");
        switch (Peek()) {
        case '{': return Object(v, depth);
        case '[': return Array(v, depth);
        case '"': v.type = SJson::Type::String; return String(v.text);
        case 't': v.type = SJson::Type::Bool; v.boolean = true; return Literal("true");
        case 'f': v.type = SJson::Type::Bool; v.boolean = false; return Literal("false");
        case 'n': v.type = SJson::Type::Null; return Literal("null");
        default: break;
        }
        if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9'))
            return Number(v);
        return Fail("expected a value");
    }

    bool Object(SJson& v, int depth)
    {
        constexpr std::size_t kLinearMembers = 16;
        std::unordered_set<std::string> seen;
        v.type = SJson::Type::Object;
        ++m_at;
        SkipSpace();
        if (Peek() == '}') {
            ++m_at;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"')
                return Fail("expected a member name in double quotes");
            const std::size_t keyAt = m_at;
            std::string key;
            if (!String(key))
                return false;
            // A few members are compared in turn; past that a set keeps the check linear.
            bool twice;
            if (v.keys.size() < kLinearMembers) {
                twice = v.Find(key) != nullptr;
            } else {
                if (seen.empty())
                    seen.insert(v.keys.begin(), v.keys.end());
                twice = !seen.insert(key).second;
            }
            if (twice) {
                m_at = keyAt;
                return Fail("the member \"" + key + "\" appears twice");
            }
            SkipSpace();
            if (Peek() != ':')
                return Fail("expected ':' after a member name");
            ++m_at;
            SkipSpace();
            SJson member;
            if (!Value(member, depth + 1))
                return false;
            v.keys.push_back(std::move(key));
            v.items.push_back(std::move(member));
            SkipSpace();
            if (Peek() == ',') {
                ++m_at;
                continue;
            }
            if (Peek() == '}') {
                ++m_at;
                return true;
            }
            return Fail("expected ',' or '}'");
        }
    }

    bool Array(SJson& v, int depth)
    {
        v.type = SJson::Type::Array;
        ++m_at;
        SkipSpace();
        if (Peek() == ']') {
            ++m_at;
            return true;
        }
        for (;;) {
            SkipSpace();
            SJson item;
            if (!Value(item, depth + 1))
                return false;
            v.items.push_back(std::move(item));
            SkipSpace();
            if (Peek() == ',') {
                ++m_at;
                continue;
            }
            if (Peek() == ']') {
                ++m_at;
                return true;
            }
            return Fail("expected ',' or ']'");
        }
    }

    bool Hex4(uint32_t& cp)
    {
        cp = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = Peek();
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return Fail("\\u needs four hexadecimal digits");
            cp = cp * 16 + static_cast<uint32_t>(d);
            ++m_at;
        }
        return true;
    }

    bool String(std::string& out)
    {
        ++m_at;  // the opening quote
        for (;;) {
            if (AtEnd())
                return Fail("a string is not closed");
            const auto b = static_cast<unsigned char>(Peek());
            if (b == '"') {
                ++m_at;
                return true;
            }
            if (b < 0x20)
                return Fail("a control character in a string (write it as \\u00XX)");
            if (b >= 0x80) {
                const std::size_t n = Utf8SequenceAt(m_s, m_at);
                if (n == 0)
                    return Fail("a byte that is not UTF-8");
                out.append(m_s.substr(m_at, n));
                m_at += n;
                continue;
            }
            if (b != '\\') {
                out += static_cast<char>(b);
                ++m_at;
                continue;
            }
            ++m_at;
            const char e = Peek();
            ++m_at;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp;
                if (!Hex4(cp))
                    return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return Fail("a low surrogate without a high one");
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (m_s.substr(m_at, 2) != "\\u")
                        return Fail("a high surrogate without a low one");
                    m_at += 2;
                    uint32_t low;
                    if (!Hex4(low))
                        return false;
                    if (low < 0xDC00 || low > 0xDFFF)
                        return Fail("a high surrogate without a low one");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, cp);
                break;
            }
            default: --m_at; return Fail("an unknown escape in a string");
            }
        }
    }

    bool Number(SJson& v)
    {
        v.type = SJson::Type::Number;
        const std::size_t start = m_at;
        auto digits = [&] {
            const std::size_t from = m_at;
            while (!AtEnd() && Peek() >= '0' && Peek() <= '9')
                ++m_at;
            return m_at - from;
        };
        if (Peek() == '-')
            ++m_at;
        if (Peek() == '0') {
            ++m_at;
            if (Peek() >= '0' && Peek() <= '9')
                return Fail("a number with a leading zero");
        } else if (digits() == 0) {
            return Fail("expected a digit");
        }
        bool whole = true;
        if (Peek() == '.') {
            ++m_at;
            whole = false;
            if (digits() == 0)
                return Fail("expected a digit after '.'");
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++m_at;
            whole = false;
            if (Peek() == '+' || Peek() == '-')
                ++m_at;
            if (digits() == 0)
                return Fail("expected a digit in the exponent");
        }
        v.text = std::string(m_s.substr(start, m_at - start));
        if (whole) {
            // Accumulated negatively: the most negative value has no positive counterpart.
            const bool negative = v.text[0] == '-';
            int64_t n = 0;
            bool fits = true;
            for (std::size_t i = negative ? 1 : 0; i < v.text.size() && fits; ++i) {
                const int d = v.text[i] - '0';
                if (n < (std::numeric_limits<int64_t>::min() + d) / 10)
                    fits = false;
                else
                    n = n * 10 - d;
            }
            if (fits && !negative && n == std::numeric_limits<int64_t>::min())
                fits = false;
            if (fits)
                v.integer = negative ? n : -n;
        }
        return true;
    }

    std::string_view m_s;
    std::size_t m_at = 0;
};

}  // namespace

const SJson* SJson::Find(std::string_view key) const
{
    if (type != Type::Object)
        return nullptr;
    for (std::size_t i = 0; i < keys.size() && i < items.size(); ++i)
        if (keys[i] == key)
            return &items[i];
    return nullptr;
}

std::optional<SJson> ParseJson(std::string_view text, std::string& error)
{
    CReader reader(text);
    auto v = reader.Document();
    error = reader.error;
    return v;
}

const char* JsonTypeName(SJson::Type type)
{
    switch (type) {
    case SJson::Type::Null: return "null";
    case SJson::Type::Bool: return "true or false";
    case SJson::Type::Number: return "a number";
    case SJson::Type::String: return "a string";
    case SJson::Type::Array: return "an array";
    case SJson::Type::Object: return "an object";
    }
    return "";
}

std::string JsonString(const std::string& s)
{
    std::string r = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const char ch = s[i];
        const auto u = static_cast<unsigned char>(ch);
        if (u >= 0x80) {
            const std::size_t n = Utf8SequenceAt(s, i);
            if (n == 2 && u == 0xC2 && static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
                // A C1 control (U+0080..U+009F): escaped, so that no terminal acts on it and
                // nothing between here and the reader has reason to rewrite the document.
                static const char digits[] = "0123456789abcdef";
                const auto c = static_cast<unsigned char>(s[i + 1]);
                r += "\\u00";
                r += digits[c >> 4];
                r += digits[c & 15];
            } else {
                r += n ? s.substr(i, n) : std::string("\\ufffd");
            }
            i += n ? n : 1;
            continue;
        }
        if (ch == '"' || ch == '\\') {
            r += '\\';
            r += ch;
        } else if (u < 0x20 || u == 0x7F) {
            static const char digits[] = "0123456789abcdef";
            r += "\\u00";
            r += digits[u >> 4];
            r += digits[u & 15];
        } else {
            r += ch;
        }
        ++i;
    }
    return r + "\"";
}

}  // namespace corvane
