// The switcher model fed arbitrary streams and datagrams: command frames (sealed so the fuzzer
// reaches the handshakes), raw bytes, data blocks, time steps, search and configuration
// datagrams. Without faults every reply must be one whole frame with a valid checksum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/link/frame.h"
#include "sim/session.h"

using namespace corvane;
using namespace corvane::sim;

namespace {

struct Reader {
    const uint8_t* p;
    std::size_t n;
    uint8_t Byte()
    {
        if (!n)
            return 0;
        --n;
        return *p++;
    }
    std::vector<uint8_t> Take(std::size_t k)
    {
        k = k < n ? k : n;
        std::vector<uint8_t> out(p, p + k);
        p += k;
        n -= k;
        return out;
    }
};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Reader r{data, size};
    const uint8_t flags = r.Byte();
    const bool faulty = flags & 0x01;
    SwitcherSettings s;
    s.rebootMs = r.Byte() * 8;
    if (flags & 0x02)
        s.packetControl[1 + r.Byte() % 4] = (flags & 0x04) ? 0xB0 : 0xF0;
    CSwitcher device(s);
    CFaultPlan plan;
    if (faulty)
        plan.SetRandom({r.Byte(), 0.3,
                        {FaultKind::Drop, FaultKind::Delay, FaultKind::Corrupt, FaultKind::Split, FaultKind::Merge,
                         FaultKind::Noise, FaultKind::Refuse, FaultKind::HangUp}});
    CStreamSession session(device, plan);
    session.SetBlockWait(100);
    CDatagramPort search(device, plan, FaultTarget::Search);
    CDatagramPort config(device, plan, FaultTarget::Config);
    int64_t now = 0;

    auto drain = [&](int64_t t) {
        for (const Emission& e : session.TakeDue(t)) {
            if (faulty || e.hangUp)
                continue;
            Check(e.bytes.size() == kFrameSize);
            Frame f;
            std::copy(e.bytes.begin(), e.bytes.end(), f.begin());
            Check(HasHeader(f) && FrameChecksumOk(f));
        }
        for (const Emission& e : search.TakeDue(t))
            Check(faulty || e.bytes.size() == kSearchReplySize);
        for (const Emission& e : config.TakeDue(t))
            Check(faulty || e.bytes.size() == kConfigSize);
        if (const auto next = session.NextDeadline())
            Check(*next >= 0);
    };

    while (r.n) {
        const uint8_t op = r.Byte();
        switch (op % 6) {
        case 0: {
            const auto raw = r.Take(r.Byte());
            session.Feed(raw, now);
            break;
        }
        case 1: {
            Frame f = MakeFrame({});
            const auto body = r.Take(10);
            std::copy(body.begin(), body.end(), f.begin() + 2);
            SealFrame(f);
            session.Feed(f, now);
            break;
        }
        case 2: {
            Block b{};
            const auto body = r.Take(r.Byte());
            for (std::size_t i = 0; i < kBlockDataSize; ++i)
                b[1 + i] = body.empty() ? 0 : body[i % body.size()];
            SealBlock(b);
            if (op & 0x80)
                b[0] ^= 1;
            session.Feed(b, now);
            break;
        }
        case 3: now += r.Byte() * 16; break;
        case 4: search.OnDatagram(r.Take(r.Byte() % 3), 1, now); break;
        case 5: {
            std::vector<uint8_t> d(kConfigSize, 0);
            const auto& mac = device.MacAddress();
            std::copy(mac.begin(), mac.end(), d.begin());
            const auto body = r.Take(70);
            std::copy(body.begin(), body.end(), d.begin() + 6);
            unsigned sum = 0;
            for (std::size_t i = 0; i < 75; ++i)
                sum += d[i];
            d[75] = static_cast<uint8_t>(sum + ((op & 0x80) ? 1 : 0));
            if (op & 0x40)
                d.pop_back();
            config.OnDatagram(d, 2, now);
            break;
        }
        }
        drain(now);
    }
    drain(now + 1'000'000);
    return 0;
}
