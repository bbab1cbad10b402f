#include "peer/PeerConnectionBudget.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTcpSocket>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <unordered_set>

namespace
{
constexpr std::size_t SelectLimit = 1024;
constexpr std::size_t MinReserve = 64;
}

struct PeerConnectionBudget::State
{
    std::unordered_set<const QTcpSocket*> m_open;
    std::function<void()> m_onRelease;
    bool m_notifyQueued = false;

    void Release(const QTcpSocket* ip_socket, const std::shared_ptr<State>& ip_self)
    {
        if (m_open.erase(ip_socket) == 0 || m_notifyQueued)
            return;
        // Told from the event loop: the release may come from within a
        // disposal or a store event.
        m_notifyQueued = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [lp_weak = std::weak_ptr<State>(ip_self)] {
                if (auto lp_state = lp_weak.lock()) {
                    lp_state->m_notifyQueued = false;
                    if (lp_state->m_onRelease)
                        lp_state->m_onRelease();
                }
            },
            Qt::QueuedConnection);
    }
};

namespace
{
// Lives as a child of a counted socket, so that the socket's destruction
// ends its count however it was taken apart from its signals.
class CountedSocket : public QObject
{
public:
    CountedSocket(QTcpSocket* ip_socket, std::weak_ptr<PeerConnectionBudget::State> ip_state)
        : QObject(ip_socket), mp_socket(ip_socket), mp_state(std::move(ip_state))
    {
    }
    ~CountedSocket() override
    {
        QCoreApplication* lp_application = QCoreApplication::instance();
        if (!lp_application)
            return;
        // The socket may end on another thread; the count lives on the GUI
        // thread.
        QMetaObject::invokeMethod(
            lp_application,
            [lp_socket = mp_socket, lp_weak = mp_state] {
                if (auto lp_state = lp_weak.lock())
                    lp_state->Release(lp_socket, lp_state);
            },
            QThread::currentThread() == lp_application->thread() ? Qt::DirectConnection : Qt::QueuedConnection);
    }

private:
    const QTcpSocket* mp_socket;
    std::weak_ptr<PeerConnectionBudget::State> mp_state;
};
}

PeerConnectionBudget::PeerConnectionBudget(std::function<void()> i_onRelease) : mp_state(std::make_shared<State>())
{
    mp_state->m_onRelease = std::move(i_onRelease);
}

PeerConnectionBudget::~PeerConnectionBudget() = default;

std::size_t PeerConnectionBudget::BoundFor(std::size_t i_softLimit)
{
    const std::size_t l_limit = std::min(i_softLimit, SelectLimit);
    const std::size_t l_reserve = std::max(l_limit / 4, MinReserve);
    return l_limit > l_reserve ? std::max(l_limit - l_reserve, l_limit / 2) : l_limit / 2;
}

std::size_t PeerConnectionBudget::AllowanceFor(std::size_t i_softLimit)
{
    const std::size_t l_limit = std::min(i_softLimit, SelectLimit);
    return std::min(MaxAllowance, (l_limit - BoundFor(i_softLimit)) / 4);
}

namespace
{
std::size_t SoftLimit()
{
    rlimit l_limit{};
    if (::getrlimit(RLIMIT_NOFILE, &l_limit) != 0 || l_limit.rlim_cur == RLIM_INFINITY)
        return SelectLimit;
    return std::size_t(l_limit.rlim_cur);
}
}

std::size_t PeerConnectionBudget::Bound()
{
    return BoundFor(SoftLimit());
}

std::size_t PeerConnectionBudget::Allowance()
{
    return AllowanceFor(SoftLimit());
}

void PeerConnectionBudget::Track(QTcpSocket* ip_socket)
{
    if (mp_state->m_open.insert(ip_socket).second)
        new CountedSocket(ip_socket, mp_state);
}

void PeerConnectionBudget::Release(QTcpSocket* ip_socket)
{
    mp_state->Release(ip_socket, mp_state);
}

std::size_t PeerConnectionBudget::Count() const
{
    return mp_state->m_open.size();
}

bool PeerConnectionBudget::Counts(const QTcpSocket* ip_socket) const
{
    return mp_state->m_open.contains(ip_socket);
}
