// One switcher of the site, held by the service: its link (TCP or a serial port) opened and
// reopened without blocking the event loop, its state read every interval, and one bounded
// queue of commands carried out in arrival order, whichever face they came from. Every unit has
// its own switcher object, timers and transport, so a silent or lost switcher only waits on its
// own timers while the others go on.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/address/address.h"
#include "core/edid/edid_names.h"
#include "core/scene/scene.h"
#include "core/switcher/switcher_state.h"
#include "platform/timers.h"

namespace corvane {
class CSwitcher;
struct SResult;
class CSocketTcpControl;
class CSerialLink;
class CQtSerialOwner;
class ILogPane;
}

namespace corvane::service {

// Where one switcher is and what it is called: a TCP address or a serial port, its label, and
// the id that names it on every face (unique in the process).
struct SUnitPlace {
    std::string id;
    std::string label;
    std::string host;  // ADDRESS[:PORT], or empty
    std::string port;  // COMn or a device path, or empty
    // "tcp 127.0.0.1:8000", "serial COM3"
    std::string Link() const;
};

// A scene file offered as a preset on every face.
struct SNamedScene {
    std::string name;
    std::shared_ptr<const SScene> scene;
};

// A command that passed the face's checks.
struct SUnitCommand {
    enum class Kind { Route, Beep, Dvi, Edid, Scene, Refresh };
    Kind kind = Kind::Refresh;
    int output = 0, input = 0;  // Route: both; Edid: the input
    bool on = false;            // Beep, Dvi
    SBuiltInEdid edid;          // Edid
    SNamedScene scene;          // Scene
    // "route", "beep", ... : how the result names it
    const char* Name() const;
    // Its values as JSON members, in the request's field names (",\"output\":1,\"input\":3").
    std::string Fields() const;
};

struct SUnitResult {
    bool ok = false;
    std::string error;   // why not, in words
    std::string report;  // a scene's apply report (JSON), else empty
};

// Commands waiting per switcher; more are refused at once.
inline constexpr std::size_t kUnitQueueBound = 32;
// The reconnection back-off: from the first to the longest wait.
inline constexpr unsigned kUnitFirstRetryMs = 500;
inline constexpr unsigned kUnitLongestRetryMs = 10000;

class CUnit {
public:
    // timers: the clock of the link and of the readings; scenes: the presets, kept by the caller;
    // trace: every frame on standard error, after the id ("hall: TX A5 5B ...").
    CUnit(SUnitPlace place, ITimerService& timers, unsigned intervalMs, const std::vector<SNamedScene>& scenes,
          bool trace = false);
    ~CUnit();
    CUnit(const CUnit&) = delete;
    CUnit& operator=(const CUnit&) = delete;

    // Opens the link and starts the readings.
    void Start();

    const SUnitPlace& Place() const { return m_place; }
    bool Online() const { return m_online; }
    // Why the switcher is offline ("" while online or before the first attempt ended).
    const std::string& OfflineWhy() const { return m_offlineWhy; }
    // The state as last read (whole once Known()).
    const SSwitcherState& State() const { return m_state; }
    bool Known() const { return m_known; }
    // The first preset the state matches, or "".
    std::string MatchingScene() const;

    // Queues a command; done is called once with its result, after the read-back. False (done
    // not called) when the queue is full.
    bool Enqueue(SUnitCommand command, std::function<void(const SUnitResult&)> done);
    std::size_t Queued() const { return m_queue.size(); }

    // Every change the service tells: a JSON object's members without braces, a change as
    // corvanectl watch --json gives it, "online", or a command's result.
    std::function<void(const std::string& members)> onEvent;
    // A refresh is being carried out, before its reading (the presets are read again).
    std::function<void()> onRefresh;

private:
    struct SQueued {
        SUnitCommand command;
        std::function<void(const SUnitResult&)> done;
    };
    void Connect();
    void ConnectTcp(const SHostPort& target);
    void Connected();
    void LinkFailed(const std::string& why);
    void CloseLink();
    void Next();
    void Read(std::function<void(bool)> then);
    void Carry(SQueued item);
    void Finish(const SQueued& item, SUnitResult result);
    // A command carried out: its result told, then the link dropped if lost, else the next one.
    void Ended(const SQueued& item, SUnitResult result, const SResult& r);
    void Publish();
    void SetOnline(bool online, const std::string& why);
    void OnTimer(unsigned id);

    SUnitPlace m_place;
    ITimerService& m_timers;
    unsigned m_intervalMs;
    const std::vector<SNamedScene>& m_scenes;
    std::unique_ptr<ILogPane> m_tx, m_rx;
    std::unique_ptr<CSwitcher> m_switcher;
    std::unique_ptr<CQtSerialOwner> m_owner;
    std::unique_ptr<CSerialLink> m_serial;
    std::unique_ptr<CSocketTcpControl> m_tcp;
    std::shared_ptr<int> m_lookup;  // the ticket of a host-name lookup under way
    std::unique_ptr<CTimerOwner> m_timer;
    std::deque<SQueued> m_queue;
    std::string m_failure;  // the last line the switcher reported
    std::string m_offlineWhy;
    std::string m_refusedWhy;  // why the connection was refused, until it is told
    SSwitcherState m_state;
    bool m_known = false;
    bool m_online = false;
    bool m_open = false;
    bool m_connecting = false;
    bool m_busy = false;
    bool m_readingDue = false;
    bool m_phased = false;  // the readings of this link keep their own point of the interval
    unsigned m_retryMs = kUnitFirstRetryMs;
};

}  // namespace corvane::service
