#include "transport/serial_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

namespace corvane {

namespace {

speed_t SpeedFor(unsigned baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

tcflag_t SizeFor(unsigned dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: return 0;
    }
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void Signal(int eventFd)
{
    const uint64_t one = 1;
    // An eventfd write only fails when the counter would overflow: it is signalled already.
    [[maybe_unused]] ssize_t n = write(eventFd, &one, sizeof one);
}

void Drain(int eventFd)
{
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(eventFd, &count, sizeof count);
}

}  // namespace

CSerialLink::CSerialLink(SPortPaths paths) : m_paths(std::move(paths)) {}

CSerialLink::~CSerialLink()
{
    JoinWorker();
    ClosePort();
    CloseFd(m_shutdownFd);
    CloseFd(m_writeFd);
}

void CSerialLink::Report(const std::string& operation, int error)
{
    if (!m_reported.insert(operation).second)
        return;
    std::string line = "COM" + std::to_string(m_nPortNumber) + " (" + m_devicePath + "): " + operation +
                       " failed: " + ErrorText(error);
    if (m_log)
        m_log(line);
    else
        std::fprintf(stderr, "corvane: %s\n", line.c_str());
}

bool CSerialLink::OpenPort(ISerialOwner* owner, unsigned portNumber, unsigned baud, char parity, unsigned dataBits,
                           unsigned stopBits, uint32_t eventMask)
{
    return OpenPath(owner, portNumber, DevicePathForCom(portNumber, m_paths), baud, parity, dataBits, stopBits,
                    eventMask);
}

bool CSerialLink::OpenDevice(ISerialOwner* owner, const std::string& devicePath, unsigned portNumber)
{
    return OpenPath(owner, portNumber, devicePath, kSerialBaud, kSerialParity, kSerialDataBits, kSerialStopBits,
                    kSerialEventMask);
}

bool CSerialLink::OpenPath(ISerialOwner* owner, unsigned portNumber, const std::string& devicePath, unsigned baud,
                           char parity, unsigned dataBits, unsigned stopBits, uint32_t eventMask)
{
    JoinWorker();
    ClosePort();

    CloseFd(m_shutdownFd);
    CloseFd(m_writeFd);
    m_shutdownFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_writeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    m_pOwner = owner;
    m_nPortNumber = portNumber;
    m_nEventMask = eventMask;
    m_reported.clear();
    {
        std::lock_guard lock(m_writeLock);
        m_writeQueue.clear();
        m_bLost = false;
    }

    m_devicePath = devicePath;
    m_openFailure = EOpenFailure::OsError;
    m_openError = 0;
    if (m_shutdownFd < 0 || m_writeFd < 0) {
        m_openError = errno;
        Report("eventfd()", m_openError);
        return false;
    }
    if (m_devicePath.empty()) {
        m_openFailure = EOpenFailure::Missing;
        return false;
    }
    // A ttyS node exists for every possible UART; only one with hardware behind it is a port.
    const std::string uartNode = m_paths.devRoot + "/ttyS";
    const bool requireUart = m_devicePath.compare(0, uartNode.size(), uartNode) == 0;
    CPortHandle::SResult opened = CPortHandle::Open(m_devicePath, m_paths, requireUart);
    m_openFailure = opened.failure;
    m_openError = opened.error;
    if (!opened.handle.IsOpen())
        return false;
    m_port = std::move(opened.handle);
    m_fd = m_port.Fd();
    Configure(baud, parity, dataBits, stopBits);
    // Whatever waits in the input was said to whoever had the port before: an answer to their
    // command must not be taken for one of ours.
    tcflush(m_fd, TCIFLUSH);
    return true;
}

void CSerialLink::Configure(unsigned baud, char parity, unsigned dataBits, unsigned stopBits)
{
    const int fd = m_port.Fd();
    termios tio {};
    if (tcgetattr(fd, &tio) != 0) {
        Report("tcgetattr()", errno);
    } else {
        // Turn off all fancy termios tricks, give us a raw channel.
        cfmakeraw(&tio);
        const speed_t speed = SpeedFor(baud);
        const tcflag_t size = SizeFor(dataBits);
        const char p = char(std::toupper(static_cast<unsigned char>(parity)));
        const bool parityOk = p == 'N' || p == 'E' || p == 'O' || p == 'M' || p == 'S';
        if (speed == B0 || size == 0 || !parityOk || (stopBits != 1 && stopBits != 2)) {
            char settings[100];
            std::snprintf(settings, sizeof settings, "settings baud=%u parity=%c data=%u stop=%u", baud, parity,
                          dataBits, stopBits);
            Report(settings, EINVAL);
        } else {
            tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
            tio.c_cflag |= size | CLOCAL | CREAD;
            if (stopBits == 2)
                tio.c_cflag |= CSTOPB;
            if (p != 'N')
                tio.c_cflag |= PARENB;
            if (p == 'O' || p == 'M')
                tio.c_cflag |= PARODD;
            if (p == 'M' || p == 'S')
                tio.c_cflag |= CMSPAR;
            tio.c_cc[VMIN] = 0;
            tio.c_cc[VTIME] = 0;
            cfsetispeed(&tio, speed);
            cfsetospeed(&tio, speed);
            if (tcsetattr(fd, TCSANOW, &tio) != 0)
                Report("tcsetattr()", errno);
        }
    }
    // A pseudo-terminal has no modem lines and answers ENOTTY (EINVAL on older kernels): that
    // is expected, not a failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        Report("ioctl(TIOCMBIS)", errno);
    if (tcflush(fd, TCIOFLUSH) != 0)
        Report("tcflush(TCIOFLUSH)", errno);
}

bool CSerialLink::Start()
{
    if (m_running.load())
        return false;
    // A worker that has stopped may still be on its way out; only after it has gone is the
    // port's state settled.
    if (m_worker.joinable())
        m_worker.join();
    if (!IsOpen())
        return false;
    // Purged here rather than on the worker: bytes that arrive once Start has returned are kept.
    tcflush(m_port.Fd(), TCIOFLUSH);
    m_stop = std::stop_source();
    m_running = true;
    m_worker = std::thread(&CSerialLink::WorkerMain, this, m_stop.get_token());
    return true;
}

void CSerialLink::Stop()
{
    if (m_running.load()) {
        m_stop.request_stop();  // cancels a byte delivery the worker is blocked in
        Signal(m_shutdownFd);
    } else {
        ClosePort();
    }
}

void CSerialLink::JoinWorker()
{
    if (!m_worker.joinable())
        return;
    Stop();
    m_worker.join();
}

void CSerialLink::ClosePort()
{
    m_fd = -1;
    m_port.Close();
}

void CSerialLink::Write(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return;
    {
        std::lock_guard lock(m_writeLock);
        if (m_fd.load() < 0 || m_bLost)
            return;
        m_writeQueue.emplace_back(bytes.begin(), bytes.end());
    }
    Signal(m_writeFd);
}

void CSerialLink::LinkLost(const char* operation, int error)
{
    {
        std::lock_guard lock(m_writeLock);
        m_bLost = true;
        m_writeQueue.clear();
    }
    Report(operation, error);
    if (m_pOwner)
        m_pOwner->OnPortLinkLost(m_nPortNumber);
}

void CSerialLink::WorkerMain(std::stop_token stop)
{
    const int fd = m_port.Fd();
    // Priority order: shutdown, port, write; poll reports all, the loop honours the first.
    pollfd fds[3] = {
        {m_shutdownFd, POLLIN, 0},
        {fd, short((m_nEventMask & EV_RXCHAR) ? POLLIN : 0), 0},
        {m_writeFd, POLLIN, 0},
    };
    bool lost = false;
    auto lose = [&](const char* operation, int error) {
        lost = true;
        // A hung-up port keeps reporting POLLHUP: from now on wait for the shutdown alone.
        fds[1].fd = -1;
        fds[2].fd = -1;
        LinkLost(operation, error);
    };
    while (!stop.stop_requested()) {
        ++m_waitCount;
        const int n = poll(fds, 3, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (!lost)
                lose("poll()", errno);
            else
                poll(nullptr, 0, 100);  // cannot wait on the shutdown event: check it now and then
            continue;
        }
        if (fds[0].revents)
            break;
        if (fds[1].revents) {
            if ((fds[1].revents & POLLIN) && !ReadAvailable(stop))
                lose("read()", m_lastError);
            else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
                lose("poll() on the port", (fds[1].revents & POLLNVAL) ? EBADF : EIO);
            continue;
        }
        if (fds[2].revents) {
            Drain(m_writeFd);
            if (!WritePending(stop))
                lose("write()", m_lastError);
        }
    }
    {
        std::lock_guard lock(m_writeLock);
        m_writeQueue.clear();
    }
    ClosePort();
    m_running = false;
}

bool CSerialLink::ReadAvailable(std::stop_token stop)
{
    const int fd = m_port.Fd();
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            if (m_pOwner)
                m_pOwner->OnPortBytes(std::span<const uint8_t>(buf, std::size_t(n)), m_nPortNumber, stop);
            if (stop.stop_requested())
                return true;
            continue;
        }
        if (n == 0)  // VMIN = VTIME = 0: the queue is empty (a hang-up shows as POLLHUP)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return true;
        // EIO, ENXIO, ENODEV after a hang-up; any other error would repeat on every wake-up
        // and make the worker spin, so it loses the link as well.
        m_lastError = errno;
        return false;
    }
}

bool CSerialLink::WritePending(std::stop_token stop)
{
    const int fd = m_port.Fd();
    for (;;) {
        std::vector<uint8_t> bytes;
        {
            std::lock_guard lock(m_writeLock);
            if (m_writeQueue.empty())
                return true;
            bytes = std::move(m_writeQueue.front());
            m_writeQueue.pop_front();
        }
        // Input not yet read is a stale reply: discard it before the next command. Output is
        // left alone: all of it is ours, and purging it would cut the previous hand-over short.
        if (tcflush(fd, TCIFLUSH) != 0)
            Report("tcflush(TCIFLUSH)", errno);
        if (!WriteAll(bytes, stop))
            return false;
        if (stop.stop_requested())
            return true;
    }
}

bool CSerialLink::WriteAll(std::span<const uint8_t> bytes, std::stop_token stop)
{
    const int fd = m_port.Fd();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            m_lastError = errno;
            return false;
        }
        // The output queue is full: wait for room, or for the shutdown.
        pollfd fds[2] = {{m_shutdownFd, POLLIN, 0}, {fd, POLLOUT, 0}};
        ++m_waitCount;
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            m_lastError = errno;
            return false;
        }
        if (fds[0].revents || stop.stop_requested())
            return true;
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_lastError = EIO;
            return false;
        }
    }
    return true;
}

}  // namespace corvane
