// The listeners when descriptors run short: connections that never introduce
// themselves are bounded in number, and a listener that cannot accept rests
// instead of failing in a loop (or for good). The descriptor limit of the
// whole test process is lowered for a while; the far ends' sockets are made
// before, so that they do not count against it.
#include "FakePeer.h"
#include "PeerTestWorld.h"
#include "WireBytes.h"

#include "peer/PeerIdleWatch.h"

#include <QtTest>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <vector>

namespace
{
// A plain socket of the far end, made when the object is.
class RawClient
{
public:
    RawClient() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
    ~RawClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Valid() const { return m_fd >= 0; }
    // Starts connecting to 127.0.0.1 at the port; the handshake ends in the
    // system, whether or not the listener accepts.
    bool Connect(quint16 i_port)
    {
        sockaddr_in l_address{};
        l_address.sin_family = AF_INET;
        l_address.sin_port = htons(i_port);
        l_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(m_fd, reinterpret_cast<sockaddr*>(&l_address), sizeof l_address) == 0 || errno == EINPROGRESS;
    }
    bool Send(const QByteArray& i_bytes)
    {
        pollfd l_poll{m_fd, POLLOUT, 0};
        if (::poll(&l_poll, 1, 5000) != 1)
            return false;
        return ::send(m_fd, i_bytes.constData(), size_t(i_bytes.size()), MSG_NOSIGNAL) == i_bytes.size();
    }
    // The listening side closed the connection.
    bool ClosedByPeer() const
    {
        char l_byte = 0;
        const ssize_t l_read = ::recv(m_fd, &l_byte, 1, MSG_PEEK | MSG_DONTWAIT);
        return l_read == 0 || (l_read < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

private:
    int m_fd;
};

// Lowers the process's descriptor limit so that only a given number of new
// descriptors can be had; the old limit comes back with the object's end.
class DescriptorLimit
{
public:
    DescriptorLimit() { m_ok = ::getrlimit(RLIMIT_NOFILE, &m_saved) == 0; }
    ~DescriptorLimit() { Restore(); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

    bool LeaveFree(rlim_t i_free)
    {
        if (!m_ok)
            return false;
        // A new descriptor takes the lowest free number under the limit.
        std::set<int> l_open;
        DIR* lp_folder = ::opendir("/proc/self/fd");
        if (!lp_folder)
            return false;
        const int l_own = ::dirfd(lp_folder);
        while (dirent* lp_entry = ::readdir(lp_folder)) {
            const int l_fd = std::atoi(lp_entry->d_name);
            if (lp_entry->d_name[0] != '.' && l_fd != l_own)
                l_open.insert(l_fd);
        }
        ::closedir(lp_folder);
        rlim_t l_limit = 0;
        rlim_t l_free = 0;
        while (l_free < i_free) {
            if (l_open.count(int(l_limit)) == 0)
                ++l_free;
            ++l_limit;
        }
        if (l_limit > m_saved.rlim_cur)
            return false;
        rlimit l_lowered = m_saved;
        l_lowered.rlim_cur = l_limit;
        m_lowered = ::setrlimit(RLIMIT_NOFILE, &l_lowered) == 0;
        return m_lowered;
    }
    void Restore()
    {
        if (m_lowered)
            ::setrlimit(RLIMIT_NOFILE, &m_saved);
        m_lowered = false;
    }

private:
    rlimit m_saved{};
    bool m_ok = false;
    bool m_lowered = false;
};

// The far ends of a test: silent strangers and one peer that introduces
// itself, all made before the limit is lowered.
struct FarEnds
{
    explicit FarEnds(int i_strangers)
    {
        for (int l_index = 0; l_index < i_strangers; ++l_index)
            m_strangers.push_back(std::make_unique<RawClient>());
    }
    bool Valid() const
    {
        return m_peer.Valid()
               && std::all_of(m_strangers.begin(), m_strangers.end(), [](const auto& i_client) { return i_client->Valid(); });
    }
    RawClient& Stranger(int i_index) { return *m_strangers[size_t(i_index)]; }

    std::vector<std::unique_ptr<RawClient>> m_strangers;
    RawClient m_peer;
};

QByteArray Introduction(const std::string& i_user)
{
    return FakePeerFrames::Plain(WireWriter().U8(1).Str(i_user).Str("P").U32(0));
}

bool HasMessagingConnection(const std::string& i_user)
{
    for (ItemPtr l_connection : d.GetType("peer_socket")->GetItems()) {
        if (l_connection["user"].AsString() == i_user)
            return true;
    }
    return false;
}

// Processor time of the process in milliseconds.
qint64 CpuMs()
{
    rusage l_usage{};
    ::getrusage(RUSAGE_SELF, &l_usage);
    return (qint64(l_usage.ru_utime.tv_sec) + l_usage.ru_stime.tv_sec) * 1000
           + (l_usage.ru_utime.tv_usec + l_usage.ru_stime.tv_usec) / 1000;
}
}

class TestPeerDescriptors : public QObject
{
    Q_OBJECT

private slots:
    // More strangers than the bound, fewer descriptors than strangers: the
    // oldest stranger makes room for each new one, over both listeners, and a
    // peer that introduces itself still gets in.
    void theOldestSilentConnectionsMakeRoom()
    {
        const int l_bound = int(PeerIdleWatch::AcceptedLimit);
        const int l_strangers = l_bound + 44;
        PeerTestWorld l_world;
        l_world.Load();
        FarEnds l_far(l_strangers);
        QVERIFY(l_far.Valid());
        RawClient& l_peer = l_far.m_peer;
        DescriptorLimit l_limit;
        QVERIFY(l_limit.LeaveFree(rlim_t(l_bound + 24)));

        for (int l_index = 0; l_index < l_strangers; ++l_index) {
            const quint16 l_port = l_index % 2 ? l_world.ObfuscatedPort() : l_world.PlainPort();
            QVERIFY(l_far.Stranger(l_index).Connect(l_port));
            const int l_closed = l_index + 1 - l_bound;
            QVERIFY2(PeerTestWorld::WaitFor([&] {
                         return PeerTestWorld::ItemCount("uninitialized_socket") == qMin(l_index + 1, l_bound)
                                && (l_closed <= 0 || l_far.Stranger(l_closed - 1).ClosedByPeer());
                     }),
                     qPrintable(QString("stranger %1").arg(l_index)));
        }
        for (int l_index = 0; l_index < l_strangers; ++l_index)
            QCOMPARE(l_far.Stranger(l_index).ClosedByPeer(), l_index < l_strangers - l_bound);

        QVERIFY(l_peer.Connect(l_world.PlainPort()));
        QVERIFY(l_peer.Send(Introduction("pat")));
        QVERIFY(PeerTestWorld::WaitFor([] { return HasMessagingConnection("pat"); }));
        QVERIFY(!l_peer.ClosedByPeer());
        // The peer's accept closed one more stranger; its introduction left
        // the bound.
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), l_bound - 1);
        QVERIFY(l_far.Stranger(l_strangers - l_bound).ClosedByPeer());
    }

    // With no descriptor left, a listener rests a second after each failed
    // accept, and takes the connections that waited once there are
    // descriptors again.
    void aListenerThatCannotAcceptRestsAndComesBack()
    {
        PeerTestWorld l_world;
        l_world.Load();
        QCOMPARE(l_world.Listeners().size(), std::size_t(2));
        int l_errors = 0;
        for (QTcpServer* lp_listener : l_world.Listeners())
            QObject::connect(lp_listener, &QTcpServer::acceptError, [&l_errors] { ++l_errors; });
        const int l_strangers = 30;
        FarEnds l_far(l_strangers);
        QVERIFY(l_far.Valid());
        RawClient& l_peer = l_far.m_peer;
        {
            DescriptorLimit l_limit;
            QVERIFY(l_limit.LeaveFree(10));
            for (const auto& lp_client : l_far.m_strangers)
                QVERIFY(lp_client->Connect(l_world.PlainPort()));
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_errors > 0; }));
            const int l_accepted = PeerTestWorld::ItemCount("uninitialized_socket");
            QVERIFY(l_accepted > 0 && l_accepted <= 10);

            // The peer waits in the queue with the strangers.
            QVERIFY(l_peer.Connect(l_world.PlainPort()));
            QVERIFY(l_peer.Send(Introduction("pat")));
            const qint64 l_cpuBefore = CpuMs();
            QElapsedTimer l_wall;
            l_wall.start();
            PeerTestWorld::Settle(2500);
            const qint64 l_cpu = CpuMs() - l_cpuBefore;
            // About one try a second, not one after another.
            QVERIFY2(l_errors <= 5, qPrintable(QString("%1 failed accepts").arg(l_errors)));
            QVERIFY2(l_cpu * 2 < l_wall.elapsed(), qPrintable(QString("%1 ms busy of %2").arg(l_cpu).arg(l_wall.elapsed())));
            QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), l_accepted);
            QVERIFY(!HasMessagingConnection("pat"));
        }

        // Descriptors again: within the pause everybody waiting is taken.
        QVERIFY(PeerTestWorld::WaitFor([] { return HasMessagingConnection("pat"); },
                                       PeerMessenger::AcceptPauseMs + 3000));
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return PeerTestWorld::ItemCount("uninitialized_socket") == l_strangers; }));
        for (const auto& lp_client : l_far.m_strangers)
            QVERIFY(!lp_client->ClosedByPeer());
    }
};

QTEST_GUILESS_MAIN(TestPeerDescriptors)
#include "tst_peer_descriptors.moc"
