#include "core/platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
// Read by the handler: the write end of the socket pair, or -1.
volatile sig_atomic_t g_signalWriteFd = -1;
int g_signalReadFd = -1;
TerminationSignals* gp_watcher = nullptr;

extern "C" void OnTerminationSignal(int i_signal)
{
    const int l_savedErrno = errno;
    const int l_fd = g_signalWriteFd;
    if (l_fd >= 0) {
        const unsigned char l_byte = static_cast<unsigned char>(i_signal);
        // A full socket means a wake-up is already pending; nothing is lost.
        [[maybe_unused]] const ssize_t l_written = ::write(l_fd, &l_byte, 1);
    }
    errno = l_savedErrno;
}

bool SetHandler(int i_signal, void (*ip_handler)(int))
{
    struct sigaction l_action = {};
    l_action.sa_handler = ip_handler;
    sigemptyset(&l_action.sa_mask);
    l_action.sa_flags = SA_RESTART;
    return ::sigaction(i_signal, &l_action, nullptr) == 0;
}

void UninstallHandlers()
{
    SetHandler(SIGTERM, SIG_DFL);
    SetHandler(SIGINT, SIG_DFL);
    const int l_writeFd = g_signalWriteFd;
    // No handler may pick the number up once it is closed and reused.
    g_signalWriteFd = -1;
    if (l_writeFd >= 0)
        ::close(l_writeFd);
    if (g_signalReadFd >= 0)
        ::close(g_signalReadFd);
    g_signalReadFd = -1;
}
}

bool TerminationSignals::InstallHandlers()
{
    if (g_signalWriteFd >= 0)
        return true;
    int l_fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, l_fds) != 0)
        return false;
    g_signalReadFd = l_fds[0];
    g_signalWriteFd = l_fds[1];
    if (!SetHandler(SIGTERM, OnTerminationSignal) || !SetHandler(SIGINT, OnTerminationSignal)) {
        UninstallHandlers();
        return false;
    }
    return true;
}

TerminationSignals::TerminationSignals(QObject* ip_parent) : QObject(ip_parent)
{
    if (gp_watcher || !InstallHandlers())
        return;
    gp_watcher = this;
    mp_notifier = new QSocketNotifier(g_signalReadFd, QSocketNotifier::Read, this);
    connect(mp_notifier, &QSocketNotifier::activated, this, &TerminationSignals::OnReadable);
}

TerminationSignals::~TerminationSignals()
{
    if (gp_watcher != this)
        return;
    delete mp_notifier;
    mp_notifier = nullptr;
    UninstallHandlers();
    gp_watcher = nullptr;
}

void TerminationSignals::OnReadable()
{
    unsigned char l_buffer[64];
    int l_lastSignal = 0;
    for (;;) {
        const ssize_t l_count = ::read(g_signalReadFd, l_buffer, sizeof l_buffer);
        if (l_count > 0) {
            l_lastSignal = l_buffer[l_count - 1];
            continue;
        }
        if (l_count < 0 && errno == EINTR)
            continue;
        break;
    }
    if (l_lastSignal != 0)
        emit TerminationRequested(l_lastSignal);
}
