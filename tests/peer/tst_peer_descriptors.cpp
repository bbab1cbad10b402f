// The listeners when descriptors run short: connections that never introduce
// themselves are bounded in number, and a listener that cannot accept rests
// instead of failing in a loop (or for good). The descriptor limit of the
// whole test process is lowered for a while; the far ends' sockets are made
// before, so that they do not count against it.
#include "FakePeer.h"
#include "PeerTestWorld.h"
#include "RawClient.h"
#include "SilentListener.h"
#include "WireBytes.h"

#include "peer/PeerAttemptQueue.h"
#include "peer/PeerConnectionBudget.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerIdleWatch.h"

#include <QAbstractEventDispatcher>
#include <QtTest>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <utility>
#include <memory>
#include <set>
#include <vector>

namespace
{
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
    rlim_t Limit() const { return m_lowered ? ::getrlimit(RLIMIT_NOFILE, &m_probe), m_probe.rlim_cur : m_saved.rlim_cur; }
    void Restore()
    {
        if (m_lowered)
            ::setrlimit(RLIMIT_NOFILE, &m_saved);
        m_lowered = false;
    }

private:
    rlimit m_saved{};
    mutable rlimit m_probe{};
    bool m_ok = false;
    bool m_lowered = false;
};

using Silent = std::vector<std::unique_ptr<SilentListener>>;

// Silent listeners on networks of their own (127.0.<first + n>.1), each with
// its one place taken: attempts to them stay connecting.
Silent SilentNetworks(int i_count, int i_first = 10)
{
    Silent l_listeners;
    for (int l_index = 0; l_index < i_count; ++l_index) {
        l_listeners.push_back(std::make_unique<SilentListener>(0x7F000001u | quint32(i_first + l_index) << 8));
        if (!l_listeners.back()->Fill())
            return {};
    }
    return l_listeners;
}

// Asks for a messaging connection to each user, all at the listener.
void ReachAt(PeerTestWorld& io_world, int i_first, int i_count, const SilentListener& i_at)
{
    for (int l_index = i_first; l_index < i_first + i_count; ++l_index) {
        const std::string l_user = "u" + std::to_string(l_index);
        io_world.GiveAddress(l_user, i_at.Address(), i_at.Port(), 0);
        MemStream l_message;
        l_message.Write(static_cast<unsigned int>(4));
        io_world.Messenger().SendMessage(l_user, l_message);
    }
}

// The same, the users spread over the listeners in turn.
void Reach(PeerTestWorld& io_world, int i_first, int i_count, const Silent& i_at)
{
    for (int l_index = i_first; l_index < i_first + i_count; ++l_index)
        ReachAt(io_world, l_index, 1, *i_at[std::size_t(l_index - i_first) % i_at.size()]);
}

// The direct attempts by the state of their sockets.
struct Attempts
{
    int m_connecting = 0;
    int m_waiting = 0;
    std::set<std::string> m_users;
};

Attempts CountAttempts()
{
    Attempts l_attempts;
    for (ItemPtr l_record : d.GetType("connect_to_peer_request_socket")->GetItems()) {
        const auto* lp_socket = l_record.AsObject<QTcpSocket>();
        if (lp_socket && lp_socket->state() == QAbstractSocket::UnconnectedState)
            ++l_attempts.m_waiting;
        else
            ++l_attempts.m_connecting;
        l_attempts.m_users.insert(l_record["user"].AsString());
    }
    return l_attempts;
}

// When the user's messaging connection last carried something, by the peer
// layer's clock; invalid without one.
QDateTime LastActivity(const std::string& i_user)
{
    for (ItemPtr l_connection : d.GetType("peer_socket")->GetItems()) {
        if (l_connection["user"].AsString() == i_user)
            return *l_connection["last_activity_time"].AsObject<QDateTime>();
    }
    return QDateTime();
}

bool IsConnecting(const std::string& i_user)
{
    for (ItemPtr l_record : d.GetType("connect_to_peer_request_socket")->GetItems()) {
        const auto* lp_socket = l_record.AsObject<QTcpSocket>();
        if (l_record["user"].AsString() == i_user)
            return lp_socket && lp_socket->state() != QAbstractSocket::UnconnectedState;
    }
    return false;
}

// Silent strangers connecting from a child process of their own, so that
// their descriptors count against neither the test's limit nor the
// descriptors it leaves free. The child only makes and closes sockets.
class StrangerProcess
{
public:
    explicit StrangerProcess(quint16 i_port)
    {
        int l_pipe[2];
        if (::pipe(l_pipe) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only the command pipe: copies of the test's sockets would keep
            // its connections open.
            const int l_commands = 3;
            if (::dup2(l_pipe[0], l_commands) < 0)
                ::_exit(1);
            ::close_range(l_commands + 1, ~0U, 0);
            std::deque<int> l_open;
            char l_command = 0;
            while (::read(l_commands, &l_command, 1) == 1) {
                if (l_command == 'o') {
                    RawClient* lp_client = new RawClient;
                    lp_client->Connect(i_port);
                    l_open.push_back(lp_client->Release());
                    delete lp_client;
                } else if (!l_open.empty()) {
                    ::close(l_open.front());
                    l_open.pop_front();
                }
            }
            ::_exit(0);
        }
        ::close(l_pipe[0]);
        m_commands = l_pipe[1];
    }
    ~StrangerProcess()
    {
        if (m_commands >= 0)
            ::close(m_commands);
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
    }
    StrangerProcess(const StrangerProcess&) = delete;
    StrangerProcess& operator=(const StrangerProcess&) = delete;

    bool Valid() const { return m_pid > 0 && m_commands >= 0; }
    // Connects i_count more strangers; closes the i_count oldest.
    bool Open(int i_count) { return Tell('o', i_count); }
    bool Close(int i_count) { return Tell('x', i_count); }

private:
    bool Tell(char i_command, int i_count)
    {
        const QByteArray l_commands(i_count, i_command);
        return ::write(m_commands, l_commands.constData(), size_t(l_commands.size())) == l_commands.size();
    }

    pid_t m_pid = -1;
    int m_commands = -1;
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

// More than the client's timers wake the event loop in a few seconds at
// rest: a loop that spins wakes it at every turn.
constexpr int WakeUpsAtRest = 100;

// How often the event loop woke (each return from a wait for events; the
// timer that ends the sleep is one) while the test slept in it for a while:
// what the client did meanwhile, whatever the machine's speed or load.
int WakeUpsDuring(int i_ms)
{
    int l_wakeUps = 0;
    const QMetaObject::Connection l_counter = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, [&l_wakeUps] { ++l_wakeUps; });
    PeerTestWorld::Settle(i_ms);
    QObject::disconnect(l_counter);
    return l_wakeUps;
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
        QVERIFY(l_peer.Send(RawClient::Introduction("pat")));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }));
        QVERIFY(!l_peer.ClosedByPeer());
        // The peer's accept closed one more stranger; its introduction left
        // the bound.
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), l_bound - 1);
        QVERIFY(l_far.Stranger(l_strangers - l_bound).ClosedByPeer());
    }

    // The bound of peer connections under a descriptor limit: below 1,024
    // whatever the limit, with room for the rest of the process.
    void theConnectionBoundLeavesRoom_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("bound");
        QTest::newRow("100") << 100 << 50;
        QTest::newRow("256") << 256 << 192;
        QTest::newRow("1024") << 1024 << 768;
        QTest::newRow("65536") << 65536 << 768;
    }
    void theConnectionBoundLeavesRoom()
    {
        QFETCH(int, limit);
        QFETCH(int, bound);
        QCOMPARE(PeerConnectionBudget::BoundFor(std::size_t(limit)), std::size_t(bound));
    }

    // A listener that has accepted before, at the bound of connections:
    // it stops accepting instead of failing accepts without end, costs next
    // to no processor time while it waits, and serves a new peer once
    // connections close. Without the bound the strangers would take every
    // free descriptor. With "idle", the strangers just fill the bound, and
    // the peer that came first, silent long enough, makes room for the new
    // one instead.
    void aWarmListenerAtTheBoundWaitsForRoom_data()
    {
        QTest::addColumn<bool>("idle");
        QTest::newRow("strangers close") << false;
        QTest::newRow("an idle peer makes room") << true;
    }
    void aWarmListenerAtTheBoundWaitsForRoom()
    {
        QFETCH(bool, idle);
        // Few enough that the strangers past the bound, and the new peer,
        // still fit the listener's backlog.
        constexpr int Free = 80;
        PeerTestWorld l_world;
        l_world.Load();
        RawClient l_pat;
        RawClient l_sam;
        QVERIFY(l_pat.Valid() && l_sam.Valid());
        QVERIFY(l_pat.Connect(l_world.PlainPort()));
        QVERIFY(l_pat.Send(RawClient::Introduction("pat")));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }));
        StrangerProcess l_strangers(l_world.PlainPort());
        QVERIFY(l_strangers.Valid());

        DescriptorLimit l_limit;
        QVERIFY(l_limit.LeaveFree(Free));
        const int l_bound = int(PeerConnectionBudget::BoundFor(l_limit.Limit()));
        QVERIFY2(l_bound + 10 < Free, qPrintable(QString("bound %1").arg(l_bound)));
        const int l_count = idle ? l_bound - 1 : Free + 2;
        QVERIFY(l_strangers.Open(l_count));
        QVERIFY(PeerTestWorld::WaitFor([&] { return PeerTestWorld::ItemCount("uninitialized_socket") == l_bound - 1; }));
        QVERIFY(l_sam.Connect(l_world.PlainPort()));
        QVERIFY(l_sam.Send(RawClient::Introduction("sam")));

        // Asleep but for a timer or two; a listener that looked again at
        // every turn would wake the loop tens of thousands of times.
        const int l_wakeUps = WakeUpsDuring(2000);
        QVERIFY2(l_wakeUps < WakeUpsAtRest, qPrintable(QString("%1 wake-ups").arg(l_wakeUps)));
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), l_bound - 1);
        QVERIFY(!PeerTestWorld::HasMessagingConnection("sam"));

        if (idle) {
            l_world.Advance(PeerMessenger::IdleEnoughToCloseMs + 1000);
            l_world.Messenger().EveryHalfMinute();
            QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("sam"); }));
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_pat.ClosedByPeer(); }));
            QVERIFY(!PeerTestWorld::HasMessagingConnection("pat"));
            return;
        }
        QVERIFY(l_strangers.Close(l_count));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("sam"); }));
        QVERIFY(PeerTestWorld::HasMessagingConnection("pat"));
    }

    // At the bound, a new peer waits only until the connection silent
    // longest has been silent the idle age, not for the half-minute sweep:
    // it is accepted then, and that connection alone closes. When the
    // oldest speaks again before, the next oldest makes room at its own
    // moment. The clock is the test's; the timer that waits for that moment
    // is a real one, and is seen firing in vain just before it.
    void aPeerAtTheBoundWaitsOnlyForTheIdleAge_data()
    {
        QTest::addColumn<bool>("oldestSpeaks");
        QTest::newRow("the oldest falls silent") << false;
        QTest::newRow("the oldest speaks again, the next falls silent") << true;
    }
    void aPeerAtTheBoundWaitsOnlyForTheIdleAge()
    {
        QFETCH(bool, oldestSpeaks);
        constexpr int Free = 80;
        constexpr qint64 IdleMs = 3000;
        // How long before the moment the clock stands while the timer fires.
        constexpr qint64 BeforeMs = 50;
        int l_clockReads = 0;
        PeerTestWorld l_world;
        SetPeerClock([&] {
            ++l_clockReads;
            return l_world.m_now;
        });
        l_world.Messenger().SetIdleEnoughToCloseMs(IdleMs);
        l_world.Load();
        RawClient l_pat;
        RawClient l_kim;
        RawClient l_sam;
        QVERIFY(l_pat.Valid() && l_kim.Valid() && l_sam.Valid());
        const QDateTime l_start = l_world.m_now;
        QVERIFY(l_pat.Connect(l_world.PlainPort(), 0x7F000102));
        QVERIFY(l_pat.Send(RawClient::Introduction("pat")));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }));
        l_world.Advance(300);
        QVERIFY(l_kim.Connect(l_world.PlainPort(), 0x7F000202));
        QVERIFY(l_kim.Send(RawClient::Introduction("kim")));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("kim"); }));
        QCOMPARE(LastActivity("pat"), l_start);
        QCOMPARE(LastActivity("kim"), l_start.addMSecs(300));
        if (oldestSpeaks) {
            l_world.Advance(100);
            QVERIFY(l_pat.Send(FakePeerFrames::Plain(WireWriter().U32(9999))));
            QVERIFY(PeerTestWorld::WaitFor([&] { return LastActivity("pat") == l_world.m_now; }));
        }
        StrangerProcess l_strangers(l_world.PlainPort());
        QVERIFY(l_strangers.Valid());

        DescriptorLimit l_limit;
        QVERIFY(l_limit.LeaveFree(Free));
        const int l_bound = int(PeerConnectionBudget::BoundFor(l_limit.Limit()));
        QVERIFY2(l_bound + 10 < Free, qPrintable(QString("bound %1").arg(l_bound)));
        QVERIFY(l_strangers.Open(l_bound - 2));
        QVERIFY(PeerTestWorld::WaitFor([&] { return PeerTestWorld::ItemCount("uninitialized_socket") == l_bound - 2; }));

        // pat's moment comes first; with pat busy again, kim's decides.
        const QDateTime l_moment = l_start.addMSecs((oldestSpeaks ? 300 : 0) + IdleMs);
        l_world.m_now = l_moment.addMSecs(-BeforeMs);
        QVERIFY(l_sam.Connect(l_world.PlainPort(), 0x7F000302));
        QVERIFY(l_sam.Send(RawClient::Introduction("sam")));
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return l_world.LogTexts().filter("not accepting until one closes").size() == 1; }));
        // The timer, armed for the moment, looks again a few times: each
        // look reads the clock.
        const int l_readsWaiting = l_clockReads;
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_clockReads >= l_readsWaiting + 4; }));
        QVERIFY(!PeerTestWorld::HasMessagingConnection("sam"));

        l_world.m_now = l_moment;
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("sam"); }));
        RawClient& l_closed = oldestSpeaks ? l_kim : l_pat;
        RawClient& l_kept = oldestSpeaks ? l_pat : l_kim;
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_closed.ClosedByPeer(); }));
        QVERIFY(!PeerTestWorld::HasMessagingConnection(oldestSpeaks ? "kim" : "pat"));
        QVERIFY(PeerTestWorld::HasMessagingConnection(oldestSpeaks ? "pat" : "kim"));
        QVERIFY(!l_kept.ClosedByPeer());
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), l_bound - 2);
    }

    // At most 64 attempts connect at once, 8 of them to one network; the
    // others wait their turn, which comes when earlier ones end, and still
    // expire a minute after they were made.
    void outgoingAttemptsWaitTheirTurn()
    {
        constexpr int InFlight = int(PeerAttemptQueue::MaxInFlight);
        constexpr int Networks = InFlight / int(PeerAttemptQueue::MaxInFlightPerNetwork);
        PeerTestWorld l_world;
        l_world.Load();
        const Silent l_silent = SilentNetworks(Networks);
        QCOMPARE(int(l_silent.size()), Networks);
        Reach(l_world, 0, InFlight + 6, l_silent);
        PeerTestWorld::Settle(200);
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
        Attempts l_first = CountAttempts();
        QCOMPARE(l_first.m_connecting, InFlight);
        QCOMPARE(l_first.m_waiting, 6);

        l_world.Advance(40000);
        Reach(l_world, 100, 6, l_silent);
        PeerTestWorld::Settle(100);
        QCOMPARE(CountAttempts().m_waiting, 12);

        // The first ones, waiting or not, expire; the later ones connect.
        l_world.Advance(21000);
        l_world.Messenger().EveryHalfMinute();
        QVERIFY(PeerTestWorld::WaitFor([] { return CountAttempts().m_connecting == 6; }));
        const Attempts l_later = CountAttempts();
        QCOMPARE(l_later.m_waiting, 0);
        QCOMPARE(l_later.m_users, (std::set<std::string>{"u100", "u101", "u102", "u103", "u104", "u105"}));
        l_world.Advance(40000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);
    }

    // Attempts to peers that never answer hold every place for connecting:
    // a file connection (for an upload the peer accepted) does not wait
    // behind them, nor behind the attempts that wait for a place.
    void aFileConnectionDoesNotWaitBehindAttemptsThatNeverAnswer()
    {
        constexpr int InFlight = int(PeerAttemptQueue::MaxInFlight);
        PeerTestWorld l_world;
        l_world.Load();
        const Silent l_silent = SilentNetworks(InFlight / int(PeerAttemptQueue::MaxInFlightPerNetwork));
        QVERIFY(!l_silent.empty());
        Reach(l_world, 0, InFlight + 10, l_silent);
        QVERIFY(PeerTestWorld::WaitFor([] { return CountAttempts().m_waiting == 10; }));
        FakePeer l_fay;
        QVERIFY(l_fay.Listen());
        l_world.GiveAddress("fay", PeerTestWorld::Loopback, l_fay.Port(), 0);
        // The transfer manager's part: it owns the connection from here on.
        QObject::connect(&l_world.Messenger(), &PeerMessenger::FileConnectionAccepted,
                         [](std::string, QTcpSocket* ip_socket) { ip_socket->deleteLater(); });
        l_world.Messenger().RequestFileConnectionToUser("fay");
        QVERIFY(l_fay.WaitForConnection(false, 2000) != nullptr);
        const Attempts l_attempts = CountAttempts();
        QCOMPARE(l_attempts.m_connecting, InFlight);
        QCOMPARE(l_attempts.m_waiting, 10);
    }

    // At most 1,000 attempts wait: the network with the most waiting drops
    // its oldest first, not the attempts of a network that came before it.
    void theCrowdedNetworksOldestWaitingAttemptsAreDropped()
    {
        constexpr int InFlight = int(PeerAttemptQueue::MaxInFlight);
        constexpr int Waiting = int(PeerAttemptQueue::MaxWaiting);
        constexpr int Early = 3;
        PeerTestWorld l_world;
        l_world.Load();
        const Silent l_silent = SilentNetworks(InFlight / int(PeerAttemptQueue::MaxInFlightPerNetwork));
        const Silent l_other = SilentNetworks(1, 50);
        QVERIFY(!l_silent.empty() && !l_other.empty());
        // Every place taken, then a few for another network wait, then the
        // crowd's.
        Reach(l_world, 0, InFlight, l_silent);
        Reach(l_world, InFlight, Early, l_other);
        ReachAt(l_world, 1000, Waiting, *l_silent.front());
        QVERIFY(PeerTestWorld::WaitFor([] {
            return PeerTestWorld::ItemCount("connect_to_peer_request_socket") == InFlight + Waiting;
        }));
        const Attempts l_attempts = CountAttempts();
        QCOMPARE(l_attempts.m_connecting, InFlight);
        QCOMPARE(l_attempts.m_waiting, Waiting);
        for (int l_index = InFlight; l_index < InFlight + Early; ++l_index)
            QVERIFY(l_attempts.m_users.count("u" + std::to_string(l_index)));
        for (int l_index = 1000; l_index < 1000 + Early; ++l_index) {
            QVERIFY(!l_attempts.m_users.count("u" + std::to_string(l_index)));
            QVERIFY(l_world.LogTexts().contains(QString("Direct connection of type P to user u%1 failed").arg(l_index)));
        }
        QVERIFY(l_attempts.m_users.count("u" + std::to_string(1000 + Early)));
        // Each kind of line once a minute: the drops in one line, the waits
        // in one line for each network.
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.filter("connection attempts wait, dropping the oldest").size(), 1);
        QCOMPARE(l_lines.filter("waits its turn").size(), 2);
    }

    // Places free while many networks that hold places have attempts
    // waiting: a network with nothing connecting has the next one, though
    // its attempt came last.
    void aNetworkWithNothingConnectingHasTheNextPlace()
    {
        constexpr int Each = 4;
        constexpr int Early = 2;
        constexpr int Later = int(PeerAttemptQueue::MaxInFlight) / Each - Early;
        PeerTestWorld l_world;
        l_world.Load();
        const Silent l_early = SilentNetworks(Early, 40);
        const Silent l_later = SilentNetworks(Later, 50);
        const Silent l_newcomer = SilentNetworks(1, 80);
        QVERIFY(!l_early.empty() && !l_later.empty() && !l_newcomer.empty());
        for (int l_network = 0; l_network < Early; ++l_network)
            ReachAt(l_world, 100 * l_network, Each, *l_early[std::size_t(l_network)]);
        l_world.Advance(30000);
        // Every place taken, then two more of each later network wait.
        for (int l_network = 0; l_network < Later; ++l_network)
            ReachAt(l_world, 1000 + 100 * l_network, Each, *l_later[std::size_t(l_network)]);
        for (int l_network = 0; l_network < Later; ++l_network)
            ReachAt(l_world, 1000 + 100 * l_network + Each, 2, *l_later[std::size_t(l_network)]);
        ReachAt(l_world, 9000, 1, *l_newcomer.front());
        QVERIFY(PeerTestWorld::WaitFor([] { return CountAttempts().m_waiting == 2 * Later + 1; }));
        QVERIFY(!IsConnecting("u9000"));

        // The early networks' attempts time out: their places free.
        l_world.Advance(31000);
        l_world.Messenger().EveryHalfMinute();
        QVERIFY(PeerTestWorld::WaitFor([] { return IsConnecting("u9000"); }));
    }

    // Two networks wait as many attempts each when the queue overflows: the
    // one whose oldest waits longest drops it, whichever network's number is
    // the higher.
    void networksWaitingAsManyAreToldApartByAge()
    {
        constexpr int InFlight = int(PeerAttemptQueue::MaxInFlight);
        constexpr int Half = int(PeerAttemptQueue::MaxWaiting) / 2;
        PeerTestWorld l_world;
        l_world.Load();
        const Silent l_silent = SilentNetworks(InFlight / int(PeerAttemptQueue::MaxInFlightPerNetwork));
        const Silent l_older = SilentNetworks(1, 50);
        const Silent l_newer = SilentNetworks(1, 60);
        const Silent l_third = SilentNetworks(1, 70);
        QVERIFY(!l_silent.empty() && !l_older.empty() && !l_newer.empty() && !l_third.empty());
        Reach(l_world, 0, InFlight, l_silent);
        ReachAt(l_world, 1000, Half, *l_older.front());
        ReachAt(l_world, 2000, Half, *l_newer.front());
        ReachAt(l_world, 3000, 1, *l_third.front());
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return l_world.LogTexts().contains("Direct connection of type P to user u1000 failed"); }));
        const Attempts l_attempts = CountAttempts();
        QVERIFY(!l_attempts.m_users.count("u1000"));
        QVERIFY(l_attempts.m_users.count("u2000"));
        QVERIFY(l_attempts.m_users.count("u3000"));
    }

    // With no descriptor left, a listener rests a second after each failed
    // accept, says so once, and takes the connections that waited once
    // there are descriptors again.
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
            QVERIFY(l_peer.Send(RawClient::Introduction("pat")));
            const int l_wakeUps = WakeUpsDuring(2500);
            // About one try a second, not one after another.
            QVERIFY2(l_errors <= 5, qPrintable(QString("%1 failed accepts").arg(l_errors)));
            QVERIFY(l_errors > 1);
            QVERIFY2(l_wakeUps < WakeUpsAtRest, qPrintable(QString("%1 wake-ups").arg(l_wakeUps)));
            QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), l_accepted);
            QVERIFY(!PeerTestWorld::HasMessagingConnection("pat"));
        }

        // Said once, however often it failed (read with descriptors to
        // spare).
        QCOMPARE(l_world.LogTexts().filter("Could not accept a peer connection").size(), 1);
        // Descriptors again: within the pause everybody waiting is taken.
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); },
                                       PeerMessenger::AcceptPauseMs + 3000));
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return PeerTestWorld::ItemCount("uninitialized_socket") == l_strangers; }));
        for (const auto& lp_client : l_far.m_strangers)
            QVERIFY(!lp_client->ClosedByPeer());
    }
};

QTEST_GUILESS_MAIN(TestPeerDescriptors)
#include "tst_peer_descriptors.moc"
