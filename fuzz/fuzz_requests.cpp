// An API request's body and its Host and Origin headers come from anyone on the network: the
// checks take any bytes without crashing, a command is either taken or refused with a reason,
// and what is taken is in range.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/requests.h"

using namespace corvane;
using namespace corvane::service;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const char* const names[] = {"route", "beep", "dvi", "edid", "scene", "refresh"};
    static const std::vector<SNamedScene> scenes{{"movie", std::make_shared<const SScene>()}};
    const std::string name = names[data[0] % 6];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string error;
    const auto c = ParseCommand(name, text, scenes, error);
    if (c.has_value() != error.empty())
        std::abort();
    if (c && c->kind == SUnitCommand::Kind::Route && (c->output < 1 || c->output > 2 || c->input < 1 || c->input > 4))
        std::abort();
    if (c && c->kind == SUnitCommand::Kind::Edid && (c->input < 1 || c->input > 4))
        std::abort();
    // A name the service answers to is one of its own, whatever else the header holds.
    const SAllowedHosts hosts = AllowedHosts("192.0.2.1", {"switchers.example"});
    for (const bool origin : {false, true}) {
        const std::string host = HostPart(text, origin);
        const bool allowed = origin ? hosts.AllowsOrigin(text, true) : hosts.Allows(text);
        if (allowed && host != "localhost" && host != "127.0.0.1" && host != "::1" && host != "192.0.2.1" &&
            host != "switchers.example")
            std::abort();
    }
    return 0;
}
