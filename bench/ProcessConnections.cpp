#include "ProcessConnections.h"

#include <QFile>
#include <QtEndian>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

namespace
{
// The state column's value for a listener.
constexpr char ListenState[] = "0A";
// The socket table's columns: the remote "address:port" in hex, the state,
// and the inode after six more.
constexpr int RemoteColumn = 2;
constexpr int StateColumn = 3;
constexpr int InodeColumn = 9;

quint16 PortOf(const QByteArray& i_endpoint)
{
    return quint16(i_endpoint.mid(i_endpoint.indexOf(':') + 1).toUInt(nullptr, 16));
}

// The table writes the address as the number its bytes, in network order,
// make in this machine's order.
quint32 AddressOf(const QByteArray& i_endpoint)
{
    const quint32 l_written = i_endpoint.left(i_endpoint.indexOf(':')).toUInt(nullptr, 16);
    uchar l_bytes[4];
    qToUnaligned(l_written, l_bytes);
    return qFromBigEndian<quint32>(l_bytes);
}
}  // namespace

ProcessConnections::ProcessConnections(qint64 i_pid, quint16 i_skippedRemotePort, quint32 i_onlyRemoteAddress)
    : m_pid(i_pid), m_skippedRemotePort(i_skippedRemotePort), m_onlyRemoteAddress(i_onlyRemoteAddress)
{
    m_sampler.setInterval(SampleMs);
    connect(&m_sampler, &QTimer::timeout, this, [this] { m_max = std::max(m_max, Count()); });
}

int ProcessConnections::Count() const
{
    const std::string l_process = "/proc/" + std::to_string(m_pid);
    std::unordered_set<quint64> l_sockets;
    const std::string l_folder = l_process + "/fd";
    DIR* lp_descriptors = ::opendir(l_folder.c_str());
    if (!lp_descriptors)
        return -1;
    while (const dirent* lp_entry = ::readdir(lp_descriptors)) {
        char l_target[64] = {};
        const std::string l_path = l_folder + "/" + lp_entry->d_name;
        const ssize_t l_length = ::readlink(l_path.c_str(), l_target, sizeof l_target - 1);
        // "socket:[inode]"
        constexpr char Prefix[] = "socket:[";
        if (l_length > 0 && std::strncmp(l_target, Prefix, sizeof Prefix - 1) == 0)
            l_sockets.insert(std::stoull(l_target + sizeof Prefix - 1));
    }
    ::closedir(lp_descriptors);
    QFile l_table(QString::fromStdString(l_process + "/net/tcp"));
    if (!l_table.open(QIODevice::ReadOnly))
        return -1;
    int l_count = 0;
    l_table.readLine();
    for (const QByteArray& l_line : l_table.readAll().split('\n')) {
        const QList<QByteArray> l_columns = l_line.simplified().split(' ');
        if (l_columns.size() <= InodeColumn || l_columns[StateColumn] == ListenState)
            continue;
        if (m_skippedRemotePort != 0 && PortOf(l_columns[RemoteColumn]) == m_skippedRemotePort)
            continue;
        if (m_onlyRemoteAddress != 0 && AddressOf(l_columns[RemoteColumn]) != m_onlyRemoteAddress)
            continue;
        // The table is written a page at a time: a line that moved while it
        // was read comes twice, and counts once.
        if (l_sockets.erase(l_columns[InodeColumn].toULongLong()) == 0)
            continue;
        ++l_count;
    }
    return l_count;
}
