#pragma once

#include "portmap/PortForwarderInterface.h"

#include <QObject>

#include <functional>
#include <memory>

class UPnPGateway;

// Maps the two listening ports on the local Internet gateway by UPnP, on a
// worker thread of its own, so that a slow or silent router never holds up
// the program. Created by the server link, which owns it.
//
// The worker shares nothing with this object but a block of state that both
// hold, so the destructor never waits for a router: it tells the worker to
// stop, and the worker ends after the library call it is in, without a
// further request or log line.
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
    // installed gateway it logs so and does nothing. A call while a run for
    // the same two ports is under way or queued adds nothing; calls for
    // other ports coalesce into one more run, with the ports of the latest
    // call.
    void Init() override;

private:
    struct Shared;

    // The worker thread's loop: runs while calls are pending.
    static void Work(const std::shared_ptr<Shared>& ip_shared);

    std::shared_ptr<Shared> mp_shared;
};

extern PortForwarder* portForwarder;

// Makes forwarders made from now on reach the local router through
// libminiupnpc. Called once by the program's start-up, before the server
// link is made.
void InstallRouterGateway();
