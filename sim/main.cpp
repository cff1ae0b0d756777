// corvane-sim: the switcher model behind a pseudo-terminal, a TCP port and the UDP search and
// configuration ports, in one poll loop on one thread.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "core/text/terminal_text.h"
#include "platform/stop_signal.h"
#include "sim/line_pacer.h"
#include "sim/options.h"
#include "sim/session.h"
#include "sim/switcher.h"
#include "sim/transports.h"

using namespace corvane;
using namespace corvane::sim;

namespace {

int64_t NowNs()
{
    using namespace std::chrono;
    static const auto start = steady_clock::now();
    return duration_cast<nanoseconds>(steady_clock::now() - start).count();
}

bool g_quiet = false;

void Line(const std::string& link, const std::string& what, std::span<const uint8_t> bytes = {},
          const std::string& note = {})
{
    if (g_quiet)
        return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    std::string text = HexBytes(bytes);
    if (!text.empty())
        text.pop_back();
    std::printf("%02d:%02d:%02d.%03ld %s %s%s%s%s%s\n", local.tm_hour, local.tm_min, local.tm_sec,
                ts.tv_nsec / 1000000, link.c_str(), what.c_str(), text.empty() ? "" : " ", text.c_str(),
                note.empty() ? "" : (text.empty() ? " " : "  # "), note.c_str());
    std::fflush(stdout);
}

TraceFn TraceTo(const std::string& link)
{
    return [link](RxEvent e, std::span<const uint8_t> bytes, const std::string& note) {
        switch (e) {
        case RxEvent::Frame:
        case RxEvent::Block:
        case RxEvent::Datagram:
        case RxEvent::BadFrame:
        case RxEvent::PartialBlock: Line(link, "rx", bytes, note); break;
        case RxEvent::Skipped: Line(link, "skip", bytes); break;
        case RxEvent::Ignored: Line(link, "--", {}, note); break;
        case RxEvent::Fault: Line(link, "fault", {}, note); break;
        }
    };
}

// A byte stream to the panel: the pty master or an accepted TCP connection.
struct Stream {
    std::string name;
    CFd fd;  // the TCP connection; invalid for the pty, whose descriptor the port owns
    std::unique_ptr<CStreamSession> session;
    std::vector<uint8_t> pending;  // what a full kernel buffer did not take yet
    bool closed = false;
};

constexpr std::size_t kMaxPending = 64 * 1024;

// One write of what the link takes now. A TCP connection that fails is closed; the pty never
// fails this way, since the emulator keeps a slave descriptor of its own.
ssize_t Put(Stream& s, int fd, std::span<const uint8_t> bytes)
{
    const bool tcp = s.fd.Valid();
    const ssize_t n = tcp ? send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) : write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && tcp)
        s.closed = true;
    return n;
}

void WriteOut(Stream& s, int fd, std::span<const uint8_t> bytes)
{
    if (s.pending.empty()) {
        const ssize_t n = Put(s, fd, bytes);
        if (n == static_cast<ssize_t>(bytes.size()) || s.closed)
            return;
        bytes = bytes.subspan(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    if (s.pending.size() + bytes.size() > kMaxPending) {
        Line(s.name, "--", {}, "nobody reads: " + std::to_string(bytes.size()) + " bytes dropped");
        return;
    }
    s.pending.insert(s.pending.end(), bytes.begin(), bytes.end());
}

void FlushPending(Stream& s, int fd)
{
    if (s.pending.empty())
        return;
    if (const ssize_t n = Put(s, fd, s.pending); n > 0)
        s.pending.erase(s.pending.begin(), s.pending.begin() + n);
}

std::string Ip(const Ipv4& ip)
{
    return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
           std::to_string(ip[3]);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!parsed) {
        std::fprintf(stderr, "corvane-sim: %s\nTry 'corvane-sim --help'.\n", TerminalText(error).c_str());
        return 2;
    }
    Options opt = *parsed;
    if (opt.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (opt.version) {
        std::puts("corvane-sim " CORVANE_VERSION);
        return 0;
    }
    g_quiet = opt.quiet;

    const CStopSignal stop(true);  // SIGINT, SIGTERM and SIGHUP end the poll loop
    if (!stop.Ok())
        return std::perror("pipe"), 1;
    signal(SIGPIPE, SIG_IGN);

    // Transports first: the search reply reports the TCP port actually bound.
    CPtyPort pty;
    CFd listener, udpSearch, udpConfig;
    std::vector<std::string> where;
    auto fail = [&](const std::string& what) {
        std::fprintf(stderr, "corvane-sim: %s\n", TerminalText(what).c_str());
        return 1;
    };
    if (opt.serial) {
        if (!pty.Open(opt.comNumber, kFirstFreeCom, error))
            return fail(error);
        where.push_back("serial: com" + std::to_string(pty.ComNumber()) + " -> " + pty.SlavePath());
    }
    if (opt.tcp) {
        listener = ListenTcp(opt.tcpHost, opt.tcpPort, error);
        if (!listener.Valid())
            return fail(error);
        opt.settings.tcpPort = opt.tcpPort;
        where.push_back("tcp: " + opt.tcpHost + ":" + std::to_string(opt.tcpPort));
    }
    if (opt.udp) {
        udpSearch = BindUdp(opt.udpHost, opt.searchPort, error);
        if (udpSearch.Valid())
            udpConfig = BindUdp(opt.udpHost, opt.configPort, error);
        if (!udpSearch.Valid() || !udpConfig.Valid())
            return fail(error);
        where.push_back("udp: " + opt.udpHost + ":" + std::to_string(opt.searchPort) + "," +
                        std::to_string(opt.configPort));
    }

    CSwitcher device(opt.settings);
    CFaultPlan faults;
    for (const auto& r : opt.faults)
        faults.Add(r);
    if (opt.random)
        faults.SetRandom(*opt.random);
    device.SetNoteHandler([](const std::string& note) { Line("switcher", "--", {}, note); });
    if (!opt.fwOut.empty()) {
        device.SetImageHandler([path = opt.fwOut](const std::vector<uint8_t>& image) {
            std::ofstream f(path, std::ios::binary | std::ios::trunc);
            f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
            if (!f)
                Line("switcher", "--", {}, "cannot write " + path);
        });
    }

    if (!opt.edidOut.empty()) {
        std::error_code made;
        std::filesystem::create_directories(opt.edidOut, made);
        if (made)
            return fail("--edid-out " + opt.edidOut + ": " + made.message());
        // Written whole under another name and renamed, so a reader never sees half a file.
        auto save = [dir = opt.edidOut](int input, uint8_t, const Edid& data) {
            const std::string path = dir + "/in" + std::to_string(input) + ".bin";
            const std::string part = path + ".part";
            {
                std::ofstream f(part, std::ios::binary | std::ios::trunc);
                f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
                if (!f) {
                    Line("switcher", "--", {}, "cannot write " + part);
                    return;
                }
            }
            if (std::rename(part.c_str(), path.c_str()) != 0)
                Line("switcher", "--", {}, "cannot write " + path + ": " + std::strerror(errno));
        };
        for (int in = 1; in <= kInputs; ++in)
            save(in, device.EdidIndex(in), device.EdidData(in));
        device.SetEdidHandler(save);
    }

    std::string first;
    for (const auto& w : where)
        first += (first.empty() ? "" : "; ") + w;
    std::printf("%s\n", first.c_str());
    std::fflush(stdout);
    if (!opt.quiet) {
        const auto& mac = device.MacAddress();
        char text[64];
        std::snprintf(text, sizeof text, "MAC %02X:%02X:%02X:%02X:%02X:%02X, IPv4 ", mac[0], mac[1], mac[2],
                      mac[3], mac[4], mac[5]);
        Line("switcher", "--", {}, text + Ip(device.IpAddress()));
    }

    auto newSession = [&](const std::string& name) {
        auto s = std::make_unique<CStreamSession>(device, faults);
        s->SetTrace(TraceTo(name));
        s->SetBlockWait(opt.blockWaitMs);
        return s;
    };
    Stream serial{"serial", CFd(), nullptr, {}, false};
    // With --pace-line the serial bytes take the real line's time in both directions: what the
    // panel wrote reaches the switcher byte by byte, and its replies leave the same way.
    CLinePacer toSwitcher, toPanel;
    if (opt.serial)
        serial.session = newSession("serial");
    std::list<Stream> clients;
    unsigned clientCount = 0;
    CDatagramPort searchPort(device, faults, FaultTarget::Search);
    CDatagramPort configPort(device, faults, FaultTarget::Config);
    searchPort.SetTrace(TraceTo("udp-search"));
    configPort.SetTrace(TraceTo("udp-config"));

    auto hangUpSerial = [&] {
        Line("serial", "--", {}, "hanging up");
        if (!pty.HangUpAndReopen(error)) {
            std::fprintf(stderr, "corvane-sim: %s\n", TerminalText(error).c_str());
            return false;
        }
        serial.session = newSession("serial");
        serial.pending.clear();
        toSwitcher.Clear();
        toPanel.Clear();
        std::printf("serial: com%d -> %s\n", pty.ComNumber(), pty.SlavePath().c_str());
        std::fflush(stdout);
        return true;
    };

    // --control: commands on standard input, a line at a time.
    bool controlOpen = opt.control;
    std::string controlLine;
    auto onControlInput = [&] {
        char chunk[1024];
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            controlOpen = false;  // the commands end; the switcher goes on
            return;
        }
        controlLine.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = controlLine.find('\n')) != std::string::npos;) {
            const std::string line = controlLine.substr(0, nl);
            controlLine.erase(0, nl + 1);
            if (line.find_first_not_of(" \t\r") == std::string::npos)
                continue;
            std::string why;
            if (const auto done = ControlCommand(line, device, why)) {
                // Printed even with --quiet: whoever sent the command learns it has taken.
                std::printf("control: %s\n", done->c_str());
                std::fflush(stdout);
            } else {
                std::fprintf(stderr, "corvane-sim: control: %s\n", TerminalText(why).c_str());
            }
        }
        if (controlLine.size() > 4096)
            controlLine.clear();  // no line is that long
    };

    bool running = true;
    int exitCode = 0;
    std::vector<uint8_t> buf(65536);
    while (running) {
        std::vector<pollfd> fds;
        fds.push_back({stop.Fd(), POLLIN, 0});
        const std::size_t controlAt = fds.size();
        if (controlOpen)
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        const std::size_t ptyAt = fds.size();
        if (opt.serial)
            fds.push_back({pty.MasterFd(), static_cast<short>(POLLIN | (serial.pending.empty() ? 0 : POLLOUT)), 0});
        const std::size_t listenAt = fds.size();
        if (listener.Valid())
            fds.push_back({listener.Get(), POLLIN, 0});
        const std::size_t udpAt = fds.size();
        if (udpSearch.Valid()) {
            fds.push_back({udpSearch.Get(), POLLIN, 0});
            fds.push_back({udpConfig.Get(), POLLIN, 0});
        }
        const std::size_t clientsAt = fds.size();
        for (auto& c : clients)
            fds.push_back({c.fd.Get(), static_cast<short>(POLLIN | (c.pending.empty() ? 0 : POLLOUT)), 0});

        // Sleep until the next reply falls due (or the next byte of a paced line).
        int64_t nowNs = NowNs();
        std::optional<int64_t> nextNs;
        auto considerNs = [&nextNs](std::optional<int64_t> t) {
            if (t && (!nextNs || *t < *nextNs))
                nextNs = t;
        };
        auto consider = [&considerNs](std::optional<int64_t> ms) {
            if (ms)
                considerNs(*ms * 1000000);
        };
        if (serial.session)
            consider(serial.session->NextDeadline());
        for (auto& c : clients)
            consider(c.session->NextDeadline());
        consider(searchPort.NextDeadline());
        consider(configPort.NextDeadline());
        considerNs(toSwitcher.NextDue());
        considerNs(toPanel.NextDue());
        const int64_t waitNs = nextNs ? std::clamp<int64_t>(*nextNs - nowNs, 0, 1000000000) : 1000000000;
        const timespec timeout{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) {
            std::perror("poll");
            exitCode = 1;
            break;
        }
        nowNs = NowNs();
        int64_t now = nowNs / 1000000;

        if (fds[0].revents & POLLIN)
            break;
        if (controlOpen && (fds[controlAt].revents & (POLLIN | POLLHUP | POLLERR)))
            onControlInput();

        if (opt.serial) {
            const short re = fds[ptyAt].revents;
            if (re & POLLIN) {
                const ssize_t n = read(pty.MasterFd(), buf.data(), buf.size());
                const std::span<const uint8_t> got(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
                if (opt.paceLine)
                    toSwitcher.Push(got, nowNs);
                else if (!got.empty())
                    serial.session->Feed(got, now);
            } else if (re & (POLLHUP | POLLERR)) {
                // Only when our own slave descriptor is gone; start over with a fresh pair.
                if (!hangUpSerial()) {
                    exitCode = 1;
                    break;
                }
                continue;
            }
            if (re & POLLOUT)
                FlushPending(serial, pty.MasterFd());
        }
        if (udpSearch.Valid()) {
            for (int k = 0; k < 2; ++k) {
                if (!(fds[udpAt + k].revents & POLLIN))
                    continue;
                const int fd = k == 0 ? udpSearch.Get() : udpConfig.Get();
                sockaddr_in peer{};
                socklen_t len = sizeof peer;
                const ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&peer), &len);
                if (n >= 0)
                    (k == 0 ? searchPort : configPort)
                        .OnDatagram(std::span(buf.data(), static_cast<std::size_t>(n)), PackPeer(peer), now);
            }
        }
        {
            std::size_t i = clientsAt;
            for (auto& c : clients) {
                const short re = fds[i++].revents;
                if (re & POLLIN) {
                    const ssize_t n = recv(c.fd.Get(), buf.data(), buf.size(), 0);
                    if (n > 0)
                        c.session->Feed(std::span(buf.data(), static_cast<std::size_t>(n)), now);
                    else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                        c.closed = true;
                } else if (re & (POLLHUP | POLLERR)) {
                    c.closed = true;
                }
                if (re & POLLOUT)
                    FlushPending(c, c.fd.Get());
            }
        }

        // Accepted after the clients' events: the new one has no slot in fds yet.
        if (listener.Valid() && (fds[listenAt].revents & POLLIN)) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            CFd fd(accept4(listener.Get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (fd.Valid()) {
                const int one = 1;
                setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // split writes stay split
                const std::string name = "tcp#" + std::to_string(++clientCount);
                Line(name, "--", {}, "connected from " + PeerText(PackPeer(peer)));
                clients.push_back({name, std::move(fd), newSession(name), {}, false});
            }
        }
        if (serial.session && opt.paceLine)
            if (const auto arrived = toSwitcher.Take(nowNs); !arrived.empty())
                serial.session->Feed(arrived, now);
        // Replies that are due.
        if (serial.session) {
            for (auto& e : serial.session->TakeDue(now)) {
                if (e.hangUp) {
                    if (!hangUpSerial())
                        running = false, exitCode = 1;
                    break;  // what was queued for the old link goes with it
                }
                Line("serial", "tx", e.bytes);
                if (opt.paceLine)
                    toPanel.Push(e.bytes, nowNs);
                else
                    WriteOut(serial, pty.MasterFd(), e.bytes);
            }
            if (const auto out = toPanel.Take(nowNs); !out.empty())
                WriteOut(serial, pty.MasterFd(), out);
        }
        for (auto& c : clients) {
            for (auto& e : c.session->TakeDue(now)) {
                if (e.hangUp) {
                    Line(c.name, "--", {}, "hanging up");
                    c.closed = true;
                    break;
                }
                Line(c.name, "tx", e.bytes);
                WriteOut(c, c.fd.Get(), e.bytes);
            }
        }
        for (int k = 0; k < 2 && udpSearch.Valid(); ++k) {
            CDatagramPort& port = k == 0 ? searchPort : configPort;
            const int fd = k == 0 ? udpSearch.Get() : udpConfig.Get();
            const uint16_t ownPort = k == 0 ? opt.searchPort : opt.configPort;
            for (auto& e : port.TakeDue(now)) {
                sockaddr_in to = UnpackPeer(e.peer);
                if (!opt.udpReplyToSource)
                    to.sin_port = htons(ownPort);
                // Logged once sent: a reader of the log knows the datagram is on its way.
                sendto(fd, e.bytes.data(), e.bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                Line(k == 0 ? "udp-search" : "udp-config", "tx", e.bytes, "to " + PeerText(PackPeer(to)));
            }
        }
        for (auto it = clients.begin(); it != clients.end();) {
            if (it->closed) {
                Line(it->name, "--", {}, "closed");
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
    }
    pty.Close();
    Line("switcher", "--", {}, "stopped");
    return exitCode;
}
