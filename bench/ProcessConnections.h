#pragma once

#include <QObject>
#include <QTimer>
#include <QtGlobal>

// The TCP connections that another process of this machine holds, counted
// from /proc every SampleMs: its descriptors that are sockets, matched
// against the system's table of IPv4 TCP sockets. Listeners do not count,
// nor the connections to one remote port (the server link). A connection
// counts from the moment the process has a descriptor for it (accepted, or
// its own attempt begun) until it closes that descriptor, whatever the
// state of the connection: what the process holds against its descriptor
// limit. Those of one remote address may be counted alone.
class ProcessConnections : public QObject
{
    Q_OBJECT

public:
    static constexpr int SampleMs = 100;

    // i_skippedRemotePort: 0 for none. i_onlyRemoteAddress (host order):
    // when not 0, only the connections to that address count.
    ProcessConnections(qint64 i_pid, quint16 i_skippedRemotePort, quint32 i_onlyRemoteAddress = 0);

    void Start() { m_sampler.start(); }
    // The most counted at one sample; -1 when none could be read.
    int Max() const { return m_max; }
    // How many were counted now; -1 when the process's tables could not be
    // read.
    int Count() const;

private:
    qint64 m_pid;
    quint16 m_skippedRemotePort;
    quint32 m_onlyRemoteAddress;
    QTimer m_sampler;
    int m_max = -1;
};
