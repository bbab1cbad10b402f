#pragma once

// What the two-clients test needs around its clients: the second host's
// client as a process (started there with `ip netns exec`, killed or ended
// like a user's program), and the files a user leaves in a shared folder.

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <memory>

// The real executable on the second host, with a home of its own.
class RemoteClient
{
public:
    RemoteClient(QString i_netns, QString i_home, QString i_serverAddress);
    ~RemoteClient();

    bool Start();
    // SIGKILL: no shut-down, no save.
    bool Kill();
    // SIGTERM: the program's own shut-down, which saves its data file.
    bool Terminate();
    bool IsRunning() const;
    QString Home() const { return m_home; }
    // The data file and the main log where the program keeps them.
    QString DataFile() const;
    QString Log() const;

private:
    QString m_netns;
    QString m_home;
    QString m_serverAddress;
    std::unique_ptr<QProcess> mp_process;
};

namespace TwoClientsFiles
{
// A file of that size whose every 8-byte word holds its offset mixed with
// the seed: a byte out of place anywhere shows.
bool WritePatterned(const QString& i_path, qint64 i_size, quint64 i_seed);
bool WriteBytes(const QString& i_path, const QByteArray& i_bytes);
// At a path given as raw bytes, which need not be valid UTF-8.
bool WriteBytesAt(const QByteArray& i_path, const QByteArray& i_bytes);
// A few seconds of a tone encoded by lame at a constant 128 kbps; false
// (with the reason) without lame.
bool WriteMp3(const QString& i_path, QString& o_error);
// Whether both files hold the same bytes (read a chunk at a time).
bool SameBytes(const QString& i_one, const QString& i_other);
// The one file of that name below the folder, or empty.
QString FindBelow(const QString& i_folder, const QString& i_fileName);
}  // namespace TwoClientsFiles
