// A scene: one switcher's settings as a JSON file (routes of both outputs, beeper, DVI
// compatibility, each input's EDID), with when and where they were read. Reading, writing and
// comparing scenes needs no switcher; corvanectl's scene commands carry them to and from one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/edid/edid_names.h"
#include "core/switcher/switcher_state.h"

namespace corvane {

inline constexpr int kSceneVersion = 1;  // the format this program writes and the newest it reads
inline constexpr char kSceneFormat[] = "corvane-scene";
// A scene is a few kilobytes; anything much larger is not one.
inline constexpr std::size_t kSceneMaxBytes = 1 << 20;

struct SSceneEdid {
    enum class Kind { Unknown, Preset, File };
    Kind kind = Kind::Unknown;
    SBuiltInEdid preset;        // Preset: a preset or the default, given to this input alone
    std::string file;           // File: the name it was loaded from, for people
    std::vector<uint8_t> data;  // File: its 128 or 256 bytes, passing the EDID file checks
    bool operator==(const SSceneEdid&) const = default;
};

struct SScene {
    int version = kSceneVersion;
    std::string saved;   // when, ISO 8601 in UTC; may be empty in a scene written by hand
    std::string host;    // where it was read from: the address ("A.B.C.D:PORT") ...
    std::string port;    // ... or the serial port as named on the command line
    std::string mac;     // "02:C5:1A:00:00:01" when known
    std::string device;  // the device line
    std::array<int, 2> routes{1, 1};  // the input (1..4) of output 1 and output 2
    bool beep = false;
    bool dvi = false;
    std::array<SSceneEdid, 4> edids;
    bool operator==(const SScene&) const = default;
};


// The scene's JSON document, or nothing with error set to the reason (a newer format version,
// a JSON error with its line and column, a missing or wrong setting with its path).
std::optional<SScene> ParseScene(std::string_view text, std::string& error);
// The same from a file: only a regular file of at most kSceneMaxBytes is read.
std::optional<SScene> ReadSceneFile(const std::string& path, std::string& error);
// The document ParseScene reads back to the same scene.
std::string SceneJson(const SScene& scene);
// Writes the document under a temporary name beside path, then renames it: a reader never sees
// half a scene and a failed write leaves the old file. Empty on success, else the reason.
std::string WriteSceneFile(const std::string& path, const SScene& scene);

// The scene for people, one line a setting.
std::vector<std::string> SceneLines(const SScene& scene);

// The scene's EDID of an input for people: a preset's name, "Default EDID (1080p,Stereo Audio
// 2.0)" with the preset it is for one input, "file NAME", or "unknown".
std::string EdidSettingText(const SSceneEdid& edid);

// One setting of the scene and the switcher's value of it.
struct SSceneDifference {
    enum class Setting { Route, Beep, Dvi, Edid };
    Setting setting;
    int number = 0;    // the output (routes) or input (EDIDs)
    std::string name;  // "output 1", "beep", "DVI compatibility", "EDID IN2"
    std::string from;  // the switcher's value: "IN 2", "on", "Default EDID"
    std::string to;    // the scene's value: "IN 3", "off", "file lobby.bin"
    // An EDID file where the switcher reports no preset: which EDID it holds cannot be known,
    // so from says nothing and the file is sent all the same.
    bool fromUnknown = false;
    // "output 1: IN 2 -> IN 3"; for a file over an EDID the switcher cannot name,
    // "EDID IN3: file lobby.bin, sent: the switcher cannot report it" ("to be sent" on a dry run).
    std::string Line(bool dryRun = false) const
    {
        if (fromUnknown)
            return name + ": " + to + (dryRun ? ", to be sent" : ", sent") + ": the switcher cannot report it";
        return name + ": " + from + " -> " + to;
    }
};

// What scene apply changes: every setting the switcher holds otherwise, in the order they are
// set (routes, beep, DVI, EDIDs). An EDID from a file is always sent, since the switcher reports
// any EDID that is not a preset alike; an unknown EDID is never touched.
std::vector<SSceneDifference> SceneChanges(const SScene& scene, const SSwitcherState& now);
// What still differs after apply: as SceneChanges, but an EDID from a file matches any EDID the
// switcher reports as not a preset.
std::vector<SSceneDifference> SceneMismatches(const SScene& scene, const SSwitcherState& now);

// A preset's position (0..14) by the name the switcher reports; nothing for "Default EDID",
// which it reports for any EDID that is not a preset, and any other text.
std::optional<int> PresetByName(const std::string& name);

// "2026-12-07T14:03:22Z": the time now, in UTC.
std::string UtcNow();

}  // namespace corvane
