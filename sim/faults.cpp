#include "sim/faults.h"

#include <charconv>
#include <cstdlib>

#include "core/link/frame.h"

namespace corvane::sim {
namespace {

struct KindInfo {
    FaultKind kind;
    std::string_view name;
    unsigned defaultArg;
};

constexpr KindInfo kKinds[] = {
    {FaultKind::Drop, "drop", 0},
    {FaultKind::Delay, "delay", kDefaultDelayMs},
    {FaultKind::Corrupt, "corrupt", 0},
    {FaultKind::Split, "split", kDefaultSplitGapMs},
    {FaultKind::Merge, "merge", kDefaultMergeHoldMs},
    {FaultKind::Noise, "noise", kDefaultNoiseBytes},
    {FaultKind::Refuse, "refuse", 0},
    {FaultKind::HangUp, "hangup", 0},
    {FaultKind::Value, "value", 0},
};

const KindInfo* FindKind(std::string_view name)
{
    for (const auto& k : kKinds)
        if (k.name == name)
            return &k;
    return nullptr;
}

const KindInfo* FindKind(FaultKind kind)
{
    for (const auto& k : kKinds)
        if (k.kind == kind)
            return &k;
    return nullptr;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

template <typename T>
bool ParseNumber(std::string_view s, T& out)
{
    s = Trim(s);
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size() && !s.empty();
}

// "01 04 02", "010402", "01,04,02", "01-04-02"; blanks or separators may sit between pairs.
bool ParseHexBytes(std::string_view s, std::vector<uint8_t>& out)
{
    int high = -1;
    for (char c : s) {
        if (c == ' ' || c == ',' || c == '-' || c == '.') {
            if (high >= 0)
                return false;
            continue;
        }
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    return high < 0 && !out.empty() && out.size() <= 10;
}

void Apply(FaultSet& f, FaultKind kind, unsigned arg)
{
    switch (kind) {
    case FaultKind::Drop: f.drop = true; break;
    case FaultKind::Delay: f.delayMs += arg; break;
    case FaultKind::Corrupt: f.corrupt = true; break;
    case FaultKind::Split:
        f.split = true;
        f.splitGapMs = arg;
        break;
    case FaultKind::Merge:
        f.merge = true;
        f.mergeHoldMs = arg;
        break;
    case FaultKind::Noise: f.noise += arg; break;
    case FaultKind::Refuse: f.refuse = true; break;
    case FaultKind::HangUp: f.hangUp = true; break;
    case FaultKind::Value: f.value = static_cast<uint8_t>(arg); break;
    }
}

}  // namespace

std::string FaultSet::Describe() const
{
    std::string s;
    auto add = [&s](std::string_view what, unsigned n = 0) {
        if (!s.empty())
            s += ' ';
        s += what;
        if (n)
            s += '=' + std::to_string(n);
    };
    if (refuse)
        add("refuse");
    if (corrupt)
        add("corrupt");
    if (noise)
        add("noise", noise);
    if (delayMs)
        add("delay", delayMs);
    if (split)
        add("split");
    else if (merge)
        add("merge");
    if (drop)
        add("drop");
    if (hangUp)
        add("hangup");
    if (value) {
        add("value");
        s += "=" + std::to_string(*value);
    }
    return s;
}

std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error)
{
    FaultRule rule;
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        error = "expected KIND[=ARG]:TARGET[:RANGE]";
        return std::nullopt;
    }
    std::string_view kindText = Trim(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);
    std::string_view argText;
    if (const auto eq = kindText.find('='); eq != std::string_view::npos) {
        argText = kindText.substr(eq + 1);
        kindText = Trim(kindText.substr(0, eq));
    }
    const KindInfo* kind = FindKind(kindText);
    if (!kind) {
        error = "unknown fault '" + std::string(kindText) + "'";
        return std::nullopt;
    }
    rule.kind = kind->kind;
    rule.arg = kind->defaultArg;
    if (!argText.empty() && !ParseNumber(argText, rule.arg)) {
        error = "bad number '" + std::string(argText) + "'";
        return std::nullopt;
    }
    if (rule.kind == FaultKind::Value && rule.arg > 0xFF) {
        error = "a value is a byte, 0 to 255";
        return std::nullopt;
    }
    if (rule.kind == FaultKind::Noise && rule.arg > kMaxNoiseBytes) {
        error = "noise of at most " + std::to_string(kMaxNoiseBytes) + " bytes";
        return std::nullopt;
    }

    std::string_view targetText = rest, rangeText;
    if (const auto c2 = rest.find(':'); c2 != std::string_view::npos) {
        targetText = rest.substr(0, c2);
        rangeText = Trim(rest.substr(c2 + 1));
    }
    targetText = Trim(targetText);
    if (targetText == "any" || targetText == "*") {
        rule.target = FaultTarget::Any;
    } else if (targetText == "search") {
        rule.target = FaultTarget::Search;
    } else if (targetText == "config") {
        rule.target = FaultTarget::Config;
    } else if (ParseHexBytes(targetText, rule.pattern)) {
        rule.target = FaultTarget::Frame;
    } else {
        error = "bad target '" + std::string(targetText) + "' (hex bytes 2.. of a command, any, search or config)";
        return std::nullopt;
    }

    if (!rangeText.empty() && rangeText != "*") {
        const auto dash = rangeText.find('-');
        bool ok;
        if (dash == std::string_view::npos) {
            ok = ParseNumber(rangeText, rule.first);
            rule.last = rule.first;
        } else {
            ok = ParseNumber(rangeText.substr(0, dash), rule.first);
            const auto tail = Trim(rangeText.substr(dash + 1));
            if (ok && !tail.empty())
                ok = ParseNumber(tail, rule.last);
        }
        if (!ok || rule.first == 0 || rule.last < rule.first) {
            error = "bad range '" + std::string(rangeText) + "' (N, N-M or N-)";
            return std::nullopt;
        }
    }
    return rule;
}

std::optional<RandomFaults> ParseRandomFaults(std::string_view text, std::string& error)
{
    RandomFaults r;
    const auto c1 = text.find(':');
    if (c1 == std::string_view::npos || !ParseNumber(text.substr(0, c1), r.seed)) {
        error = "expected SEED:RATE[:KINDS]";
        return std::nullopt;
    }
    std::string_view rest = text.substr(c1 + 1), kinds;
    if (const auto c2 = rest.find(':'); c2 != std::string_view::npos) {
        kinds = rest.substr(c2 + 1);
        rest = rest.substr(0, c2);
    }
    rest = Trim(rest);
    const bool percent = !rest.empty() && rest.back() == '%';
    if (percent)
        rest.remove_suffix(1);
    const std::string rateText(rest);
    char* end = nullptr;
    double rate = rateText.empty() ? -1 : std::strtod(rateText.c_str(), &end);
    if (end && *end)
        rate = -1;
    if (percent)
        rate /= 100;
    if (!(rate >= 0 && rate <= 1)) {
        error = "bad rate '" + rateText + "' (0..1 or 0%..100%)";
        return std::nullopt;
    }
    r.rate = rate;
    if (kinds.empty()) {
        r.kinds = {FaultKind::Drop, FaultKind::Delay, FaultKind::Corrupt,
                   FaultKind::Split, FaultKind::Merge, FaultKind::Noise};
    } else {
        while (!kinds.empty()) {
            const auto comma = kinds.find(',');
            const auto name = Trim(kinds.substr(0, comma));
            kinds = comma == std::string_view::npos ? std::string_view{} : kinds.substr(comma + 1);
            const KindInfo* k = FindKind(name);
            if (!k) {
                error = "unknown fault '" + std::string(name) + "'";
                return std::nullopt;
            }
            r.kinds.push_back(k->kind);
        }
    }
    return r;
}

void CFaultPlan::SetRandom(const RandomFaults& random)
{
    m_random = random;
    m_state = random.seed ^ 0x9E3779B97F4A7C15ull;
}

// splitmix64
uint64_t CFaultPlan::Next()
{
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

FaultSet CFaultPlan::Collect(FaultTarget kind, const Frame* command)
{
    FaultSet f;
    for (auto& e : m_rules) {
        const FaultRule& r = e.rule;
        bool match = r.target == FaultTarget::Any || r.target == kind;
        if (match && r.target == FaultTarget::Frame) {
            for (std::size_t i = 0; i < r.pattern.size() && match; ++i)
                match = command && 2 + i < kFrameSize && (*command)[2 + i] == r.pattern[i];
        }
        if (!match)
            continue;
        if (e.seen < UINT_MAX)
            ++e.seen;
        if (e.seen >= r.first && e.seen <= r.last)
            Apply(f, r.kind, r.arg);
    }
    if (m_random && !m_random->kinds.empty()) {
        const double roll = static_cast<double>(Next() >> 11) * 0x1.0p-53;
        if (roll < m_random->rate) {
            const FaultKind k = m_random->kinds[Next() % m_random->kinds.size()];
            Apply(f, k, FindKind(k)->defaultArg);
        }
    }
    return f;
}

FaultSet CFaultPlan::ForFrame(const Frame& command) { return Collect(FaultTarget::Frame, &command); }

FaultSet CFaultPlan::ForDatagram(FaultTarget kind) { return Collect(kind, nullptr); }

std::vector<uint8_t> CFaultPlan::Noise(unsigned count)
{
    std::vector<uint8_t> out;
    out.reserve(count);
    while (out.size() < count) {
        const auto b = static_cast<uint8_t>(Next());
        if (b != kHeader0)
            out.push_back(b);
    }
    return out;
}

}  // namespace corvane::sim
