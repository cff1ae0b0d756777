// The network side of the conversation: the TCP control link (idle, connecting, connected),
// the switcher search, the current switcher and the network configuration with its
// confirmation and time-out. No sockets of its own: it drives the transports it is given, and the window (or a
// command-line tool) shows what it reports through INetView.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "core/address/address.h"
#include "core/link/link_core.h"
#include "core/link/network.h"
#include "core/link/transport.h"
#include "platform/timers.h"

namespace corvane {

// Timers of the network configuration.
enum : unsigned {
    TIMER_CONFIG_CONFIRM = 1004,
    TIMER_CONFIG_CLOSE = 1005,
    TIMER_CONFIG_TIMEOUT = 1007,
    TIMER_SEARCH_OVERFLOW = 1008,  // reports answers beyond the list once the search is quiet
};
inline constexpr unsigned kConfirmMs = 900;
inline constexpr unsigned kConfigTimeoutMs = 15000;
inline constexpr unsigned kOverflowQuietMs = 2000;

// The TCP control socket. Events arrive on the user-interface thread; none after Close.
class ITcpControl : public ITransport {
public:
    std::function<void(std::span<const uint8_t>)> onRead;
    std::function<void(bool ok)> onConnected;  // the outcome of Connect
    std::function<void()> onClosed;            // the peer ended a connected link
    // Closes any previous socket and starts a non-blocking connect.
    virtual void Connect(uint32_t ipv4, uint16_t port) = 0;
    virtual void Close() = 0;
};

// The one UDP socket, bound anew for each search and each configuration.
class IDatagramSocket {
public:
    virtual ~IDatagramSocket() = default;
    std::function<void(std::span<const uint8_t>)> onDatagram;  // one call per datagram received
    // Closes the previous socket, then binds to the local port on every address with a shared
    // address; false when that fails.
    virtual bool Bind(uint16_t localPort) = 0;
    virtual void Close() = 0;
    // The limited broadcast to the port, once through every broadcast-capable interface.
    virtual void Broadcast(std::span<const uint8_t> bytes, uint16_t port) = 0;
};

// What the operator sees of it: the switcher list (control 1060) and the TCP button (1045).
class INetView {
public:
    virtual ~INetView() = default;
    virtual void ClearSwitchers() {}
    virtual void InsertSwitcher(std::size_t /*pos*/, const std::string& /*ip*/) {}
    virtual void SelectSwitcher(std::size_t /*pos*/) {}
    virtual void SetTcpButtonText(const std::string& /*text*/) {}
    // The control link is closed (or was never open): what the switcher told is no longer current.
    virtual void TcpClosed() {}
    // The control link is open: the view reads what it shows of the switcher. Without a view
    // that does, the beep status is asked for.
    virtual bool TcpConnected() { return false; }
};

// How a network configuration ended, as it happens. A refusal leaves the wait running: the
// panel reports it only by the time-out.
enum class ConfigOutcome { Refused, Confirmed, TimedOut };


// The network side of one front end; its SNetworkState is its own.
class CNetLink : public SNetworkState {
public:
    CNetLink(CLinkCore& link, ITcpControl& tcp, IDatagramSocket& udp, INetView& view, SNetPorts ports = {});
    ~CNetLink();
    CNetLink(const CNetLink&) = delete;
    CNetLink& operator=(const CNetLink&) = delete;

    // TCP control link. A link the switcher closes or resets is lost: the button reads "Connect"
    // again and the operator is told.
    void OnTcpConnectButton(std::u16string_view listText);
    // Leaving TCP mode: the socket closed, the button back to "Connect".
    void CloseTcp();

    // Search.
    void StartSearch();
    void OnSearchDatagram(std::span<const uint8_t> datagram);
    // The operator's choice in the list: that switcher becomes the current one.
    void OnSwitcherSelected(std::size_t index);

    // Network configuration: sends the request for the switcher whose MAC is target (the one
    // the dialog showed when it opened, whatever searches answered meanwhile), the rest built
    // from the state the dialog has written; starts the 15-second time-out and opens
    // "Configuring". False when the state makes no request (a static address that is not
    // one); nothing is sent then.
    bool SendConfiguration(const MacFields& target);
    // Only an answer from the switcher asked, while its configuration waits, counts: our own
    // broadcast looped back, other switchers' answers and stray replies change nothing.
    void OnConfigDatagram(std::span<const uint8_t> datagram);
    void SetConfigOutcomeSink(std::function<void(ConfigOutcome)> sink) { m_outcome = std::move(sink); }

    bool IsTimerRunning(unsigned id) const { return m_timers.IsRunning(id); }
    enum class ConfigState { Idle, Waiting, Confirming };
    ConfigState State() const { return m_configState; }

    // One line about answers dropped beyond the list (default: standard error).
    void SetWarningSink(std::function<void(const std::string&)> sink) { m_warn = std::move(sink); }

private:
    void SendConfigRequest(const ConfigRequest& request);
    void OnTimer(unsigned id);
    void ReportDropped();
    void Outcome(ConfigOutcome outcome);

    CLinkCore& m_link;
    ITcpControl& m_tcp;
    IDatagramSocket& m_udp;
    INetView& m_view;
    SNetPorts m_ports;
    ConfigState m_configState = ConfigState::Idle;
    std::size_t m_reportedDropped = 0;
    std::function<void(const std::string&)> m_warn;
    std::function<void(ConfigOutcome)> m_outcome;
    ConfigRequest m_request{};  // the configuration request last sent
    CTimerOwner m_timers;
};

}  // namespace corvane
