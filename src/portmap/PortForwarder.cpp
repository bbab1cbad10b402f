#include "portmap/PortForwarder.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "portmap/MiniUPnPGateway.h"
#include "portmap/PortMapper.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <system_error>
#include <thread>

PortForwarder* portForwarder = nullptr;

namespace
{
const char* const g_area = "server";

QMutex g_factoryMutex;
PortForwarder::GatewayFactory g_factory;

std::unique_ptr<UPnPGateway> MakeMiniUPnPGateway()
{
    return std::make_unique<MiniUPnPGateway>();
}

// The listener binds the low 16 bits of the setting; the mapping follows it.
quint16 ListeningPort(const char* ip_setting)
{
    return static_cast<quint16>(Settings::GetUInt(ip_setting) & 0xffffu);
}
}

// Held by the forwarder and by its worker thread, so that whichever ends
// last frees it.
struct PortForwarder::Shared
{
    // Set at construction, read-only afterwards.
    GatewayFactory m_factory;

    // Guards the fields below it.
    QMutex m_mutex;
    // A worker thread exists (it clears this just before it ends).
    bool m_threadRunning = false;
    // A run is asked for, with these ports.
    bool m_pending = false;
    quint16 m_port = 0;
    quint16 m_obfuscatedPort = 0;
    // The worker is in a run, with these ports.
    bool m_inRun = false;
    quint16 m_runPort = 0;
    quint16 m_runObfuscatedPort = 0;

    // Set once, by the forwarder's destructor, under m_logMutex: after it
    // the worker neither asks the gateway anything nor logs.
    std::atomic<bool> m_stopping{false};
    QMutex m_logMutex;

    void Report(int i_level, const QString& i_text)
    {
        QMutexLocker l_lock(&m_logMutex);
        if (!m_stopping)
            Log(g_area, i_level, i_text);
    }
};

void PortForwarder::SetGatewayFactory(GatewayFactory i_factory)
{
    QMutexLocker l_lock(&g_factoryMutex);
    g_factory = std::move(i_factory);
}

void InstallRouterGateway()
{
    PortForwarder::SetGatewayFactory(&MakeMiniUPnPGateway);
}

PortForwarder::PortForwarder() : mp_shared(std::make_shared<Shared>())
{
    {
        QMutexLocker l_lock(&g_factoryMutex);
        mp_shared->m_factory = g_factory;
    }
    portForwarder = this;
}

PortForwarder::~PortForwarder()
{
    if (portForwarder == this)
        portForwarder = nullptr;
    // Once the flag is up no log line of the worker can still be on its
    // way: the program may tear the log down right after. The worker keeps
    // the shared state alive until it has left the library call it is in.
    QMutexLocker l_lock(&mp_shared->m_logMutex);
    mp_shared->m_stopping = true;
}

void PortForwarder::Init()
{
    Shared& l_shared = *mp_shared;
    if (!l_shared.m_factory) {
        Log(g_area, 1, "UPnP: no way to reach a router is installed; ports not mapped");
        return;
    }
    const quint16 l_port = ListeningPort("listening_port");
    const quint16 l_obfuscatedPort = ListeningPort("obfuscated_listening_port");
    {
        QMutexLocker l_lock(&l_shared.m_mutex);
        if (l_shared.m_inRun && l_shared.m_runPort == l_port && l_shared.m_runObfuscatedPort == l_obfuscatedPort) {
            // The run under way maps exactly these ports; a run queued for
            // other ports by an earlier call is overtaken by this one.
            l_shared.m_pending = false;
            return;
        }
        l_shared.m_pending = true;
        l_shared.m_port = l_port;
        l_shared.m_obfuscatedPort = l_obfuscatedPort;
        if (l_shared.m_threadRunning)
            return;
        l_shared.m_threadRunning = true;
    }
    try {
        std::thread(&PortForwarder::Work, mp_shared).detach();
    } catch (const std::system_error& l_error) {
        {
            QMutexLocker l_lock(&l_shared.m_mutex);
            l_shared.m_threadRunning = false;
            l_shared.m_pending = false;
        }
        Log(g_area, 1, QString("UPnP: no thread for the port mapping (%1); ports not mapped").arg(QString::fromLocal8Bit(l_error.what())));
    }
}

void PortForwarder::Work(const std::shared_ptr<Shared>& ip_shared)
{
    Shared& l_shared = *ip_shared;
    const PortMapper::Reporter l_report = [&l_shared](int i_level, const QString& i_text) { l_shared.Report(i_level, i_text); };
    for (;;) {
        quint16 l_port = 0;
        quint16 l_obfuscatedPort = 0;
        {
            QMutexLocker l_lock(&l_shared.m_mutex);
            l_shared.m_inRun = false;
            if (!l_shared.m_pending || l_shared.m_stopping) {
                l_shared.m_threadRunning = false;
                return;
            }
            l_shared.m_pending = false;
            l_shared.m_inRun = true;
            l_port = l_shared.m_runPort = l_shared.m_port;
            l_obfuscatedPort = l_shared.m_runObfuscatedPort = l_shared.m_obfuscatedPort;
        }
        std::unique_ptr<UPnPGateway> lp_gateway = l_shared.m_factory();
        if (!lp_gateway)
            continue;
        lp_gateway->SetStopFlag(&l_shared.m_stopping);
        PortMapper::Run(*lp_gateway, l_port, l_obfuscatedPort, l_shared.m_stopping, l_report);
    }
}
