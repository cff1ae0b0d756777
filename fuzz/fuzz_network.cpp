// Datagrams from anyone on the LAN, on the search and the configuration socket, in every state
// of the network side: the list never passes its 256 entries, the current switcher's texts stay
// well formed, the receive pane stays bounded, and only an answer from the switcher asked moves
// a configuration on. The input is a script: a state change or a datagram at a time.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/link/net_link.h"
#include "platform/scripted_notices.h"

using namespace corvane;

namespace {

struct NoTcp : ITcpControl {
    void Connect(uint32_t, uint16_t) override {}
    void Close() override {}
    void Write(std::span<const uint8_t>) override {}
};

struct Udp : IDatagramSocket {
    uint16_t bound = 0;
    std::vector<uint8_t> lastSent;
    bool Bind(uint16_t port) override { return bound = port, true; }
    void Close() override { bound = 0; }
    void Broadcast(std::span<const uint8_t> b, uint16_t) override { lastSent.assign(b.begin(), b.end()); }
};

struct CountingPane : ILogPane {
    std::size_t size = 0, most = 0;
    void Insert(std::string_view t) override { size += t.size(), most = std::max(most, size); }
    void Clear() override { size = 0; }
};

bool HexText(const std::string& s, std::size_t n)
{
    if (s.size() != n)
        return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CVirtualTimers clock;
    CScriptedNotices op;
    {
        CountingPane tx, rx;
        CLinkCore core(clock, op, tx, rx);
        NoTcp tcp;
        Udp udp;
        INetView view;
        CNetLink net(core, tcp, udp, view);
        net.SetWarningSink({});
        net.SetConfigOutcomeSink([](ConfigOutcome) {});

        std::size_t pos = 0;
        while (pos + 2 <= size) {
            const uint8_t op_code = data[pos], len_code = data[pos + 1];
            pos += 2;
            const std::size_t len = std::min<std::size_t>(size - pos, len_code * 8u);
            const std::span<const uint8_t> d(data + pos, len);
            pos += len;
            switch (op_code % 5) {
            case 0:
                net.StartSearch();
                break;
            case 1:  // configure the current switcher
                net.nIpMode = op_code & 0x10 ? IP_MODE_STATIC : IP_MODE_AUTO;
                net.NewMac = net.SwitcherMac;
                net.SendConfiguration(net.SwitcherMac);
                break;
            case 2:
                if (udp.bound && udp.onDatagram)
                    udp.onDatagram(d);
                break;
            case 3:  // our own request heard again: it answers nothing
                if (udp.bound && udp.onDatagram && !udp.lastSent.empty()) {
                    const auto state = net.State();
                    const uint16_t port = udp.bound;
                    udp.onDatagram(udp.lastSent);
                    if (net.State() != state || udp.bound != port)
                        std::abort();
                }
                break;
            case 4:
                clock.Advance(len_code * 100);
                op.CloseBox();
                break;
            }
            if (net.FoundSwitchers.Size() > kMaxSwitchers)
                std::abort();
            if (!net.SwitcherMacText.empty() && !HexText(net.SwitcherMacText, 12))
                std::abort();
            // At most 60 datagrams of 1,024 bytes in the pane: 3 characters a byte, a break every 13.
            if (rx.most > kLogClearEvery * (kDatagramMax * 3 + kDatagramMax / 13 + 1))
                std::abort();
        }
    }
    return 0;
}
