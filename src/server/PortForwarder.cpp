#include "server/PortForwarder.h"

#include "log/Log.h"
#include "persist/Settings.h"
#include "server/MiniUPnPGateway.h"
#include "server/PortMapper.h"

#include <QMutexLocker>

PortForwarder* portForwarder = nullptr;

namespace
{
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

void PortForwarder::SetGatewayFactory(GatewayFactory i_factory)
{
    QMutexLocker l_lock(&g_factoryMutex);
    g_factory = std::move(i_factory);
}

void InstallRouterGateway()
{
    PortForwarder::SetGatewayFactory(&MakeMiniUPnPGateway);
}

PortForwarder::PortForwarder()
{
    {
        QMutexLocker l_lock(&g_factoryMutex);
        m_factory = g_factory;
    }
    mp_workerContext = new QObject;
    mp_workerContext->moveToThread(&m_thread);
    m_thread.setObjectName("UPnP");
    m_thread.start();
    portForwarder = this;
}

PortForwarder::~PortForwarder()
{
    if (portForwarder == this)
        portForwarder = nullptr;
    // A run in progress ends after the request it is waiting for; nothing
    // new starts.
    m_stopping = true;
    m_thread.quit();
    m_thread.wait();
    delete mp_workerContext;
}

void PortForwarder::Init()
{
    if (!m_factory) {
        Log("server", 1, "UPnP: no way to reach a router is installed; ports not mapped");
        return;
    }
    const quint16 l_port = ListeningPort("listening_port");
    const quint16 l_obfuscatedPort = ListeningPort("obfuscated_listening_port");
    bool l_idle = false;
    {
        QMutexLocker l_lock(&m_mutex);
        l_idle = !m_running && !m_pending;
        m_pending = true;
        m_port = l_port;
        m_obfuscatedPort = l_obfuscatedPort;
    }
    if (l_idle)
        QMetaObject::invokeMethod(mp_workerContext, [this] { Work(); }, Qt::QueuedConnection);
}

void PortForwarder::Work()
{
    for (;;) {
        quint16 l_port = 0;
        quint16 l_obfuscatedPort = 0;
        {
            QMutexLocker l_lock(&m_mutex);
            if (!m_pending || m_stopping) {
                m_running = false;
                return;
            }
            m_pending = false;
            m_running = true;
            l_port = m_port;
            l_obfuscatedPort = m_obfuscatedPort;
        }
        std::unique_ptr<UPnPGateway> lp_gateway = m_factory();
        if (lp_gateway)
            PortMapper::Run(*lp_gateway, l_port, l_obfuscatedPort, m_stopping);
    }
}
