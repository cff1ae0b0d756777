// corvanectl's commands that talk to a switcher (and `ports`): each takes the words after its
// name, writes results to out and one-line errors to err, and returns the exit status:
// 0 done, 1 the switcher refused or did not answer, 2 bad usage, 3 the link could not be opened.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/scene/scene.h"
#include "transport/linked_switcher.h"

namespace corvane::cli {

int RunPorts(Args args, std::ostream& out, std::ostream& err);
int RunStatus(Args args, std::ostream& out, std::ostream& err);
int RunRoute(Args args, std::ostream& out, std::ostream& err);
int RunBeep(Args args, std::ostream& out, std::ostream& err);
int RunDvi(Args args, std::ostream& out, std::ostream& err);
int RunReset(Args args, std::ostream& out, std::ostream& err);
int RunEdid(Args args, std::ostream& out, std::ostream& err);
// firmware info|upgrade (pack and unpack need no switcher: RunFirmware).
int RunFirmwareLink(Args args, std::ostream& out, std::ostream& err);
int RunSearch(Args args, std::ostream& out, std::ostream& err);
int RunConfig(Args args, std::ostream& out, std::ostream& err);
// scene save|apply|show (see ApplyScene for apply against one switcher).
int RunScene(Args args, std::ostream& out, std::ostream& err);
// watch: the status reading repeated, one line per change, until a signal or a lost link.
int RunWatch(Args args, std::ostream& out, std::ostream& err);
// What watch prints of a reading: one line of text, or one JSON object, per item that is new
// or changed since the last reading (each change with the old value).
void PrintChanges(std::ostream& out, bool json, const SSwitcherState& now, const std::optional<SSwitcherState>& last);

struct SApplyOptions {
    bool dryRun = false;
    bool json = false;
};
// scene apply against one switcher, the scene read and checked already: reads the switcher,
// prints what differs, changes it (unless dryRun), reads back and names on err every setting
// that does not match. Returns the command's exit status (0 only when the switcher matches,
// or on a dry run; 1; 3 when the link could not be opened).
int ApplyScene(const SScene& scene, const SConnection& link, const SApplyOptions& options, std::ostream& out,
               std::ostream& err);

// A search as `search` makes it (aimed with udpTo when not empty), collecting answers for waitMs:
// the answers (address and MAC), in the panel's list order. kExitOk, or the exit status after one
// line on err.
int FindSwitchers(const std::string& udpTo, unsigned waitMs, bool trace, std::vector<FoundSwitcher>& found,
                  std::ostream& err);

// A progress line of the firmware transfer: value of maximum bytes sent, elapsed seconds in.
// bar: "[##########..........]  50% 1536/3072 bytes 0.8 KiB/s 0:02 left"; otherwise
// "firmware: 50% 1536/3072 bytes".
std::string ProgressLine(int value, int maximum, double elapsed, bool bar);

extern const char kPortsUsage[], kStatusUsage[], kRouteUsage[], kBeepUsage[], kDviUsage[], kResetUsage[],
    kEdidUsage[], kFirmwareLinkUsage[], kSearchUsage[], kConfigUsage[], kSceneUsage[], kWatchUsage[];
// The options every link command takes, for the help texts.
extern const char* const kLinkOptionsHelp;

}  // namespace corvane::cli
