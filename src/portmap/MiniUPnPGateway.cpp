#include "portmap/MiniUPnPGateway.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <string>

namespace
{
// What the mapping is called in the gateway's table.
const char* const g_mappingDescription = "kestrune-client";
// Hops of the SSDP multicast: the local network only.
const unsigned char g_discoveryTtl = 2;
const char* const g_stopped = "stopped before the gateway answered";

std::string DiscoveryErrorText(int i_error)
{
    std::string l_text;
    switch (i_error) {
    case UPNPDISCOVER_SOCKET_ERROR:
        l_text = "no socket for the search";
        break;
    case UPNPDISCOVER_MEMORY_ERROR:
        l_text = "out of memory";
        break;
    default:
        l_text = "unknown error";
        break;
    }
    return l_text + " (error " + std::to_string(i_error) + ")";
}
}

struct MiniUPnPGateway::Device
{
    UPNPUrls m_urls{};
    IGDdatas m_data{};
    bool m_hasUrls = false;

    ~Device()
    {
        if (m_hasUrls)
            FreeUPNPUrls(&m_urls);
    }
};

MiniUPnPGateway::MiniUPnPGateway() = default;

MiniUPnPGateway::~MiniUPnPGateway() = default;

bool MiniUPnPGateway::Discover(std::string& o_localAddress, std::string& o_gateway, std::string& o_problem)
{
    mp_device.reset();
    if (StopRequested()) {
        o_problem = g_stopped;
        return false;
    }
    int l_error = UPNPDISCOVER_SUCCESS;
    UPNPDev* lp_devices = upnpDiscover(DiscoveryDelayMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, g_discoveryTtl, &l_error);
    if (!lp_devices) {
        // Silence and a failure to search at all (no socket, no route for
        // multicast) call for different remedies.
        o_problem = l_error == UPNPDISCOVER_SUCCESS ? std::string("no UPnP device answered the discovery")
                                                    : "the discovery failed: " + DiscoveryErrorText(l_error);
        return false;
    }
    if (StopRequested()) {
        freeUPNPDevlist(lp_devices);
        o_problem = g_stopped;
        return false;
    }
    auto lp_device = std::make_unique<Device>();
    char l_localAddress[64] = {};
    const int l_found = UPNP_GetValidIGD(lp_devices, &lp_device->m_urls, &lp_device->m_data, l_localAddress, sizeof l_localAddress);
    freeUPNPDevlist(lp_devices);
    // Any answer but 0 may have filled the URLs; they start zeroed, so
    // freeing them is safe whatever was filled.
    lp_device->m_hasUrls = l_found != 0;
    if (l_found < 0) {
        // The library itself failed (out of memory), so nothing is known
        // about the devices that answered: not the same as "no gateway".
        o_problem = "the UPnP library failed to examine the devices that answered (error " + std::to_string(l_found) + ")";
        return false;
    }
    if (l_found != 1 && l_found != 2) {
        o_problem = l_found == 0 ? "no UPnP device answered as an Internet gateway"
                                 : "a UPnP device answered, but it is not an Internet gateway";
        return false;
    }
    if (StopRequested()) {
        o_problem = g_stopped;
        return false;
    }
    if (!lp_device->m_urls.controlURL || !*lp_device->m_urls.controlURL) {
        o_problem = "the Internet gateway gave no control address";
        return false;
    }
    o_localAddress = l_localAddress;
    o_gateway = lp_device->m_urls.rootdescURL ? lp_device->m_urls.rootdescURL : lp_device->m_urls.controlURL;
    // A gateway that says it is not connected may still forward ports.
    if (l_found == 2)
        o_gateway += " (reports no Internet connection)";
    mp_device = std::move(lp_device);
    return true;
}

int MiniUPnPGateway::AddPortMapping(quint16 i_port, const std::string& i_localAddress, std::string& o_problem)
{
    if (!mp_device) {
        o_problem = "no gateway was found";
        return -1;
    }
    if (StopRequested()) {
        o_problem = g_stopped;
        return -1;
    }
    const std::string l_port = std::to_string(i_port);
    const int l_result = UPNP_AddPortMapping(mp_device->m_urls.controlURL, mp_device->m_data.first.servicetype,
                                             l_port.c_str(), l_port.c_str(), i_localAddress.c_str(), g_mappingDescription,
                                             "TCP", nullptr, "0");
    if (l_result == UPNPCOMMAND_SUCCESS)
        return 0;
    const char* lp_text = strupnperror(l_result);
    o_problem = lp_text ? lp_text : "unknown error";
    return l_result;
}
