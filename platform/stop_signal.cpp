#include "platform/stop_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace corvane {

namespace {

// The state a signal handler reaches: the program's only such state, here and nowhere else.
volatile std::sig_atomic_t g_stopSignal = 0;
int g_stopPipe[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnStopSignal(int sig)
{
    const int saved = errno;  // the interrupted code may be about to read it
    if (g_stopSignal == 0)
        g_stopSignal = sig;
    const unsigned char c = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = write(g_stopPipe[1], &c, 1);
    errno = saved;
}

}  // namespace

CStopSignal::CStopSignal(bool hangUpToo) : m_hangUp(hangUpToo)
{
    if (g_stopPipe[0] >= 0)
        return;  // one lives already: its handlers stay
    g_stopSignal = 0;
    if (pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_owner = true;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int k = 0; k < (m_hangUp ? 3 : 2); ++k)
        sigaction(kSignals[k], &sa, &m_old[k]);
}

CStopSignal::~CStopSignal()
{
    if (!m_owner)
        return;
    for (int k = 0; k < (m_hangUp ? 3 : 2); ++k)
        sigaction(kSignals[k], &m_old[k], nullptr);
    close(g_stopPipe[0]);
    close(g_stopPipe[1]);
    g_stopPipe[0] = g_stopPipe[1] = -1;
    g_stopSignal = 0;
}

bool CStopSignal::Ok() const { return m_owner; }

int CStopSignal::Received() const { return g_stopSignal; }

int CStopSignal::Fd() const { return g_stopPipe[0]; }

void CStopSignal::Drain() const
{
    char buf[16];
    while (Ok() && read(g_stopPipe[0], buf, sizeof buf) > 0) {
    }
}

const volatile std::sig_atomic_t* StopSignalFlag() { return &g_stopSignal; }

const char* StopSignalName(int sig)
{
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: break;
    }
    static thread_local char text[24];
    std::snprintf(text, sizeof text, "signal %d", sig);
    return text;
}

}  // namespace corvane
