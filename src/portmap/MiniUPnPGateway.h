#pragma once

#include "portmap/UPnPGateway.h"

#include <memory>

// The gateway reached through libminiupnpc: SSDP discovery on the local
// network, then SOAP requests to the device's control URL.
class MiniUPnPGateway : public UPnPGateway
{
public:
    // How long discovery waits for answers to each of its searches. A
    // gateway on the local network answers within milliseconds; a longer
    // wait only delays the finding that there is none.
    static constexpr int DiscoveryDelayMs = 1000;

    MiniUPnPGateway();
    ~MiniUPnPGateway() override;
    MiniUPnPGateway(const MiniUPnPGateway&) = delete;
    MiniUPnPGateway& operator=(const MiniUPnPGateway&) = delete;

    bool Discover(std::string& o_localAddress, std::string& o_gateway, std::string& o_problem) override;
    int AddPortMapping(quint16 i_port, const std::string& i_localAddress, std::string& o_problem) override;

private:
    // The library's URL and service records, kept out of this header.
    struct Device;
    std::unique_ptr<Device> mp_device;
};
