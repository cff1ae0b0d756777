// ports, status, route, beep, dvi and reset: the General and Matrix pages with text views.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <vector>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "core/switcher/state_json.h"
#include "core/switcher/switcher.h"
#include "transport/port_list.h"

namespace corvane::cli {

const char kPortsUsage[] = "ports [--json]  the serial ports, ports held by another program marked\n";
const char kStatusUsage[] =
    "status [--json]  signals, beeper, DVI compatibility, routes, input EDIDs, device line\n";
const char kRouteUsage[] =
    "route [--json]  both routes\n"
    "  route INPUT OUTPUT [--json]  route input 1-4 to output 1, 2 or all\n";
const char kBeepUsage[] = "beep on|off [--json]  switch the beeper\n";
const char kDviUsage[] = "dvi on|off [--json]  switch DVI compatibility\n";
const char kResetUsage[] = "reset [--yes] [--json]  factory settings (asks unless --yes)\n";

namespace {

void PrintRoutes(std::ostream& out, const std::array<int, 2>& routes, bool json, bool onlySet = false,
                 std::array<bool, 2> set = {true, true})
{
    if (json) {
        out << "{\"routes\":[";
        bool first = true;
        for (int o = 1; o <= 2; ++o) {
            if (onlySet && !set[o - 1])
                continue;
            out << (first ? "" : ",") << "{\"output\":" << o << ",\"input\":" << routes[o - 1] << "}";
            first = false;
        }
        out << "]}\n";
        return;
    }
    for (int o = 1; o <= 2; ++o)
        if (!onlySet || set[o - 1])
            out << "OUTPUT " << o << ": IN " << routes[o - 1] << "\n";
}

// "on"/"off" of beep and dvi.
std::optional<bool> ParseOnOff(const std::string& w)
{
    if (w == "on")
        return true;
    if (w == "off")
        return false;
    return std::nullopt;
}

int RunSwitch(Args args, std::ostream& out, std::ostream& err, bool beep)
{
    const char* usage = beep ? kBeepUsage : kDviUsage;
    const SCommandLine c = Parse(args);
    if (auto r = Preflight(c, out, err, usage, kLinkOptionsHelp))
        return *r;
    if (c.words.size() != 1 || !ParseOnOff(c.words[0]))
        return Usage(err, c.words.empty() ? "on or off?" : "expected on or off, got '" + c.words[0] + "'", usage);
    const bool enable = *ParseOnOff(c.words[0]);
    CLinkedSwitcher run(err, c.link);
    if (int r = run.Open())
        return r;
    if (!run.Run(run.Switch(beep, enable)).Ok() && run.NotDone().empty())
        return kExitFailed;
    const std::optional<bool>& shown = beep ? run.state.beep : run.state.dvi;
    const char* key = beep ? "beep" : "dvi";
    if (c.json)
        out << "{\"" << key << "\":" << Bool(*shown) << "}\n";
    else
        out << (beep ? "Beep: " : "DVI compatibility: ") << OnOff(*shown) << "\n";
    if (*shown != enable) {
        err << "corvanectl: the switcher reports " << key << ' ' << OnOff(*shown) << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

const char* const kLinkOptionsHelp =
    "\nOptions:\n"
    "  --port COMn|PATH  the switcher's serial port: a COM number as the panel lists it\n"
    "                    (aliases included) or a device path; default $CORVANE_PORT\n"
    "  --host ADDRESS[:PORT]  the switcher's IPv4 address or host name, TCP port 8000\n"
    "                    unless PORT is given; default $CORVANE_HOST\n"
    "  --json            the result as one JSON document on standard output\n"
    "  --trace           every frame sent (TX) and received (RX) in hexadecimal on standard error\n"
    "  -h, --help        this text\n"
    "Exit status: 0 done, 1 the switcher refused or did not answer, 2 bad usage,\n"
    "3 the link could not be opened.\n";

namespace {
// The device node behind a port's path (a link, for an emulator's port); the path itself when
// it leads nowhere.
std::string DeviceNode(const std::string& path)
{
    char node[PATH_MAX];
    return realpath(path.c_str(), node) ? std::string(node) : path;
}
}  // namespace

int RunPorts(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args);
    if (auto r = Preflight(c, out, err, kPortsUsage, kLinkOptionsHelp))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kPortsUsage);
    const SPortPaths paths = DefaultPortPaths();
    std::vector<SPortInfo> free, denied, held;
    if (auto error = ListSerialPorts(free, paths, &denied, &held)) {
        err << "corvanectl: " << *error << "\n";
        return kExitNoLink;
    }
    struct SRow {
        unsigned number;
        std::string device, path, description, state;  // the node, and the path it is opened by
    };
    std::vector<SRow> rows;
    const std::pair<const std::vector<SPortInfo>*, const char*> lists[] = {
        {&free, "free"}, {&denied, "denied"}, {&held, "in use"}};
    for (const auto& [list, state] : lists)
        for (const auto& p : *list)
            rows.push_back({ComNumberOf(p.portName), DeviceNode(p.devicePath), p.devicePath, p.description, state});
    std::sort(rows.begin(), rows.end(), [](const SRow& a, const SRow& b) { return a.number < b.number; });
    if (c.json) {
        out << "{\"ports\":[";
        for (std::size_t i = 0; i < rows.size(); ++i)
            out << (i ? "," : "") << "{\"name\":\"COM" << rows[i].number << "\",\"number\":" << rows[i].number
                << ",\"device\":" << JsonString(rows[i].device) << ",\"path\":" << JsonString(rows[i].path)
                << ",\"description\":"
                << JsonString(rows[i].description) << ",\"state\":\"" << rows[i].state << "\"}";
        out << "]}\n";
        return kExitOk;
    }
    for (const auto& r : rows) {
        out << "COM" << r.number << '\t' << r.device << '\t' << r.description;
        if (r.state == "in use")
            out << "\t(in use)";
        else if (r.state == "denied")
            out << "\t(permission denied: not in the dialout group?)";
        out << '\n';
    }
    return kExitOk;
}

int RunStatus(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args);
    if (auto r = Preflight(c, out, err, kStatusUsage, kLinkOptionsHelp))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kStatusUsage);
    CLinkedSwitcher run(err, c.link);
    if (int r = run.Open())
        return r;
    if (!run.Run(run.ReadSettings(true)).Ok() || !run.Run(run.ReadDevice()).Ok())
        return kExitFailed;
    const SSwitcherState& v = run.State();
    const auto& names = v.edids;
    const SDeviceInfo& device = *v.device;
    if (c.json) {
        out << StatusJson(v) << '\n';
        return kExitOk;
    }
    for (const auto& line : v.inputs)
        out << line->text << '\n';
    for (const auto& line : v.outputs)
        out << line->text << '\n';
    out << "Beep: " << OnOff(*v.beep) << "\nDVI compatibility: " << OnOff(*v.dvi) << '\n';
    PrintRoutes(out, v.routes, false);
    for (int i = 0; i < 4; ++i)
        out << "EDID IN" << i + 1 << ": " << names[i].value_or("") << '\n';
    out << device.Line() << '\n';
    return kExitOk;
}

int RunRoute(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args);
    if (auto r = Preflight(c, out, err, kRouteUsage, kLinkOptionsHelp))
        return *r;
    if (c.words.size() != 0 && c.words.size() != 2)
        return Usage(err, "give both INPUT and OUTPUT, or neither", kRouteUsage);
    int input = 0;
    std::array<bool, 2> outputs{false, false};
    if (c.words.size() == 2) {
        const std::string& in = c.words[0];
        const std::string& o = c.words[1];
        if (in.size() != 1 || in[0] < '1' || in[0] > '4')
            return Usage(err, "INPUT is 1, 2, 3 or 4, not '" + in + "'", kRouteUsage);
        input = in[0] - '0';
        if (o == "1" || o == "2")
            outputs[o[0] - '1'] = true;
        else if (o == "all")
            outputs = {true, true};
        else
            return Usage(err, "OUTPUT is 1, 2 or all, not '" + o + "'", kRouteUsage);
    }
    CLinkedSwitcher run(err, c.link);
    if (int r = run.Open())
        return r;
    if (input == 0) {
        if (!run.Run(run.ReadRoutes()).Ok())
            return kExitFailed;
        PrintRoutes(out, run.state.routes, c.json);
        return kExitOk;
    }
    run.Link().SetCurrentPage(PAGE_MATRIX);
    std::array<bool, 2> done{false, false};
    run.SetDoneSoFar([&]() -> std::string {
        std::string text;
        for (int o = 1; o <= 2; ++o) {
            if (!outputs[o - 1])
                continue;
            const bool current = !done[o - 1] && (o == 1 || done[0] || !outputs[0]);
            if (current)
                continue;  // the step that failed is named already
            text += (text.empty() ? "" : "; ") + std::string("output ") + std::to_string(o) +
                    (done[o - 1] ? " already shows input " + std::to_string(input) : " was not tried");
        }
        return text;
    });
    for (int o = 1; o <= 2; ++o) {
        if (!outputs[o - 1])
            continue;
        if (!run.Run(run.Route(o, input)).Ok()) {
            if (!run.NotDone().empty())
                err << "corvanectl: " << run.NotDone() << "\n";
            return kExitFailed;
        }
        done[o - 1] = true;
    }
    PrintRoutes(out, run.state.routes, c.json, true, outputs);
    return kExitOk;
}

int RunBeep(Args args, std::ostream& out, std::ostream& err) { return RunSwitch(args, out, err, true); }
int RunDvi(Args args, std::ostream& out, std::ostream& err) { return RunSwitch(args, out, err, false); }

int RunReset(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, {}, {"--yes"});
    if (auto r = Preflight(c, out, err, kResetUsage, kLinkOptionsHelp))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kResetUsage);
    if (!c.Has("--yes")) {
        if (isatty(STDIN_FILENO) != 1)
            return Usage(err, "reset asks first; give --yes when standard input is not a terminal", kResetUsage);
        err << "Do you want to reset to factory settings? [y/N] " << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
        if (answer != "y" && answer != "Y" && answer != "yes") {
            err << "corvanectl: reset cancelled\n";
            return kExitFailed;
        }
    }
    CLinkedSwitcher run(err, c.link);
    if (int r = run.Open())
        return r;
    const Frame& sent = run.Link().CommandFrame;
    run.SetTimeoutSubject([&sent] {
        return "factory reset step " + std::to_string(FactoryResetStepOf(sent)) + " of " +
               std::to_string(kResetSteps);
    });
    run.SetDoneSoFar([&sent]() -> std::string {
        const int step = FactoryResetStepOf(sent);
        if (step <= 1)
            return "";
        return step == 2 ? "step 1 was carried out" : "steps 1 to " + std::to_string(step - 1) + " were carried out";
    });
    if (!run.Run(run.FactoryReset()).Ok())
        return kExitFailed;
    out << (c.json ? "{\"reset\":true}\n" : "Set successfully!\n");
    return kExitOk;
}

}  // namespace corvane::cli
