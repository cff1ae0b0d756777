// corvaned as a child process for tests, and a plain HTTP/1.1 client on a socket of its own (so
// that a test can send any bytes, slow or malformed). Every wait is bounded and ends as soon as
// what it waits for has come. The test program defines CORVANED_PATH and CORVANE_SIM_PATH.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "core/scene/json.h"
#include "tests/support/sim_process.h"

namespace corvane::test {

inline constexpr int kServiceBoundMs = 20000;

struct HttpReply {
    int status = 0;  // 0: no answer
    std::string head, body;
    std::optional<SJson> Json() const
    {
        std::string e;
        return ParseJson(body, e);
    }
    std::string Text(const char* key) const
    {
        const auto j = Json();
        const SJson* v = j ? j->Find(key) : nullptr;
        return v ? v->text : "";
    }
};

// One request's bytes on a new connection to ip:port, the answer read whole.
inline HttpReply Http(int port, const std::string& raw, const std::string& ip = "127.0.0.1")
{
    HttpReply r;
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || send(s, raw.data(), raw.size(), MSG_NOSIGNAL) < 0) {
        close(s);
        return r;
    }
    std::string all;
    const SBound bound(kServiceBoundMs);
    for (;;) {
        const auto end = all.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::smatch m;
            const std::string head = all.substr(0, end);
            static const std::regex length("Content-Length: (\\d+)", std::regex::icase);
            const bool sized = std::regex_search(head, m, length);
            if (sized && all.size() >= end + 4 + std::stoul(m[1].str())) {
                r.head = head;
                r.body = all.substr(end + 4, std::stoul(m[1].str()));
                r.status = std::stoi(head.substr(9, 3));
                break;
            }
        }
        pollfd p{s, POLLIN, 0};
        char chunk[65536];
        ssize_t n = 0;
        if (poll(&p, 1, bound.Left()) <= 0 || (n = recv(s, chunk, sizeof chunk, 0)) <= 0)
            break;
        all.append(chunk, static_cast<std::size_t>(n));
    }
    close(s);
    return r;
}

inline std::string Request(const std::string& method, const std::string& path, const std::string& body = "",
                           const std::string& extra = "Content-Type: application/json\r\n",
                           const std::string& host = "127.0.0.1")
{
    return method + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// corvaned with --web on a port of the system's choosing, which it names when it listens.
class Service : public CChildProcess {
public:
    Service(std::vector<std::string> args, const std::string& portDir, std::vector<std::string> launcher = {})
        : CChildProcess(Words(std::move(args), std::move(launcher)), Options(portDir))
    {
        const std::string line = CChildProcess::LineWith("API on ", kServiceBoundMs);
        std::smatch m;
        if (std::regex_search(line, m, std::regex(":(\\d+)$")))
            port = std::stoi(m[1].str());
    }
    std::string LineWith(const std::string& text) { return CChildProcess::LineWith(text, kServiceBoundMs); }
    HttpReply Get(const std::string& path) { return Http(port, Request("GET", path, "", "")); }
    HttpReply Post(const std::string& path, const std::string& body) { return Http(port, Request("POST", path, body)); }
    int port = 0;

private:
    static std::vector<std::string> Words(std::vector<std::string> args, std::vector<std::string> launcher)
    {
        launcher.push_back(CORVANED_PATH);
        launcher.insert(launcher.end(), args.begin(), args.end());
        return launcher;
    }
    static SChildOptions Options(const std::string& portDir)
    {
        SChildOptions o;
        o.env = std::vector<std::string>{"CORVANE_PORT_DIR=" + portDir, "PATH=/usr/bin:/bin"};
        return o;
    }
};

}  // namespace corvane::test
