#pragma once

#include <QtGlobal>

#include <atomic>

class UPnPGateway;

// One run of the port forwarding: find the gateway, then map the plain and
// the obfuscated listening port to this machine, logging every outcome in
// the "server" log so that a user can see why forwarding does not work.
// Runs on the port forwarder's worker thread and touches no item.
class PortMapper
{
public:
    // i_stop, when it turns true, ends the run before its next request.
    static void Run(UPnPGateway& io_gateway, quint16 i_port, quint16 i_obfuscatedPort, const std::atomic<bool>& i_stop);
};
