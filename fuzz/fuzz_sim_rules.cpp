// The fault rules of the emulator's command line, parsed from arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/faults.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (const auto rule = corvane::sim::ParseFaultRule(text, error)) {
        if (rule->first == 0 || rule->last < rule->first || rule->pattern.size() > 10 ||
            (rule->kind == corvane::sim::FaultKind::Noise && rule->arg > corvane::sim::kMaxNoiseBytes))
            __builtin_trap();
        corvane::sim::CFaultPlan plan;
        plan.Add(*rule);
        plan.ForFrame(corvane::MakeFrame({0x01, 0x04, 0x01}));
        plan.ForDatagram(corvane::sim::FaultTarget::Config);
    }
    corvane::sim::ParseRandomFaults(text, error);
    return 0;
}
