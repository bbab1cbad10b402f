#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

class UPnPGateway;

// One run of the port forwarding: find the gateway, then map the plain and
// the obfuscated listening port to this machine, logging every outcome in
// the "server" log so that a user can see why forwarding does not work.
// Runs on the port forwarder's worker thread and touches no item.
class PortMapper
{
public:
    // Where the run's lines go; empty: straight to the "server" log.
    using Reporter = std::function<void(int i_level, const QString& i_text)>;

    // i_stop, when it turns true, ends the run before its next request and
    // keeps the gateway's answer to a request already made out of the log.
    static void Run(UPnPGateway& io_gateway, quint16 i_port, quint16 i_obfuscatedPort, const std::atomic<bool>& i_stop,
                    const Reporter& i_report = Reporter());
};
