// search and config: the switcher search and the network configuration of the panel's network
// side (CNetLink) over the system's datagram sockets, with the switcher list printed as text or JSON.
#include <QtGlobal>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "core/link/net_link.h"
#include "transport/socket_network.h"

namespace corvane::cli {

const char kSearchUsage[] = "search [--wait MS] [--json]  the switchers that answer the search: address, MAC\n";
const char kConfigUsage[] =
    "config --mac MAC (--auto | --static ADDRESS) [--new-mac MAC] [--json]  a switcher's network\n"
    "                                settings, confirmed by a search\n";

namespace {

const char kNetworkOptionsHelp[] =
    "\nOptions:\n"
    "  --wait MS          how long answers to the search are collected (default 2000; config: 1000)\n"
    "  --udp-to ADDRESS[:SEARCH,CONFIG]\n"
    "                     send the requests to ADDRESS instead of the broadcast; with ports, to those\n"
    "                     ports, the answers awaited on ports the system picks\n"
    "  --json             the result as one JSON document on standard output\n"
    "  --trace            every datagram sent (TX) and received (RX) in hexadecimal on standard error\n"
    "  -h, --help         this text\n"
    "JSON: search gives {\"switchers\":[{\"address\",\"mac\"}]}; config gives\n"
    "{\"mac\",\"address\",\"mode\":\"auto\"|\"static\",\"confirmed\":true}.\n"
    "Exit status: 0 done, 1 no switcher answered, it refused or did not confirm, 2 bad usage,\n"
    "3 the UDP port could not be bound.\n";

// Qt's warning about a port that cannot be bound, kept for the one line that ends the command.
std::string g_qtWarning;
void KeepWarning(QtMsgType, const QMessageLogContext&, const QString& text) { g_qtWarning = text.toStdString(); }

// The datagram socket with --trace lines for what it sends and a note of a failed bind.
class CCliDatagrams final : public IDatagramSocket {
public:
    CCliDatagrams(std::ostream* trace) : m_trace(trace)
    {
        m_inner.onDatagram = [this](std::span<const uint8_t> d) {
            if (onDatagram)
                onDatagram(d);
        };
    }
    bool Bind(uint16_t port) override
    {
        if (m_inner.Bind(port))
            return true;
        bindFailed = true;
        return false;
    }
    void Close() override { m_inner.Close(); }
    void Broadcast(std::span<const uint8_t> bytes, uint16_t port) override
    {
        if (m_trace) {
            static const char digits[] = "0123456789ABCDEF";
            std::string line = "TX";
            for (uint8_t b : bytes) {
                line += ' ';
                line += digits[b >> 4];
                line += digits[b & 15];
            }
            *m_trace << line << '\n' << std::flush;
        }
        m_inner.Broadcast(bytes, port);
    }
    void SetTarget(uint32_t ipv4) { m_inner.SetTarget(ipv4); }

    bool bindFailed = false;

private:
    CSocketDatagrams m_inner;
    std::ostream* m_trace;
};

struct SNetRun {
    SNetRun(std::ostream& e, const SCommandLine& c)
        : err(e), session(e, c.link), udp(c.link.trace ? &e : nullptr), net(session.Link(), tcp, udp, view, Ports(c))
    {
        g_qtWarning.clear();
        m_previous = qInstallMessageHandler(KeepWarning);
        if (target)
            udp.SetTarget(*target);
        net.SetWarningSink([&e](const std::string& line) {
            e << "corvanectl: " << (line.rfind("corvane: ", 0) == 0 ? line.substr(9) : line) << '\n';
        });
    }
    ~SNetRun() { qInstallMessageHandler(m_previous); }

    SNetPorts Ports(const SCommandLine& c)
    {
        if (!c.Has("--udp-to"))
            return {};
        const auto aimed = ParseUdpTarget(c.Value("--udp-to"), error);
        if (!aimed) {
            error = "--udp-to " + error;
            return {};
        }
        target = aimed->ipv4;
        return aimed->ports;
    }

    // Starts a search and collects answers for ms; false after one line when the search
    // could not start.
    bool Search(unsigned ms)
    {
        net.StartSearch();
        if (udp.bindFailed)
            return BindFailed();
        bool over = false;
        CTimerOwner wait(session.Link().TimerService(), [&over](unsigned) { over = true; });
        wait.SetTimer(1, ms);
        return session.Run(session.Wait([&] { return over; })).Ok();
    }
    bool BindFailed()
    {
        std::string why = g_qtWarning.rfind("corvane: ", 0) == 0 ? g_qtWarning.substr(9) : g_qtWarning;
        err << "corvanectl: " << (why.empty() ? "the UDP port could not be bound" : why) << '\n';
        return false;
    }

    std::ostream& err;
    std::string error;
    std::optional<uint32_t> target;
    CLinkedSwitcher session;
    CSocketTcpControl tcp;  // the network side drops the control link on each search; none is open
    CCliDatagrams udp;
    INetView view;
    CNetLink net;
    QtMessageHandler m_previous = nullptr;
};

std::optional<unsigned> WaitOption(const SCommandLine& c, unsigned fallback)
{
    if (!c.Has("--wait"))
        return fallback;
    const std::string w = c.Value("--wait");
    if (w.empty() || w.size() > 6 || w.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned ms = static_cast<unsigned>(std::stoul(w));
    return ms >= 1 && ms <= 600000 ? std::optional<unsigned>(ms) : std::nullopt;
}

// The panel's drop-down list order: ascending address text.
void PrintSwitchers(std::ostream& out, bool json, const CSwitcherList& found)
{
    const auto& list = found.Entries();
    if (json) {
        out << "{\"switchers\":[";
        for (std::size_t i = 0; i < list.size(); ++i)
            out << (i ? "," : "") << "{\"address\":" << JsonString(list[i].ip)
                << ",\"mac\":" << JsonString(MacWithColons(list[i].mac)) << "}";
        out << "]}\n";
        return;
    }
    for (const FoundSwitcher& s : list)
        out << s.ip << '\t' << MacWithColons(s.mac) << '\n';
}

}  // namespace

int RunSearch(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, {"--wait", "--udp-to"});
    if (auto r = Preflight(c, out, err, kSearchUsage, kNetworkOptionsHelp))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kSearchUsage);
    const auto wait = WaitOption(c, 2000);
    if (!wait)
        return Usage(err, "--wait is 1 to 600000 milliseconds", kSearchUsage);
    SNetRun run(err, c);
    if (!run.error.empty())
        return Usage(err, run.error, kSearchUsage);
    if (!run.Search(*wait))
        return run.udp.bindFailed ? kExitNoLink : kExitFailed;
    if (run.net.FoundSwitchers.Size() == 0) {
        err << "corvanectl: no switcher answered the search\n";
        return kExitFailed;
    }
    PrintSwitchers(out, c.json, run.net.FoundSwitchers);
    return kExitOk;
}

int FindSwitchers(const std::string& udpTo, unsigned waitMs, bool trace, std::vector<FoundSwitcher>& found,
                  std::ostream& err)
{
    SCommandLine c;
    c.link.trace = trace;
    if (!udpTo.empty())
        c.options["--udp-to"] = udpTo;
    SNetRun run(err, c);
    if (!run.error.empty()) {
        err << "corvanectl: " << run.error << '\n';
        return kExitUsage;
    }
    if (!run.Search(waitMs))
        return run.udp.bindFailed ? kExitNoLink : kExitFailed;
    found = run.net.FoundSwitchers.Entries();
    return kExitOk;
}

int RunConfig(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, {"--mac", "--static", "--new-mac", "--wait", "--udp-to"}, {"--auto"});
    if (auto r = Preflight(c, out, err, kConfigUsage, kNetworkOptionsHelp))
        return *r;
    if (!c.words.empty())
        return Usage(err, "unexpected '" + c.words[0] + "'", kConfigUsage);
    if (!c.Has("--mac"))
        return Usage(err, "--mac names the switcher to configure", kConfigUsage);
    const auto mac = ParseMac(c.Value("--mac"));
    if (!mac)
        return Usage(err, "--mac " + c.Value("--mac") + ": not a MAC address (02:C5:1A:00:00:01)", kConfigUsage);
    if (c.Has("--auto") == c.Has("--static"))
        return Usage(err, "give --auto or --static ADDRESS", kConfigUsage);
    const std::string address = c.Value("--static");
    if (c.Has("--static") && (std::count(address.begin(), address.end(), '.') != 3 ||
                              !AddressFieldsValid(SplitAddress(address))))
        return Usage(err, "--static " + address + ": not an IPv4 address", kConfigUsage);
    std::string newMac = *mac;
    if (c.Has("--new-mac")) {
        const auto m = ParseMac(c.Value("--new-mac"));
        if (!m)
            return Usage(err, "--new-mac " + c.Value("--new-mac") + ": not a MAC address", kConfigUsage);
        newMac = *m;
    }
    const auto wait = WaitOption(c, 1000);
    if (!wait)
        return Usage(err, "--wait is 1 to 600000 milliseconds", kConfigUsage);

    SNetRun run(err, c);
    if (!run.error.empty())
        return Usage(err, run.error, kConfigUsage);
    // The configuration names the switcher by its MAC; the search finds it as the panel's
    // list would, and it becomes the current switcher.
    if (!run.Search(*wait))
        return run.udp.bindFailed ? kExitNoLink : kExitFailed;
    std::optional<std::size_t> index;
    for (std::size_t i = 0; i < run.net.FoundSwitchers.Size(); ++i)
        if (run.net.FoundSwitchers.At(i).mac == *mac)
            index = i;
    if (!index) {
        err << "corvanectl: no switcher with MAC " << MacWithColons(*mac) << " answered the search\n";
        return kExitFailed;
    }
    run.net.OnSwitcherSelected(*index);
    run.net.nIpMode = c.Has("--static") ? IP_MODE_STATIC : IP_MODE_AUTO;
    if (c.Has("--static"))
        run.net.SwitcherIp = SplitAddress(address);
    run.net.NewMac = SplitMac(newMac);
    // The panel waits out its 15 s after a refusal; here a refusal ends the command at once.
    std::optional<ConfigOutcome> outcome;
    run.net.SetConfigOutcomeSink([&](ConfigOutcome o) { outcome = o; });
    // The configuration is a datagram, not the frame the control link sent last.
    run.session.SetTimeoutSubject([] { return std::string("the configuration"); });
    if (!run.net.SendConfiguration(run.net.SwitcherMac))
        return Usage(err, "the address makes no configuration", kConfigUsage);
    if (run.udp.bindFailed) {
        run.BindFailed();
        return kExitNoLink;
    }
    if (!run.session.Run(run.session.Wait([&] { return outcome.has_value(); })).Ok())
        return kExitFailed;
    if (outcome == ConfigOutcome::Refused) {
        err << "corvanectl: the switcher refused the configuration\n";
        return kExitFailed;
    }
    if (outcome != ConfigOutcome::Confirmed)
        return kExitFailed;
    std::string confirmed;
    for (const FoundSwitcher& s : run.net.FoundSwitchers.Entries())
        if (s.mac == newMac)
            confirmed = s.ip;
    if (confirmed.empty()) {
        err << "corvanectl: the search after the configuration did not find " << MacWithColons(newMac) << '\n';
        return kExitFailed;
    }
    const char* mode = c.Has("--static") ? "static" : "auto";
    if (c.json)
        out << "{\"mac\":" << JsonString(MacWithColons(newMac)) << ",\"address\":" << JsonString(confirmed)
            << ",\"mode\":\"" << mode << "\",\"confirmed\":true}\n";
    else
        out << confirmed << '\t' << MacWithColons(newMac) << '\t' << mode << "\nConfigure successfully!\n";
    return kExitOk;
}

}  // namespace corvane::cli
