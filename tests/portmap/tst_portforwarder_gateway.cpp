// Port forwarding against a real UPnP gateway: the forwarder, with the
// libminiupnpc gateway, runs inside the LAN namespace of the lab that
// run_in_gateway_lab.sh builds around miniupnpd. The gateway's table is read
// back through its own control URL, and connections from the WAN namespace
// to the gateway's WAN address must reach the listeners here.
#include "ServerTestSetup.h"

#include "core/log/LogService.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "portmap/MiniUPnPGateway.h"
#include "portmap/PortForwarder.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

namespace {

const quint16 g_port = 2235;
const quint16 g_obfuscatedPort = 8973;
// Listened on here but never mapped: the gateway must not forward it.
const quint16 g_unmappedPort = 4000;
// Below the gateway's "allow 1024-65535" rule.
const quint16 g_forbiddenPort = 1000;
const int g_runTimeoutMs = 10000;

// Where the wrapper put us, from its KSTR_LAB_* variables.
struct Lab
{
    QString m_wanNetns;
    QString m_lanAddress;
    QString m_gatewayWanAddress;
    QString m_rootDescription;
    // The network namespace the wrapper itself ran in.
    QString m_outerNetns;

    bool Load()
    {
        const QProcessEnvironment l_env = QProcessEnvironment::systemEnvironment();
        m_wanNetns = l_env.value("KSTR_LAB_WAN_NETNS");
        m_lanAddress = l_env.value("KSTR_LAB_LAN_ADDRESS");
        m_gatewayWanAddress = l_env.value("KSTR_LAB_GATEWAY_WAN_ADDRESS");
        m_rootDescription = l_env.value("KSTR_LAB_ROOT_DESCRIPTION");
        m_outerNetns = l_env.value("KSTR_LAB_OUTER_NETNS");
        return !m_wanNetns.isEmpty() && !m_lanAddress.isEmpty() && !m_gatewayWanAddress.isEmpty() &&
               !m_rootDescription.isEmpty() && !m_outerNetns.isEmpty();
    }
};

// Whether this process is in a network namespace other than the given one
// (as /proc names it, "net:[inode]").
bool InAnotherNetwork(const QString& i_outer)
{
    std::error_code l_error;
    const auto l_own = std::filesystem::read_symlink("/proc/self/ns/net", l_error);
    return !l_error && QString::fromStdString(l_own.string()) != i_outer;
}

// A listening port of the client: answers "ping N" with "pong N" and
// remembers where connections came from.
class PongListener
{
public:
    bool Listen(const QString& i_address, quint16 i_port)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* lp_socket = m_server.nextPendingConnection()) {
                m_peers << lp_socket->peerAddress().toString();
                QObject::connect(lp_socket, &QTcpSocket::readyRead, lp_socket, [this, lp_socket] {
                    if (!lp_socket->canReadLine())
                        return;
                    if (lp_socket->readLine().trimmed() == QString("ping %1").arg(m_server.serverPort()).toLatin1())
                        lp_socket->write(QString("pong %1\n").arg(m_server.serverPort()).toLatin1());
                });
            }
        });
        return m_server.listen(QHostAddress(i_address), i_port);
    }

    QStringList m_peers;

private:
    QTcpServer m_server;
};

// The library's gateway, which tells the test when a run is over: the
// forwarder throws the gateway away at the end of each run.
class WatchedGateway : public MiniUPnPGateway
{
public:
    explicit WatchedGateway(std::shared_ptr<QSemaphore> ip_gone) : mp_gone(std::move(ip_gone)) {}
    ~WatchedGateway() override { mp_gone->release(); }

private:
    std::shared_ptr<QSemaphore> mp_gone;
};

// What the gateway's table holds for one external TCP port.
struct Entry
{
    int m_result = -1;
    QString m_client;
    QString m_port;
    QString m_description;
    QString m_enabled;
};

Entry ReadEntry(const QString& i_rootDescription, quint16 i_port)
{
    Entry l_entry;
    UPNPUrls l_urls{};
    IGDdatas l_data{};
    char l_lanAddress[64] = {};
    if (UPNP_GetIGDFromUrl(i_rootDescription.toUtf8().constData(), &l_urls, &l_data, l_lanAddress, sizeof l_lanAddress) != 1) {
        FreeUPNPUrls(&l_urls);
        return l_entry;
    }
    char l_client[64] = {};
    char l_port[8] = {};
    char l_description[96] = {};
    char l_enabled[8] = {};
    char l_lease[24] = {};
    const std::string l_external = std::to_string(i_port);
    l_entry.m_result = UPNP_GetSpecificPortMappingEntry(l_urls.controlURL, l_data.first.servicetype, l_external.c_str(), "TCP",
                                                        nullptr, l_client, l_port, l_description, l_enabled, l_lease);
    FreeUPNPUrls(&l_urls);
    l_entry.m_client = l_client;
    l_entry.m_port = l_port;
    l_entry.m_description = l_description;
    l_entry.m_enabled = l_enabled;
    return l_entry;
}

}  // namespace

class TestPortForwarderGateway : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void RunFindsTheGatewayAndMapsBothPorts();
    void GatewayHoldsTheMappings_data();
    void GatewayHoldsTheMappings();
    void WanConnectionsReachOnlyMappedPorts_data();
    void WanConnectionsReachOnlyMappedPorts();
    void RenewalSucceedsBesideARefusedPort();

private:
    // Runs the forwarder once for the ports in the settings and returns
    // the run's "server" log.
    QStringList RunForwarder();
    // Connects from the WAN namespace to the gateway's WAN address; what
    // the far end answered to "ping <port>", empty when nothing did.
    QString CallFromWan(quint16 i_port);

    Lab m_lab;
    std::map<quint16, std::unique_ptr<PongListener>> m_listeners;
    std::shared_ptr<QSemaphore> mp_runsOver = std::make_shared<QSemaphore>();
    QStringList m_firstRunLog;
};

void TestPortForwarderGateway::initTestCase()
{
    if (!m_lab.Load())
        QSKIP("needs the gateway lab: run through tests/portmap/run_in_gateway_lab.sh (CTest does)");
    // Discovery is multicast: from the machine's own network it would leave.
    if (!InAnotherNetwork(m_lab.m_outerNetns))
        QFAIL("the lab's variables are set, but this process is still in the network namespace it was started from");

    d.Reset();
    Settings::DeclareTypes();
    for (quint16 l_port : {g_port, g_obfuscatedPort, g_unmappedPort}) {
        auto lp_listener = std::make_unique<PongListener>();
        QVERIFY2(lp_listener->Listen(m_lab.m_lanAddress, l_port), qPrintable(QString("cannot listen on port %1").arg(l_port)));
        m_listeners[l_port] = std::move(lp_listener);
    }
    const std::shared_ptr<QSemaphore> lp_runsOver = mp_runsOver;
    PortForwarder::SetGatewayFactory([lp_runsOver]() -> std::unique_ptr<UPnPGateway> {
        return std::make_unique<WatchedGateway>(lp_runsOver);
    });
    Settings::Set("listening_port", std::to_string(g_port));
    Settings::Set("obfuscated_listening_port", std::to_string(g_obfuscatedPort));
    m_firstRunLog = RunForwarder();
}

void TestPortForwarderGateway::cleanupTestCase()
{
    PortForwarder::SetGatewayFactory({});
    m_listeners.clear();
    d.Reset();
}

QStringList TestPortForwarderGateway::RunForwarder()
{
    const quint64 l_logStart = GetLogHistory().LastSequence();
    PortForwarder l_forwarder;
    l_forwarder.Init();
    if (!mp_runsOver->tryAcquire(1, g_runTimeoutMs))
        return {"the run did not end within the time allowed"};
    return LogLinesSince("server", l_logStart);
}

QString TestPortForwarderGateway::CallFromWan(quint16 i_port)
{
    // Bounded: a dropped connection attempt would otherwise wait minutes.
    const QString l_script = "exec 3<>\"/dev/tcp/$1/$2\" || exit 1; printf 'ping %s\\n' \"$2\" >&3; "
                             "IFS= read -r -t 3 l_answer <&3; printf '%s' \"$l_answer\"";
    QProcess l_process;
    l_process.start("ip", {"netns", "exec", m_lab.m_wanNetns, "timeout", "5", "bash", "-c", l_script, "bash",
                           m_lab.m_gatewayWanAddress, QString::number(i_port)});
    // The listeners answer from this thread's event loop meanwhile.
    if (!QTest::qWaitFor([&l_process] { return l_process.state() == QProcess::NotRunning; }, 8000)) {
        l_process.kill();
        l_process.waitForFinished();
    }
    return QString::fromLatin1(l_process.readAllStandardOutput());
}

void TestPortForwarderGateway::RunFindsTheGatewayAndMapsBothPorts()
{
    const QStringList& l_log = m_firstRunLog;
    // Found as connected: the gateway's external address is a public one.
    QCOMPARE(l_log.filter(QString("UPnP: Internet gateway device found at %1").arg(m_lab.m_rootDescription)).size(), 1);
    QCOMPARE(l_log.filter("reports no Internet connection").size(), 0);
    for (quint16 l_port : {g_port, g_obfuscatedPort})
        QCOMPARE(l_log.filter(QString("UPnP: TCP port %1 mapped to %2:%1").arg(l_port).arg(m_lab.m_lanAddress)).size(), 1);
    QCOMPARE(l_log.filter("refused").size(), 0);
}

void TestPortForwarderGateway::GatewayHoldsTheMappings_data()
{
    QTest::addColumn<quint16>("port");
    QTest::addColumn<bool>("mapped");
    QTest::newRow("listening port") << g_port << true;
    QTest::newRow("obfuscated listening port") << g_obfuscatedPort << true;
    QTest::newRow("other port") << g_unmappedPort << false;
}

void TestPortForwarderGateway::GatewayHoldsTheMappings()
{
    QFETCH(quint16, port);
    QFETCH(bool, mapped);
    const Entry l_entry = ReadEntry(m_lab.m_rootDescription, port);
    if (!mapped) {
        QCOMPARE(l_entry.m_result, 714);  // NoSuchEntryInArray
        return;
    }
    QCOMPARE(l_entry.m_result, UPNPCOMMAND_SUCCESS);
    QCOMPARE(l_entry.m_client, m_lab.m_lanAddress);
    QCOMPARE(l_entry.m_port, QString::number(port));
    QCOMPARE(l_entry.m_description, QString("kestrune-client"));
    QCOMPARE(l_entry.m_enabled, QString("1"));
}

void TestPortForwarderGateway::WanConnectionsReachOnlyMappedPorts_data()
{
    GatewayHoldsTheMappings_data();
}

void TestPortForwarderGateway::WanConnectionsReachOnlyMappedPorts()
{
    QFETCH(quint16, port);
    QFETCH(bool, mapped);
    PongListener& l_listener = *m_listeners.at(port);
    l_listener.m_peers.clear();
    const QString l_answer = CallFromWan(port);
    if (!mapped) {
        QCOMPARE(l_answer, QString());
        QVERIFY(l_listener.m_peers.isEmpty());
        return;
    }
    QCOMPARE(l_answer, QString("pong %1").arg(port));
    // Forwarded, not proxied: the caller's own address arrives.
    QCOMPARE(l_listener.m_peers, QStringList{"192.168.78.2"});
}

void TestPortForwarderGateway::RenewalSucceedsBesideARefusedPort()
{
    // The hourly renewal asks for a mapping this client already holds; the
    // gateway's rules forbid the other port.
    Settings::Set("listening_port", std::to_string(g_forbiddenPort));
    Settings::Set("obfuscated_listening_port", std::to_string(g_obfuscatedPort));
    const QStringList l_log = RunForwarder();
    QCOMPARE(l_log.filter(QString("UPnP: the gateway refused to map TCP port %1:").arg(g_forbiddenPort)).size(), 1);
    QCOMPARE(l_log.filter("(error 606)").size(), 1);  // Action not authorized
    QCOMPARE(l_log.filter(QString("UPnP: TCP port %1 mapped to %2:%1").arg(g_obfuscatedPort).arg(m_lab.m_lanAddress)).size(), 1);
    QCOMPARE(ReadEntry(m_lab.m_rootDescription, g_forbiddenPort).m_result, 714);
    const Entry l_renewed = ReadEntry(m_lab.m_rootDescription, g_obfuscatedPort);
    QCOMPARE(l_renewed.m_result, UPNPCOMMAND_SUCCESS);
    QCOMPARE(l_renewed.m_client, m_lab.m_lanAddress);
    QCOMPARE(CallFromWan(g_obfuscatedPort), QString("pong %1").arg(g_obfuscatedPort));
}

QTEST_GUILESS_MAIN(TestPortForwarderGateway)
#include "tst_portforwarder_gateway.moc"
