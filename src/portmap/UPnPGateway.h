#pragma once

#include <QtGlobal>

#include <atomic>
#include <string>

// One conversation with the Internet gateway device of the local network:
// find it, then ask it to forward ports. Used on the port forwarder's worker
// thread only; an object serves one run and is thrown away after it.
class UPnPGateway
{
public:
    virtual ~UPnPGateway() = default;

    // Looks for the gateway. true: o_localAddress is this machine's IPv4
    // address on the route to it and o_gateway names it for the log. false:
    // o_problem says why none can be used.
    virtual bool Discover(std::string& o_localAddress, std::string& o_gateway, std::string& o_problem) = 0;

    // Asks the gateway found by Discover to forward TCP i_port (external and
    // internal alike) to i_localAddress. 0 when it did; otherwise the
    // gateway's error code (or -1 when it could not be asked) with its text
    // in o_problem.
    virtual int AddPortMapping(quint16 i_port, const std::string& i_localAddress, std::string& o_problem) = 0;

    // The run's stop flag, which must outlive this object. A gateway that
    // makes several slow requests in one call checks it between them and
    // gives up once it is set.
    void SetStopFlag(const std::atomic<bool>* ip_stop) { mp_stop = ip_stop; }

protected:
    bool StopRequested() const { return mp_stop && mp_stop->load(); }

private:
    const std::atomic<bool>* mp_stop = nullptr;
};
