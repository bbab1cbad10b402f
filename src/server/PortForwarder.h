#pragma once

#include "server/PortForwarderInterface.h"

#include <QMutex>
#include <QObject>
#include <QThread>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>

class UPnPGateway;

// Maps the two listening ports on the local Internet gateway by UPnP, on a
// worker thread of its own, so that a slow or silent router never holds up
// the program. Created by the server link, which owns it.
class PortForwarder : public QObject, public PortForwarderInterface
{
    Q_OBJECT

public:
    // Makes the gateway of one run; called on the worker thread.
    using GatewayFactory = std::function<std::unique_ptr<UPnPGateway>()>;

    // The gateway that forwarders made from now on use. The program's
    // start-up installs the router (InstallRouterGateway); tests install a
    // fake. With none, Init only logs that nothing is mapped, so that no
    // test that happens to log in sends discovery out of the machine.
    static void SetGatewayFactory(GatewayFactory i_factory);

    PortForwarder();
    ~PortForwarder() override;
    PortForwarder(const PortForwarder&) = delete;
    PortForwarder& operator=(const PortForwarder&) = delete;

    // Reads the two listening ports (GUI thread: the settings are items) and
    // queues a run of discovery and mapping; returns at once. Without an
    // installed gateway it logs so and does nothing. Calls made
    // while a run is under way coalesce into one more run, with the ports of
    // the latest call.
    void Init() override;

private:
    // The worker's loop: runs while calls are pending.
    void Work();

    GatewayFactory m_factory;
    QThread m_thread;
    // Lives on m_thread; queued calls to it run there.
    QObject* mp_workerContext = nullptr;

    QMutex m_mutex;
    bool m_running = false;
    bool m_pending = false;
    quint16 m_port = 0;
    quint16 m_obfuscatedPort = 0;
    std::atomic<bool> m_stopping{false};
};

extern PortForwarder* portForwarder;

// Makes forwarders made from now on reach the local router through
// libminiupnpc. Called once by the program's start-up, before the server
// link is made.
void InstallRouterGateway();
