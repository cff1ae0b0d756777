// What the API takes, without sockets: the Host and Origin checks, the token, and a command's
// JSON body checked field by field. The HTTP server and the WebSocket both use these, so a rule
// holds the same on every way in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/scene/json.h"
#include "service/unit.h"

namespace corvane::service {

// The largest body a request may carry; a scene is named, never sent.
inline constexpr std::size_t kBodyCap = 4096;
// The longest "ref" a stream command may carry for its answer.
inline constexpr std::size_t kRefCap = 64;

// The host part of a Host header or an Origin ("lobby.example:8080" -> "lobby.example",
// "[::1]:80" -> "::1", "http://127.0.0.1:8080" with origin), lower case; empty when malformed.
std::string HostPart(std::string_view value, bool origin);

// The names the service answers to: the loopback names, the bound address (bound to every
// address, "": the machine's addresses) and --web-name.
struct SAllowedHosts {
    std::vector<std::string> names;
    // Bound to every address: the machine's own addresses too, as they are when a request comes
    // (a page that reached the service by its address names nothing foreign).
    bool machine = false;
    bool Allows(std::string_view hostHeader) const;
    // A missing Origin (not a browser) passes; "null" and any other site do not.
    bool AllowsOrigin(std::string_view origin, bool present) const;

private:
    bool Names(const std::string& host) const;
};
SAllowedHosts AllowedHosts(const std::string& boundAddress, const std::vector<std::string>& webNames);

// The same length and bytes, in a time that does not tell where they differ.
bool SameSecret(std::string_view a, std::string_view b);

// The commands a switcher takes by name ("route", ...); a POST's body checked for it. Nothing,
// with the reason, for an unknown field, a missing or wrongly typed one, a value out of range,
// an unknown EDID or scene.
std::optional<SUnitCommand> ParseCommand(const std::string& name, std::string_view body,
                                         const std::vector<SNamedScene>& scenes, std::string& error);
bool IsCommandName(const std::string& name);
// The same for an object already read (a WebSocket message), its members named in ignored
// left to the caller.
std::optional<SUnitCommand> ParseCommandJson(const std::string& name, const SJson& doc,
                                             const std::vector<SNamedScene>& scenes, std::string& error,
                                             const std::vector<std::string>& ignored = {});

}  // namespace corvane::service
