// ports, status, route, beep, dvi and reset: the General and Matrix pages with text views.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <vector>

#include "cli/link_commands.h"
#include "cli/session.h"
#include "link/port_list.h"
#include "pages/general_page.h"
#include "pages/matrix_page.h"

namespace corvane::cli {

const char kPortsUsage[] = "ports [--json]  the serial ports, ports held by another program marked\n";
const char kStatusUsage[] = "status [--json]  signals, beeper, DVI compatibility and routes\n";
const char kRouteUsage[] =
    "route [--json]  both routes\n"
    "  route INPUT OUTPUT [--json]  route input 1-4 to output 1, 2 or all\n";
const char kBeepUsage[] = "beep on|off [--json]  switch the beeper\n";
const char kDviUsage[] = "dvi on|off [--json]  switch DVI compatibility\n";
const char kResetUsage[] = "reset [--yes] [--json]  factory settings (asks unless --yes)\n";

namespace {

// The words of a command line: the options every link command knows and the rest in order.
struct SCommandLine {
    SConnection link;
    bool json = false;
    bool help = false;
    bool yes = false;
    std::vector<std::string> words;
    std::string error;  // a bad command line: the reason
};

SCommandLine Parse(Args args, bool acceptsYes)
{
    SCommandLine c;
    if (const char* p = std::getenv("CORVANE_PORT"))
        c.link.port = p;
    if (const char* h = std::getenv("CORVANE_HOST"))
        c.link.host = h;
    bool portGiven = false, hostGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        std::string value;
        bool hasValue = false;
        if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
            value = a.substr(a.find('=') + 1);
            a = a.substr(0, a.find('='));
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                c.error = a + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (a == "--port" || a == "--host") {
            if (!takeValue())
                return c;
            (a == "--port" ? c.link.port : c.link.host) = value;
            (a == "--port" ? portGiven : hostGiven) = true;
        } else if (hasValue) {
            c.error = "option " + a + " takes no value";
            return c;
        } else if (a == "--json") {
            c.json = true;
        } else if (a == "--trace") {
            c.link.trace = true;
        } else if (a == "--help" || a == "-h") {
            c.help = true;
        } else if (a == "--yes" && acceptsYes) {
            c.yes = true;
        } else if (a.size() > 1 && a[0] == '-') {
            c.error = "unknown option '" + a + "'";
            return c;
        } else {
            c.words.push_back(a);
        }
    }
    if (portGiven && hostGiven)
        c.error = "--port and --host exclude each other";
    else if (portGiven)
        c.link.host.clear();  // the command line wins over the environment
    else if (hostGiven)
        c.link.port.clear();
    return c;
}

int Usage(std::ostream& err, const std::string& reason, const char* usage)
{
    err << "corvanectl: " << reason << "\nUsage: corvanectl " << usage;
    return kExitUsage;
}

// Handles --help and a bad command line; nullopt when the command should go on.
std::optional<int> Preflight(const SCommandLine& c, std::ostream& out, std::ostream& err, const char* usage)
{
    if (c.help) {
        out << "Usage: corvanectl " << usage << kLinkOptionsHelp;
        return kExitOk;
    }
    if (!c.error.empty())
        return Usage(err, c.error, usage);
    return std::nullopt;
}

const char* Bool(bool b) { return b ? "true" : "false"; }
const char* OnOff(bool b) { return b ? "on" : "off"; }

std::string JsonString(const std::string& s)
{
    std::string r = "\"";
    for (char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            r += '\\';
            r += ch;
        } else if (u < 0x20) {
            static const char digits[] = "0123456789abcdef";
            r += "\\u00";
            r += digits[u >> 4];
            r += digits[u & 15];
        } else {
            r += ch;
        }
    }
    return r + "\"";
}

// What the pages showed, collected for printing.
struct SGeneralView final : IGeneralView {
    std::array<std::optional<SSignalLine>, 4> inputs;
    std::array<std::optional<SSignalLine>, 2> outputs;
    std::optional<bool> beep, dvi;
    void ClearDeviceInfo() override
    {
        inputs = {};
        outputs = {};
    }
    void WriteDeviceInfo(const SSignalLine& line) override
    {
        if (line.output && line.number >= 1 && line.number <= 2)
            outputs[line.number - 1] = line;
        else if (!line.output && line.number >= 1 && line.number <= 4)
            inputs[line.number - 1] = line;
    }
    void ShowBeep(bool on) override { beep = on; }
    void ShowDvi(bool on) override { dvi = on; }
};

struct SMatrixView final : IMatrixView {
    std::array<int, 2> reported{0, 0};  // 0: not reported
    void CheckInput(int, int) override {}
    void ShowDigit(int output, int input) override { reported.at(output - 1) = input; }
};

// The session with the General and Matrix pages on their text views.
struct SLinkRun {
    explicit SLinkRun(std::ostream& err, const SConnection& c)
        : session(err, c), general(session.Link(), generalView), matrix(session.Link(), matrixView)
    {
        session.SetPageHandler(PAGE_GENERAL, [this](const Frame& f) { general.OnGeneralReply(f); });
        session.SetPageHandler(PAGE_MATRIX, [this](const Frame& f) { matrix.OnRoutingReply(f); });
    }
    // The route queries of the opening Matrix page: output 1, then output 2, 7 s in all.
    bool QueryRoutes()
    {
        CLinkCore& link = session.Link();
        link.SetCurrentPage(PAGE_MATRIX);
        matrixView.reported = {0, 0};
        if (!link.BeginCommand())
            return false;
        link.SendCommand({0x02, 0x01, 0x01});
        link.SetTimer(TIMER_PAGE_TIMEOUT, kPageTimeoutMs);
        return session.RunUntil([&] { return g_bReady; });
    }

    CSession session;
    SGeneralView generalView;
    CGeneralPage general;
    SMatrixView matrixView;
    CMatrixPage matrix;
};

void PrintRoutes(std::ostream& out, const SMatrixView& v, bool json, bool onlySet = false,
                 std::array<bool, 2> set = {true, true})
{
    if (json) {
        out << "{\"routes\":[";
        bool first = true;
        for (int o = 1; o <= 2; ++o) {
            if (onlySet && !set[o - 1])
                continue;
            out << (first ? "" : ",") << "{\"output\":" << o << ",\"input\":" << v.reported[o - 1] << "}";
            first = false;
        }
        out << "]}\n";
        return;
    }
    for (int o = 1; o <= 2; ++o)
        if (!onlySet || set[o - 1])
            out << "OUTPUT " << o << ": IN " << v.reported[o - 1] << "\n";
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
    const SCommandLine c = Parse(args, false);
    if (auto r = Preflight(c, out, err, usage))
        return *r;
    if (c.words.size() != 1 || !ParseOnOff(c.words[0]))
        return Usage(err, c.words.empty() ? "on or off?" : "expected on or off, got '" + c.words[0] + "'", usage);
    const bool enable = *ParseOnOff(c.words[0]);
    SLinkRun run(err, c.link);
    if (int r = run.session.Open())
        return r;
    std::optional<bool>& shown = beep ? run.generalView.beep : run.generalView.dvi;
    if (beep)
        run.general.OnBeep(enable);
    else
        run.general.OnDvi(enable);
    if (run.session.Failed() || !run.session.AwaitSet([&] { return shown.has_value(); }))
        return kExitFailed;
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
    "  --host ADDRESS    the switcher's address (TCP port 8000); default $CORVANE_HOST\n"
    "  --json            the result as one JSON document on standard output\n"
    "  --trace           every frame sent (TX) and received (RX) in hexadecimal on standard error\n"
    "  -h, --help        this text\n"
    "Exit status: 0 done, 1 the switcher refused or did not answer, 2 bad usage,\n"
    "3 the link could not be opened.\n";

int RunPorts(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, false);
    if (auto r = Preflight(c, out, err, kPortsUsage))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kPortsUsage);
    const SPortPaths paths = DefaultPortPaths();
    std::vector<SPortInfo> free, denied;
    if (auto error = ListSerialPorts(free, paths, &denied)) {
        err << "corvanectl: " << *error << "\n";
        return kExitNoLink;
    }
    struct SRow {
        unsigned number;
        std::string device, description, state;
    };
    std::vector<SRow> rows;
    auto numberOf = [](const SPortInfo& p) { return ComNumberOf(p.portName); };
    for (const auto& p : free)
        rows.push_back({numberOf(p), p.devicePath, p.description, "free"});
    for (const auto& p : denied)
        rows.push_back({numberOf(p), p.devicePath, p.description, "denied"});
    // Ports that exist but are held by another program are not offered by the list; name them.
    const CPortChecks checks(paths);
    for (unsigned n = 1; n <= 255; ++n) {
        bool known = false;
        for (const auto& r : rows)
            known = known || r.number == n;
        const std::string path = DevicePathForCom(n, paths);
        if (known || path.empty())
            continue;
        const std::string real = ResolveNode(path);
        if (checks.IsConsole(path, real))
            continue;
        const bool uart = path.rfind(paths.devRoot + "/ttyS", 0) == 0;
        const CPortHandle::SResult r = CPortHandle::Open(path, real, checks, uart);
        if (r.failure == EOpenFailure::Held) {
            const std::string dev = "/dev/";
            rows.push_back({n, path, real.rfind(dev, 0) == 0 ? real.substr(dev.size()) : real, "in use"});
        }
    }
    std::sort(rows.begin(), rows.end(), [](const SRow& a, const SRow& b) { return a.number < b.number; });
    if (c.json) {
        out << "{\"ports\":[";
        for (std::size_t i = 0; i < rows.size(); ++i)
            out << (i ? "," : "") << "{\"name\":\"COM" << rows[i].number << "\",\"number\":" << rows[i].number
                << ",\"device\":" << JsonString(rows[i].device) << ",\"description\":"
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
    const SCommandLine c = Parse(args, false);
    if (auto r = Preflight(c, out, err, kStatusUsage))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kStatusUsage);
    SLinkRun run(err, c.link);
    if (int r = run.session.Open())
        return r;
    SGeneralView& v = run.generalView;
    CLinkCore& link = run.session.Link();
    link.SetCurrentPage(PAGE_GENERAL);
    // The queries a link sends when it opens, then the panel's status sequence and routes.
    if (!run.session.Query({0x01, 0x0C}, [&] { return v.dvi.has_value(); }) ||
        !run.session.Query({0x01, 0x0B}, [&] { return v.beep.has_value(); }))
        return kExitFailed;
    run.general.OnStatus();
    if (run.session.Failed() || !run.session.RunUntil([&] { return g_bReady; }))
        return kExitFailed;
    if (!run.QueryRoutes())
        return kExitFailed;
    const auto& routes = run.matrixView.reported;
    if (c.json) {
        out << "{\"inputs\":[";
        for (int i = 0; i < 4; ++i)
            out << (i ? "," : "") << "{\"input\":" << i + 1 << ",\"signal\":" << Bool(v.inputs[i]->connected) << "}";
        out << "],\"outputs\":[";
        for (int o = 0; o < 2; ++o)
            out << (o ? "," : "") << "{\"output\":" << o + 1 << ",\"signal\":" << Bool(v.outputs[o]->connected)
                << ",\"input\":" << routes[o] << "}";
        out << "],\"beep\":" << Bool(*v.beep) << ",\"dvi\":" << Bool(*v.dvi) << "}\n";
        return kExitOk;
    }
    for (const auto& line : v.inputs)
        out << line->text << '\n';
    for (const auto& line : v.outputs)
        out << line->text << '\n';
    out << "Beep: " << OnOff(*v.beep) << "\nDVI compatibility: " << OnOff(*v.dvi) << '\n';
    PrintRoutes(out, run.matrixView, false);
    return kExitOk;
}

int RunRoute(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, false);
    if (auto r = Preflight(c, out, err, kRouteUsage))
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
    SLinkRun run(err, c.link);
    if (int r = run.session.Open())
        return r;
    if (input == 0) {
        if (!run.QueryRoutes())
            return kExitFailed;
        PrintRoutes(out, run.matrixView, c.json);
        return kExitOk;
    }
    run.session.Link().SetCurrentPage(PAGE_MATRIX);
    for (int o = 1; o <= 2; ++o) {
        if (!outputs[o - 1])
            continue;
        run.matrix.OnInputButton(o, input);
        if (run.session.Failed() || !run.session.RunUntil([&] { return g_bReady; }))
            return kExitFailed;
    }
    PrintRoutes(out, run.matrixView, c.json, true, outputs);
    return kExitOk;
}

int RunBeep(Args args, std::ostream& out, std::ostream& err) { return RunSwitch(args, out, err, true); }
int RunDvi(Args args, std::ostream& out, std::ostream& err) { return RunSwitch(args, out, err, false); }

int RunReset(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, true);
    if (auto r = Preflight(c, out, err, kResetUsage))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kResetUsage);
    if (!c.yes) {
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
    SLinkRun run(err, c.link);
    if (int r = run.session.Open())
        return r;
    run.session.SetAnswer(IDOK);
    run.session.Link().SetCurrentPage(PAGE_GENERAL);
    run.general.OnFactoryReset();
    if (run.session.Failed() || !run.session.RunUntil([&] { return g_bReady; }))
        return kExitFailed;
    out << (c.json ? "{\"reset\":true}\n" : "Set successfully!\n");
    return kExitOk;
}

}  // namespace corvane::cli
