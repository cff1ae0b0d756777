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
#include "core/switcher/switcher.h"

namespace corvane {

// A setting apply could not confirm, and why ("the switcher shows IN 1", "the switcher did not
// accept the file").
struct SSceneNotTaken {
    SSceneDifference setting;
    std::string why;
};

struct SSceneApply {
    enum class Stage {
        NoLink,   // the link could not be opened: nothing was read (the operation never ran)
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

// Applies the scene to the switcher, as one operation: reads it, tells planned (once the changes
// are known, before any is made), changes each setting that differs, then reads it back from
// nothing into result. Every change is tried, whatever became of the one before (each starts
// on a settled line, with what the one before still owed dropped): the read-back decides. A
// stop ends it between two changes; a lost link ends it there too. Done when the switcher
// matches the scene (or, on a dry run, when it was read). scene and planned are kept by the
// operation; result must outlive it.
SOperation ApplyScene(CSwitcher& sw, SScene scene, bool dryRun, SSceneApply& result,
                      std::function<void(const SSceneApply&)> planned = {});

}  // namespace corvane
