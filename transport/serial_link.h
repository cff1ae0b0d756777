// The serial transport: one exclusively opened port, a worker thread that owns all port I/O
// once started, bytes in to the owner one at a time, whole writes out in hand-over order.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "transport/serial_device.h"
#include "transport/serial_owner.h"
#include "core/link/transport.h"

namespace corvane {

// Port event bits of the event mask; only received characters matter on this platform.
enum : uint32_t { EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002 };

inline constexpr unsigned kSerialBaud = 19200;
inline constexpr char kSerialParity = 'N';
inline constexpr unsigned kSerialDataBits = 8;
inline constexpr unsigned kSerialStopBits = 2;
inline constexpr uint32_t kSerialEventMask = EV_RXCHAR | EV_RXFLAG;

class CSerialLink final : public ITransport {
public:
    using LogFn = std::function<void(const std::string&)>;

    explicit CSerialLink(SPortPaths paths = DefaultPortPaths());
    ~CSerialLink() override;  // stops the worker, waits for it, closes the port
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    // Stops a running worker (and waits for it), then opens COM<portNumber> exclusively and
    // configures it. False only when the device cannot be opened (missing, held, a console);
    // a failed configuration call is reported through the log, once per opening, and the port
    // stays open. A pseudo-terminal's missing modem lines are no failure.
    bool OpenPort(ISerialOwner* owner, unsigned portNumber, unsigned baud = kSerialBaud,
                  char parity = kSerialParity, unsigned dataBits = kSerialDataBits,
                  unsigned stopBits = kSerialStopBits, uint32_t eventMask = kSerialEventMask);
    // The same for a device node named by its path; portNumber only names it in diagnostics.
    bool OpenDevice(ISerialOwner* owner, const std::string& devicePath, unsigned portNumber = 0);
    // Why the last opening failed (None after a success), and the errno of an OsError.
    EOpenFailure LastOpenFailure() const { return m_openFailure; }
    int LastOpenError() const { return m_openError; }
    // Starts the worker on the open port. False when no port is open or a worker is running.
    bool Start();
    // Asks the worker to close the port and end; does not wait. A byte delivery in progress is
    // cancelled. Without a worker the port is closed at once.
    void Stop();

    // The write hand-over (user-interface thread): the bytes are copied and queued; the worker
    // writes each hand-over whole and in order. Dropped when no port is open or it was lost.
    void Write(std::span<const uint8_t> bytes) override;

    // Diagnostics (one line: operation, OS error text, port). Called on the calling thread
    // from OpenPort and on the worker thread afterwards; stderr when none is set.
    void SetLog(LogFn log) { m_log = std::move(log); }

    bool IsOpen() const { return m_fd.load() >= 0; }
    bool IsRunning() const { return m_running.load(); }
    unsigned PortNumber() const { return m_nPortNumber; }
    const std::string& DevicePath() const { return m_devicePath; }
    // The port's descriptor while open (tests inspect the port's queues), else -1.
    int NativeHandle() const { return m_fd.load(); }
    // Number of waits the worker has made (tests check it does not spin).
    uint64_t WaitCount() const { return m_waitCount.load(); }

private:
    bool OpenPath(ISerialOwner* owner, unsigned portNumber, const std::string& devicePath, unsigned baud,
                  char parity, unsigned dataBits, unsigned stopBits, uint32_t eventMask);
    void WorkerMain(std::stop_token stop);
    // Reads until the queue is empty, one owner call per read; false when the port is lost.
    bool ReadAvailable(std::stop_token stop);
    // Writes every queued hand-over; false when the port is lost.
    bool WritePending(std::stop_token stop);
    bool WriteAll(std::span<const uint8_t> bytes, std::stop_token stop);
    void LinkLost(const char* operation, int error);
    void Configure(unsigned baud, char parity, unsigned dataBits, unsigned stopBits);
    void Report(const std::string& operation, int error);
    void JoinWorker();
    void ClosePort();

    SPortPaths m_paths;
    LogFn m_log;
    ISerialOwner* m_pOwner = nullptr;
    unsigned m_nPortNumber = 0;
    uint32_t m_nEventMask = kSerialEventMask;
    std::string m_devicePath;
    EOpenFailure m_openFailure = EOpenFailure::None;
    int m_openError = 0;
    CPortHandle m_port;
    std::atomic<int> m_fd{-1};

    int m_shutdownFd = -1;  // eventfd; stays signalled once set, like a manual-reset event
    int m_writeFd = -1;     // eventfd; counts hand-overs
    std::thread m_worker;
    std::stop_source m_stop;
    std::atomic<bool> m_running{false};
    std::atomic<uint64_t> m_waitCount{0};
    std::set<std::string> m_reported;  // operations already reported since the open
    int m_lastError = 0;               // errno of the failure that lost the link

    std::mutex m_writeLock;  // guards the queue and m_bLost
    std::deque<std::vector<uint8_t>> m_writeQueue;
    bool m_bLost = false;
};

}  // namespace corvane
