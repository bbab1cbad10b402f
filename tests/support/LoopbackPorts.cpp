#include "LoopbackPorts.h"

#include <QHostAddress>
#include <QTcpServer>

quint16 ClosedLoopbackPort()
{
    QTcpServer l_server;
    l_server.listen(QHostAddress::LocalHost, 0);
    return l_server.serverPort();
}
