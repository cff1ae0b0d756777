// Scene apply against one switcher: read it, change each setting that differs from the scene
// through the page that owns it, read it back from nothing and tell what did not take. The
// result is words and JSON; corvanectl prints it, the MQTT bridge publishes it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/scene/scene.h"
#include "core/switcher/switcher_reader.h"

namespace corvane {

// A setting apply could not confirm, and why ("the switcher shows IN 1", "the switcher did not
// accept the file").
struct SSceneNotTaken {
    SSceneDifference setting;
    std::string why;
};

struct SSceneApply {
    enum class Stage {
        NoLink,   // the link could not be opened: nothing was read
        NotRead,  // the switcher could not be read before any change
        Done,     // read, changed (unless a dry run) and read back
    };
    Stage stage = Stage::NoLink;
    bool dryRun = false;
    std::vector<SSceneDifference> changes;                     // what differed, in the order set
    std::vector<std::pair<std::string, std::string>> leftAlone;  // setting, what the switcher shows
    std::vector<SSceneNotTaken> notTaken;
    std::vector<SSceneDifference> unread;  // changed, but the read-back did not reach them
    std::vector<std::string> unreadAll;    // every setting the read-back did not reach
    bool complete = true;                  // the read-back reached every setting
    bool stopped = false;                  // a stop ended it: nothing more was changed or read

    bool Matches() const;
    // The lines before the changes: one a change ("output 1: IN 2 -> IN 3"), one an input left
    // as it is.
    std::vector<std::string> PlanLines() const;
    // What did not take and what could not be read back, a line each, for the error stream.
    std::vector<std::string> Problems() const;
    // {"changes","left_alone","dry_run","matches","mismatches","not_read_back"} on one line.
    std::string Json() const;
};

// A reader on a freshly opened link, or nothing after the link said why it could not open.
using ReaderOpener = std::function<std::unique_ptr<CSwitcherReader>()>;

// Applies the scene over links from open: the first for reading and changing; a fresh one after a
// step that failed (the step's timers go with the old link, and a late answer to it cannot be
// taken for another's) and for the read-back when the last step failed. planned sees the result
// once the changes are known, before any is made. Every change is tried, whatever became of the
// one before: the read-back decides, but for an EDID file, which the switcher cannot report, so
// only its acknowledgement tells.
SSceneApply ApplyScene(const SScene& scene, const ReaderOpener& open, bool dryRun,
                       const std::function<void(const SSceneApply&)>& planned = {});

}  // namespace corvane
