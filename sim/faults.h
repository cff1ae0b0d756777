// Faults the switcher can be told to commit: per command (matched on the command's bytes 2..)
// or at random from a seed. Deterministic: the same rules and seed give the same faults.
#pragma once

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/frame.h"

namespace corvane::sim {

enum class FaultKind { Drop, Delay, Corrupt, Split, Merge, Noise, Refuse, HangUp, Value };
enum class FaultTarget { Any, Frame, Search, Config };

inline constexpr unsigned kDefaultDelayMs = 1000;
inline constexpr unsigned kDefaultSplitGapMs = 2;
inline constexpr unsigned kDefaultMergeHoldMs = 5000;
inline constexpr unsigned kDefaultNoiseBytes = 4;
inline constexpr unsigned kMaxNoiseBytes = 4096;

struct FaultRule {
    FaultKind kind = FaultKind::Drop;
    unsigned arg = 0;  // delay and split gap in ms, merge hold in ms, noise byte count
    FaultTarget target = FaultTarget::Any;
    std::vector<uint8_t> pattern;  // compared with bytes 2.. of the command
    unsigned first = 1;            // 1-based numbers of the matching exchanges it hits
    unsigned last = UINT_MAX;
};

struct RandomFaults {
    uint64_t seed = 0;
    double rate = 0;  // chance per exchange, 0..1
    std::vector<FaultKind> kinds;
};

// What happens to one reply.
struct FaultSet {
    bool drop = false;
    bool corrupt = false;
    bool split = false;
    bool merge = false;
    bool refuse = false;
    bool hangUp = false;
    unsigned delayMs = 0;
    unsigned splitGapMs = kDefaultSplitGapMs;
    unsigned mergeHoldMs = kDefaultMergeHoldMs;
    unsigned noise = 0;
    std::optional<uint8_t> value;  // the reply's byte 6, the value it reports, becomes this

    bool Any() const { return drop || corrupt || split || merge || refuse || hangUp || delayMs || noise || value; }
    std::string Describe() const;
};

// "KIND[=ARG]:TARGET[:RANGE]", for example "drop:01 04 02", "delay=4000:20 01 AA:3",
// "noise=6:any:2-", "refuse:config". Returns nothing and sets error when the text is wrong.
std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error);
// "SEED:RATE[:KIND,KIND...]", RATE as 0.1 or 10%.
std::optional<RandomFaults> ParseRandomFaults(std::string_view text, std::string& error);

class CFaultPlan {
public:
    void Add(const FaultRule& rule) { m_rules.push_back({rule, 0}); }
    void SetRandom(const RandomFaults& random);

    // The faults for the reply to this exchange; each call counts as one exchange.
    FaultSet ForFrame(const Frame& command);
    FaultSet ForDatagram(FaultTarget kind);
    // Bytes that never contain a frame header.
    std::vector<uint8_t> Noise(unsigned count);

private:
    struct Entry {
        FaultRule rule;
        unsigned seen;
    };
    FaultSet Collect(FaultTarget kind, const Frame* command);
    uint64_t Next();

    std::vector<Entry> m_rules;
    std::optional<RandomFaults> m_random;
    uint64_t m_state = 0x9E3779B97F4A7C15ull;
};

}  // namespace corvane::sim
