#include "portmap/PortMapper.h"

#include "core/log/Log.h"
#include "portmap/UPnPGateway.h"

#include <string>
#include <vector>

namespace
{
const char* const g_area = "server";

QString Text(const std::string& i_text)
{
    return QString::fromStdString(i_text);
}
}

void PortMapper::Run(UPnPGateway& io_gateway, quint16 i_port, quint16 i_obfuscatedPort, const std::atomic<bool>& i_stop,
                     const Reporter& i_report)
{
    const auto l_log = [&i_report](int i_level, const QString& i_text) {
        if (i_report)
            i_report(i_level, i_text);
        else
            Log(g_area, i_level, i_text);
    };
    std::vector<quint16> l_ports;
    for (quint16 l_port : {i_port, i_obfuscatedPort}) {
        if (l_port == 0) {
            // The listener then took a port of the system's choosing, which
            // no setting names.
            l_log(1, "UPnP: a listening port of 0 cannot be mapped");
            continue;
        }
        if (l_ports.empty() || l_ports.front() != l_port)
            l_ports.push_back(l_port);
    }
    if (l_ports.empty() || i_stop)
        return;

    std::string l_localAddress;
    std::string l_gateway;
    std::string l_problem;
    const bool l_found = io_gateway.Discover(l_localAddress, l_gateway, l_problem);
    // A discovery cut short by the stop found nothing worth a line.
    if (i_stop)
        return;
    if (!l_found) {
        l_log(1, QString("UPnP: no Internet gateway device found: %1").arg(Text(l_problem)));
        return;
    }
    if (l_localAddress.empty()) {
        l_log(1, QString("UPnP: this machine's address towards the gateway %1 is unknown; no port mapped").arg(Text(l_gateway)));
        return;
    }
    l_log(2, QString("UPnP: Internet gateway device found at %1").arg(Text(l_gateway)));

    for (quint16 l_port : l_ports) {
        if (i_stop)
            return;
        l_problem.clear();
        const int l_result = io_gateway.AddPortMapping(l_port, l_localAddress, l_problem);
        if (l_result == 0) {
            l_log(1, QString("UPnP: TCP port %1 mapped to %2:%1").arg(l_port).arg(Text(l_localAddress)));
        } else {
            l_log(1, QString("UPnP: the gateway refused to map TCP port %1: %2 (error %3)")
                         .arg(l_port)
                         .arg(Text(l_problem))
                         .arg(l_result));
        }
    }
}
