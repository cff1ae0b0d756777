#include "service/unit.h"

#include <algorithm>
#include <iostream>
#include <thread>

#include <QCoreApplication>

#include "core/address/address.h"
#include "core/scene/json.h"
#include "core/scene/scene_apply.h"
#include "core/switcher/state_json.h"
#include "core/switcher/switcher.h"
#include "transport/linked_switcher.h"
#include "transport/qt_serial_owner.h"
#include "transport/serial_link.h"
#include "transport/socket_network.h"

namespace corvane::service {

namespace {
enum : unsigned { TIMER_READ = 1, TIMER_CONNECT = 2, TIMER_REFUSED = 3 };

// Without --trace the service keeps no byte log: the panes take the frames and drop them.
class CNullPane final : public ILogPane {
public:
    void Insert(std::string_view) override {}
    void Clear() override {}
};
}  // namespace

std::string SUnitPlace::Link() const { return host.empty() ? "serial " + port : "tcp " + HostWithPort(host); }

const char* SUnitCommand::Name() const
{
    switch (kind) {
    case Kind::Route: return "route";
    case Kind::Beep: return "beep";
    case Kind::Dvi: return "dvi";
    case Kind::Edid: return "edid";
    case Kind::Scene: return "scene";
    case Kind::Refresh: break;
    }
    return "refresh";
}

std::string SUnitCommand::Fields() const
{
    switch (kind) {
    case Kind::Route: return ",\"output\":" + std::to_string(output) + ",\"input\":" + std::to_string(input);
    case Kind::Beep: return std::string(",\"beep\":") + JsonBool(on);
    case Kind::Dvi: return std::string(",\"dvi\":") + JsonBool(on);
    case Kind::Edid: return ",\"input\":" + std::to_string(input) + ",\"edid\":" + JsonString(edid.Name());
    case Kind::Scene: return ",\"scene\":" + JsonString(scene.name);
    case Kind::Refresh: break;
    }
    return {};
}

CUnit::CUnit(SUnitPlace place, ITimerService& timers, unsigned intervalMs, const std::vector<SNamedScene>& scenes,
             bool trace)
    : m_place(std::move(place)), m_timers(timers), m_intervalMs(intervalMs), m_scenes(scenes)
{
    if (trace) {
        m_tx = std::make_unique<detail::CTracePane>(&std::cerr, m_place.id + ": TX");
        m_rx = std::make_unique<detail::CTracePane>(&std::cerr, m_place.id + ": RX");
    } else {
        m_tx = std::make_unique<CNullPane>();
        m_rx = std::make_unique<CNullPane>();
    }
    m_switcher = std::make_unique<CSwitcher>(timers, *m_tx, *m_rx);
    m_switcher->SetFailureReporter([this](const std::string& line) { m_failure = line; });
    m_timer = std::make_unique<CTimerOwner>(timers, [this](unsigned id) { OnTimer(id); });
}

CUnit::~CUnit()
{
    m_timer.reset();
    for (auto& item : m_queue)
        if (item.done)  // a stream command without a ref waits for no answer
            item.done({false, "the service is stopping", {}});
    m_queue.clear();
    CloseLink();
    m_switcher.reset();
}

void CUnit::Start() { Connect(); }

void CUnit::ConnectTcp(const SHostPort& target)
{
    m_tcp = std::make_unique<CSocketTcpControl>();
    m_tcp->onConnected = [this](bool ok) {
        m_timer->KillTimer(TIMER_CONNECT);
        m_connecting = false;
        if (!ok) {
            // Told from the event loop: the socket that calls this goes with the link.
            m_refusedWhy = m_tcp->LastError().empty() ? "cannot connect" : m_tcp->LastError();
            m_timer->SetTimer(TIMER_REFUSED, 0);
            return;
        }
        m_switcher->AttachTcp(m_tcp.get());
        Connected();
    };
    m_tcp->onRead = [this](std::span<const uint8_t> bytes) { m_switcher->Link().OnTcpRead(bytes); };
    m_tcp->onClosed = [this] { m_switcher->OnLinkLost("the switcher closed the connection"); };
    m_connecting = true;
    m_timer->SetTimer(TIMER_CONNECT, kConnectTimeoutMs);
    m_tcp->Connect(target.ipv4, target.port);
}

void CUnit::Connect()
{
    m_failure.clear();
    if (!m_place.host.empty()) {
        if (const auto address = ParseHost(m_place.host)) {
            ConnectTcp(*address);
            return;
        }
        // A host name is looked up off the event loop: a slow or dead resolver holds up this
        // switcher only, within the connection's time. Its answer counts only while this attempt
        // is still the one under way (the ticket goes with the link and with the unit).
        auto ticket = std::make_shared<int>(0);
        m_lookup = ticket;
        m_connecting = true;
        m_timer->SetTimer(TIMER_CONNECT, kConnectTimeoutMs);
        std::thread([this, wanted = std::weak_ptr<int>(ticket), host = m_place.host] {
            std::string why;
            const std::optional<SHostPort> target = ResolveHost(host, why);
            QCoreApplication* app = QCoreApplication::instance();
            if (!app)
                return;  // the program is ending
            QMetaObject::invokeMethod(
                app,
                [this, wanted, target, why] {
                    if (wanted.expired())
                        return;
                    m_lookup.reset();
                    m_timer->KillTimer(TIMER_CONNECT);
                    m_connecting = false;
                    if (target)
                        ConnectTcp(*target);
                    else
                        LinkFailed(why);
                },
                Qt::QueuedConnection);
        }).detach();
        return;
    }
    std::string why;
    const auto name = ParsePortName(m_place.port, why);
    if (!name) {
        LinkFailed(why);
        return;
    }
    m_owner = std::make_unique<CQtSerialOwner>();
    m_owner->SetOnByte([this](uint8_t b, unsigned) { m_switcher->Link().OnPortByte(b); });
    m_owner->SetOnLinkLost([this](unsigned) { m_switcher->OnLinkLost("the serial port was lost"); });
    m_serial = std::make_unique<CSerialLink>();
    m_serial->SetLog([](const std::string&) {});
    const bool opened = name->number ? m_serial->OpenPort(m_owner.get(), name->number)
                                     : m_serial->OpenDevice(m_owner.get(), name->device);
    if (!opened) {
        const std::string text = OpenFailureText(name->number ? "COM" + std::to_string(name->number) : m_place.port,
                                                 m_serial->DevicePath(), m_serial->LastOpenFailure(),
                                                 m_serial->LastOpenError());
        m_serial.reset();
        LinkFailed(text);
        return;
    }
    m_serial->Start();
    m_switcher->AttachSerial(m_serial.get());
    Connected();
}

void CUnit::Connected()
{
    m_open = true;
    m_readingDue = true;
    Next();
}

void CUnit::CloseLink()
{
    m_open = false;
    m_phased = false;
    m_connecting = false;
    m_lookup.reset();  // a lookup still under way is for no link any more
    if (m_timer)
        m_timer->KillTimer(TIMER_CONNECT);
    if (m_switcher)
        m_switcher->Detach();
    if (m_tcp) {
        m_tcp->onRead = nullptr;
        m_tcp->onClosed = nullptr;
        m_tcp->onConnected = nullptr;
        m_tcp.reset();
    }
    m_serial.reset();  // its worker ends before its owner goes
    m_owner.reset();
}

void CUnit::LinkFailed(const std::string& why)
{
    CloseLink();
    SetOnline(false, why);
    // What waits for this switcher cannot be carried out now: each is told at once.
    auto waiting = std::move(m_queue);
    m_queue.clear();
    for (auto& item : waiting)
        Finish(item, {false, "the switcher is offline: " + why, {}});
    m_timer->SetTimer(TIMER_CONNECT, m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, kUnitLongestRetryMs);
}

void CUnit::OnTimer(unsigned id)
{
    m_timer->KillTimer(id);
    if (id == TIMER_REFUSED) {
        LinkFailed(m_refusedWhy);
        return;
    }
    if (id == TIMER_CONNECT) {
        if (m_connecting) {
            LinkFailed("no answer within " + std::to_string(kConnectTimeoutMs / 1000) + " s");
            return;
        }
        if (!m_open)
            Connect();
        return;
    }
    m_readingDue = true;
    Next();
}

void CUnit::SetOnline(bool online, const std::string& why)
{
    const bool changed = online != m_online || (!online && why != m_offlineWhy);
    m_online = online;
    m_offlineWhy = online ? "" : why;
    if (changed && onEvent)
        onEvent(std::string("\"online\":") + JsonBool(online) + (online ? "" : ",\"error\":" + JsonString(why)));
}

bool CUnit::Enqueue(SUnitCommand command, std::function<void(const SUnitResult&)> done)
{
    if (m_queue.size() >= kUnitQueueBound)
        return false;
    m_queue.push_back({std::move(command), std::move(done)});
    Next();
    return true;
}

// One thing at a time on the link: the commands in arrival order, a reading when it is due.
void CUnit::Next()
{
    if (m_busy || !m_open)
        return;
    if (!m_queue.empty()) {
        SQueued item = std::move(m_queue.front());
        m_queue.pop_front();
        Carry(std::move(item));
        return;
    }
    if (!m_readingDue)
        return;
    m_readingDue = false;
    Read([this](bool) {});
}

void CUnit::Read(std::function<void(bool)> then)
{
    m_busy = true;
    m_failure.clear();
    m_switcher->Start(m_switcher->ReadSettings(true), [this, then](const SResult& first) {
        if (!first.Ok()) {
            m_busy = false;
            LinkFailed(first.words.empty() ? "the switcher did not answer" : first.words);
            then(false);
            return;
        }
        m_switcher->Start(m_switcher->ReadDevice(), [this, then](const SResult& r) {
            m_busy = false;
            if (!r.Ok()) {
                LinkFailed(r.words.empty() ? "the switcher did not answer" : r.words);
                then(false);
                return;
            }
            m_retryMs = kUnitFirstRetryMs;
            Publish();
            m_known = true;
            SetOnline(true, "");
            // The first reading of a link is at its opening, and a site's links open together:
            // the next comes at a point of the interval of this switcher's own, so that they are
            // not all read at the same moments ever after.
            unsigned next = m_intervalMs;
            if (!m_phased) {
                m_phased = true;
                next = 1 + static_cast<unsigned>(std::hash<std::string>{}(m_place.id) % m_intervalMs);
            }
            m_timer->SetTimer(TIMER_READ, next);
            then(true);
            Next();
        });
    });
}

// What the switcher now shows against what was told last: one event per change.
void CUnit::Publish()
{
    const SSwitcherState& now = m_switcher->State();
    SSwitcherState merged = m_known ? m_state : SSwitcherState{};
    for (int i = 0; i < 4; ++i) {
        if (now.inputs[i])
            merged.inputs[i] = now.inputs[i];
        if (now.edids[i])
            merged.edids[i] = now.edids[i];
    }
    for (int o = 0; o < 2; ++o) {
        if (now.outputs[o])
            merged.outputs[o] = now.outputs[o];
        if (now.routes[o])
            merged.routes[o] = now.routes[o];
    }
    if (now.beep)
        merged.beep = now.beep;
    if (now.dvi)
        merged.dvi = now.dvi;
    if (now.device)
        merged.device = now.device;
    if (onEvent) {
        for (const SChangeJson& c : ChangesJson(m_known ? &m_state : nullptr, merged))
            onEvent(c.fields + (c.was.empty() ? "" : ",\"was\":" + c.was));
    }
    m_state = std::move(merged);
}

void CUnit::Carry(SQueued item)
{
    using K = SUnitCommand::Kind;
    auto shared = std::make_shared<SQueued>(std::move(item));
    const SUnitCommand& c = shared->command;
    if (c.kind == K::Refresh) {
        if (onRefresh) {
            onRefresh();
        }
        Read([this, shared](bool ok) {
            Finish(*shared, ok ? SUnitResult{true, {}, {}} : SUnitResult{false, m_offlineWhy, {}});
        });
        return;
    }
    m_busy = true;
    m_failure.clear();
    if (c.kind == K::Scene) {
        auto apply = std::make_shared<SSceneApply>();
        m_switcher->Start(ApplyScene(*m_switcher, *shared->command.scene.scene, false, *apply),
                          [this, shared, apply](const SResult& r) {
                              m_busy = false;
                              SUnitResult result{apply->Matches(), {}, {}};
                              if (apply->stage == SSceneApply::Stage::Done)
                                  result.report = apply->Json();
                              for (const std::string& line : apply->Problems())
                                  result.error += (result.error.empty() ? "" : "; ") + line;
                              if (!result.ok && result.error.empty())
                                  result.error = r.words.empty() ? "the switcher does not match the scene" : r.words;
                              Publish();
                              Ended(*shared, result, r);
                          });
        return;
    }
    SOperation op;
    switch (c.kind) {
    // What the switcher answered is told at once (as the bridge publishes it); the reading that
    // follows decides the command's result.
    case K::Route: op = m_switcher->Route(c.output, c.input, [this] { Publish(); }); break;
    case K::Beep: op = m_switcher->Switch(true, c.on, [this] { Publish(); }); break;
    case K::Dvi: op = m_switcher->Switch(false, c.on, [this] { Publish(); }); break;
    case K::Edid: op = m_switcher->EdidPreset(c.input, c.edid); break;
    case K::Scene:
    case K::Refresh: break;
    }
    m_switcher->Start(std::move(op), [this, shared](const SResult& r) {
        m_busy = false;
        Publish();
        SUnitResult result{r.Ok(), r.Ok() ? "" : r.words, {}};
        if (!result.ok && result.error.empty())
            result.error = m_failure.empty() ? "the switcher did not do it" : m_failure;
        Ended(*shared, result, r);
    });
}

void CUnit::Ended(const SQueued& item, SUnitResult result, const SResult& r)
{
    // A link lost or gone silent ends with the command: the next waits for a new link.
    const bool lost = r.outcome == EOutcome::LinkLost || r.outcome == EOutcome::TimedOut;
    Finish(item, std::move(result));
    if (lost) {
        LinkFailed(r.words);
        return;
    }
    Next();
}

void CUnit::Finish(const SQueued& item, SUnitResult result)
{
    if (onEvent) {
        std::string members = std::string("\"command\":\"") + item.command.Name() + "\"" + item.command.Fields() +
                              ",\"ok\":" + JsonBool(result.ok);
        if (!result.ok)
            members += ",\"error\":" + JsonString(result.error);
        onEvent(members);
    }
    if (item.done)
        item.done(result);
}

std::string CUnit::MatchingScene() const
{
    if (!m_known)
        return {};
    for (const SNamedScene& s : m_scenes) {
        if (SceneMismatches(*s.scene, m_state).empty())
            return s.name;
    }
    return {};
}

}  // namespace corvane::service
