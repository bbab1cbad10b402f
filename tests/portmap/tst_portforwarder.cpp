// Port forwarding: the mapping run against a scripted gateway, the worker
// thread with its coalescing of calls, its prompt abandonment, and the
// server link's use of it.
#include "ServerTestSetup.h"

#include "core/log/LogService.h"
#include "portmap/PortMapper.h"

#include <QSemaphore>

#include <atomic>
#include <thread>

namespace {

using Mappings = std::vector<std::pair<quint16, std::string>>;

// A wait that only a hang outlasts.
constexpr int HangMs = 20000;

QStringList ServerLogSince(quint64 i_sequence)
{
    return LogLinesSince("server", i_sequence);
}

}  // namespace

class TestPortForwarder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void MapsBothPortsToTheLocalAddress();
    void NoGatewayIsLoggedAndNothingMapped();
    void RefusalIsLoggedWithTheGatewaysError();
    void EqualAndZeroPortsAreNotAskedTwice();
    void UnknownLocalAddressMapsNothing();

    void InitReturnsAtOnceAndWorksOnItsThread();
    void CallsDuringARunCoalesceIntoOne();
    void SamePortsDuringARunAddNoRun();
    void DestructionDoesNotWaitForARun();
    void ServerLinkMakesAndUsesTheForwarder();
    void WithoutAnInstalledGatewayNothingRuns();

private:
    // A fresh store with the two ports set and forwarders made from here on
    // talking to the script's gateway, which holds each discovery until
    // released.
    void HoldDiscoveryFor(const char* ip_port);

    std::shared_ptr<FakeGatewayScript> mp_script;
    quint64 m_logStart = 0;
    std::atomic<bool> m_stop{false};
};

void TestPortForwarder::init()
{
    mp_script = std::make_shared<FakeGatewayScript>();
    m_logStart = GetLogHistory().LastSequence();
    m_stop = false;
}

void TestPortForwarder::cleanup()
{
    PortForwarder::SetGatewayFactory(FakeGateway::Factory(std::make_shared<FakeGatewayScript>()));
}

void TestPortForwarder::HoldDiscoveryFor(const char* ip_port)
{
    d.Reset();
    Settings::DeclareTypes();
    Settings::Set("listening_port", ip_port);
    Settings::Set("obfuscated_listening_port", "8973");
    mp_script->m_holdDiscovery = true;
    PortForwarder::SetGatewayFactory(FakeGateway::Factory(mp_script));
}

void TestPortForwarder::MapsBothPortsToTheLocalAddress()
{
    FakeGateway l_gateway(mp_script);
    PortMapper::Run(l_gateway, 2235, 8973, m_stop);
    QCOMPARE(mp_script->Discoveries(), 1);
    QCOMPARE(mp_script->Mappings(), (Mappings{{2235, "192.0.2.10"}, {8973, "192.0.2.10"}}));
    const QStringList l_log = ServerLogSince(m_logStart);
    QCOMPARE(l_log.filter("UPnP: TCP port 2235 mapped to 192.0.2.10:2235").size(), 1);
    QCOMPARE(l_log.filter("UPnP: TCP port 8973 mapped to 192.0.2.10:8973").size(), 1);
}

void TestPortForwarder::NoGatewayIsLoggedAndNothingMapped()
{
    mp_script->m_found = false;
    mp_script->m_problem = "no UPnP device answered the discovery";
    FakeGateway l_gateway(mp_script);
    PortMapper::Run(l_gateway, 2235, 8973, m_stop);
    QVERIFY(mp_script->Mappings().empty());
    QCOMPARE(ServerLogSince(m_logStart).filter("UPnP: no Internet gateway device found: no UPnP device answered the discovery").size(), 1);
}

void TestPortForwarder::RefusalIsLoggedWithTheGatewaysError()
{
    // A refused port does not keep the other one from being mapped.
    mp_script->m_refusals[2235] = {718, "ConflictInMappingEntry"};
    FakeGateway l_gateway(mp_script);
    PortMapper::Run(l_gateway, 2235, 8973, m_stop);
    QCOMPARE(mp_script->Mappings().size(), std::size_t(2));
    const QStringList l_log = ServerLogSince(m_logStart);
    QCOMPARE(l_log.filter("UPnP: the gateway refused to map TCP port 2235: ConflictInMappingEntry (error 718)").size(), 1);
    QCOMPARE(l_log.filter("UPnP: TCP port 8973 mapped to").size(), 1);
    QCOMPARE(l_log.filter("2235 mapped").size(), 0);
}

void TestPortForwarder::EqualAndZeroPortsAreNotAskedTwice()
{
    {
        FakeGateway l_gateway(mp_script);
        PortMapper::Run(l_gateway, 5000, 5000, m_stop);
        QCOMPARE(mp_script->Mappings(), (Mappings{{5000, "192.0.2.10"}}));
    }
    {
        auto lp_script = std::make_shared<FakeGatewayScript>();
        FakeGateway l_gateway(lp_script);
        PortMapper::Run(l_gateway, 0, 8973, m_stop);
        QCOMPARE(lp_script->Mappings(), (Mappings{{8973, "192.0.2.10"}}));
    }
    {
        // Nothing to map: the gateway is not even looked for.
        auto lp_script = std::make_shared<FakeGatewayScript>();
        FakeGateway l_gateway(lp_script);
        PortMapper::Run(l_gateway, 0, 0, m_stop);
        QCOMPARE(lp_script->Discoveries(), 0);
    }
    QCOMPARE(ServerLogSince(m_logStart).filter("UPnP: a listening port of 0 cannot be mapped").size(), 3);
}

void TestPortForwarder::UnknownLocalAddressMapsNothing()
{
    mp_script->m_localAddress.clear();
    FakeGateway l_gateway(mp_script);
    PortMapper::Run(l_gateway, 2235, 8973, m_stop);
    QVERIFY(mp_script->Mappings().empty());
    QCOMPARE(ServerLogSince(m_logStart).filter("address towards the gateway").size(), 1);
}

void TestPortForwarder::InitReturnsAtOnceAndWorksOnItsThread()
{
    // The listener binds the low 16 bits of the setting; so does the mapping.
    HoldDiscoveryFor("70000");
    {
        PortForwarder l_forwarder;
        QCOMPARE(portForwarder, &l_forwarder);
        // The discovery is held until Init has returned, or until a wait
        // that only a hang outlasts: an Init that waited for the run
        // returns only after that.
        QSemaphore l_returned;
        std::atomic<bool> l_returnedFirst{false};
        std::thread l_gate([&] {
            l_returnedFirst = l_returned.tryAcquire(1, HangMs);
            mp_script->m_release.release();
        });
        l_forwarder.Init();
        l_returned.release();
        l_gate.join();
        QVERIFY(l_returnedFirst);
        QVERIFY(mp_script->m_discoveryStarted.tryAcquire(1, 5000));
        QVERIFY(mp_script->Thread() != QThread::currentThread());
        QTRY_COMPARE(mp_script->Mappings(), (Mappings{{4464, "192.0.2.10"}, {8973, "192.0.2.10"}}));
    }
    QCOMPARE(portForwarder, nullptr);
    d.Reset();
}

void TestPortForwarder::CallsDuringARunCoalesceIntoOne()
{
    HoldDiscoveryFor("2235");
    PortForwarder l_forwarder;
    l_forwarder.Init();
    QVERIFY(mp_script->m_discoveryStarted.tryAcquire(1, 5000));
    // Three calls while the first run waits; the last one's ports count.
    l_forwarder.Init();
    l_forwarder.Init();
    Settings::Set("listening_port", "3000");
    l_forwarder.Init();
    mp_script->m_release.release();
    QVERIFY(mp_script->m_discoveryStarted.tryAcquire(1, 5000));
    mp_script->m_release.release();
    QTRY_COMPARE(mp_script->Mappings().size(), std::size_t(4));
    QCOMPARE(mp_script->Mappings()[2], (std::pair<quint16, std::string>{3000, "192.0.2.10"}));
    // No third run follows.
    QTest::qWait(200);
    QCOMPARE(mp_script->Discoveries(), 2);

    // Once idle, a call starts a new run.
    l_forwarder.Init();
    QVERIFY(mp_script->m_discoveryStarted.tryAcquire(1, 5000));
    mp_script->m_release.release();
    QTRY_COMPARE(mp_script->Mappings().size(), std::size_t(6));
    d.Reset();
}

void TestPortForwarder::SamePortsDuringARunAddNoRun()
{
    HoldDiscoveryFor("2235");
    PortForwarder l_forwarder;
    l_forwarder.Init();
    l_forwarder.Init();
    QVERIFY(mp_script->m_discoveryStarted.tryAcquire(1, 5000));
    l_forwarder.Init();
    // A call for other ports queues a run; one for the running ports again
    // overtakes it, since the run under way already maps what is wanted.
    Settings::Set("listening_port", "3000");
    l_forwarder.Init();
    Settings::Set("listening_port", "2235");
    l_forwarder.Init();
    mp_script->m_release.release();
    QVERIFY(mp_script->m_gatewayGone.tryAcquire(1, 5000));
    QTest::qWait(200);
    QCOMPARE(mp_script->Discoveries(), 1);
    QCOMPARE(mp_script->Mappings(), (Mappings{{2235, "192.0.2.10"}, {8973, "192.0.2.10"}}));
    d.Reset();
}

void TestPortForwarder::DestructionDoesNotWaitForARun()
{
    HoldDiscoveryFor("2235");
    auto lp_forwarder = std::make_unique<PortForwarder>();
    lp_forwarder->Init();
    QVERIFY(mp_script->m_discoveryStarted.tryAcquire(1, 5000));
    // The gateway answers only once the program has closed, or after a wait
    // that only a hang outlasts; the program does not wait for it.
    QSemaphore l_destroyed;
    std::atomic<bool> l_destroyedFirst{false};
    std::thread l_late([&] {
        l_destroyedFirst = l_destroyed.tryAcquire(1, HangMs);
        mp_script->m_release.release();
    });
    const quint64 l_logAtStop = GetLogHistory().LastSequence();
    lp_forwarder.reset();
    l_destroyed.release();
    l_late.join();
    QVERIFY2(l_destroyedFirst, "the destruction waited for the gateway");
    // The abandoned run saw the stop, asked nothing more and logged nothing.
    QVERIFY(mp_script->m_gatewayGone.tryAcquire(1, 5000));
    QVERIFY(mp_script->m_stopSeenAfterHold);
    QVERIFY(mp_script->Mappings().empty());
    QVERIFY(ServerLogSince(l_logAtStop).isEmpty());
    d.Reset();
}

void TestPortForwarder::ServerLinkMakesAndUsesTheForwarder()
{
    ServerTestSetup l_setup;
    QVERIFY(portForwarder != nullptr);
    QCOMPARE(static_cast<PortForwarderInterface*>(portForwarder), l_setup.Link().GetPortForwarder());
    Settings::Set("listening_port", "2235");
    Settings::Set("obfuscated_listening_port", "8973");
    Settings::Set("use_upnp", "yes");
    // Connect starts a run; the login's call, while that run is still
    // under way for the same ports, adds none.
    l_setup.mp_gateway->m_holdDiscovery = true;
    QVERIFY(l_setup.LogIn());
    QVERIFY(l_setup.mp_gateway->m_discoveryStarted.tryAcquire(1, 5000));
    l_setup.mp_gateway->m_release.release();
    QVERIFY(l_setup.mp_gateway->m_gatewayGone.tryAcquire(1, 5000));
    QTest::qWait(200);
    QCOMPARE(l_setup.mp_gateway->Discoveries(), 1);
    QCOMPARE(l_setup.mp_gateway->Mappings(), (Mappings{{2235, "192.0.2.10"}, {8973, "192.0.2.10"}}));
    // The hourly renewal maps again.
    l_setup.mp_gateway->m_release.release();
    Fire(l_setup.mp_timers->m_everyHour);
    QTRY_COMPARE(l_setup.mp_gateway->Mappings().size(), std::size_t(4));
    QCOMPARE(l_setup.mp_gateway->Discoveries(), 2);
}

void TestPortForwarder::WithoutAnInstalledGatewayNothingRuns()
{
    d.Reset();
    Settings::DeclareTypes();
    Settings::Set("listening_port", "2235");
    PortForwarder::SetGatewayFactory({});
    {
        PortForwarder l_forwarder;
        l_forwarder.Init();
        QCOMPARE(ServerLogSince(m_logStart).filter("UPnP: no way to reach a router is installed; ports not mapped").size(), 1);
    }
    // A forwarder keeps the gateway it was made with.
    PortForwarder::SetGatewayFactory(FakeGateway::Factory(mp_script));
    PortForwarder l_forwarder;
    PortForwarder::SetGatewayFactory({});
    l_forwarder.Init();
    QTRY_COMPARE(mp_script->Discoveries(), 1);
    d.Reset();
}

QTEST_GUILESS_MAIN(TestPortForwarder)
#include "tst_portforwarder.moc"
