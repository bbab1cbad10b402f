#include "TwoClientsHosts.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtEndian>

#include <cmath>
#include <cstdio>
#include <csignal>
#include <vector>

#ifndef KSTR_CLIENT_EXECUTABLE
#error "KSTR_CLIENT_EXECUTABLE must name the built client"
#endif

namespace {

constexpr int ProcessTimeoutMs = 30000;  // generous: the client runs sanitized

}  // namespace

RemoteClient::RemoteClient(QString i_netns, QString i_home, QString i_serverAddress)
    : m_netns(std::move(i_netns)), m_home(std::move(i_home)), m_serverAddress(std::move(i_serverAddress))
{
}

RemoteClient::~RemoteClient()
{
    Kill();
}

QString RemoteClient::DataFile() const
{
    return m_home + "/data/kestrune-client/kestrune-client.dat";
}

QString RemoteClient::Log() const
{
    return m_home + "/data/kestrune-client/kstr-client-logs/main.log";
}

bool RemoteClient::Start()
{
    if (IsRunning())
        return false;
    QDir().mkpath(m_home + "/data/kestrune-client/kstr-client-logs");
    mp_process = std::make_unique<QProcess>();
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert("HOME", m_home);
    l_environment.insert("XDG_RUNTIME_DIR", m_home);
    l_environment.insert("XDG_DATA_HOME", m_home + "/data");
    l_environment.insert("XDG_CONFIG_HOME", m_home + "/config");
    l_environment.insert("XDG_CACHE_HOME", m_home + "/cache");
    l_environment.insert("QT_QPA_PLATFORM", "offscreen");
    l_environment.insert("KSTR_SERVER_ADDRESS", m_serverAddress);
    mp_process->setProcessEnvironment(l_environment);
    mp_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mp_process->setStandardOutputFile(QProcess::nullDevice());
    // `ip netns exec` enters the namespace and replaces itself with the
    // program, so the process id is the client's own.
    mp_process->start("ip", {"netns", "exec", m_netns, KSTR_CLIENT_EXECUTABLE});
    return mp_process->waitForStarted(ProcessTimeoutMs);
}

bool RemoteClient::IsRunning() const
{
    return mp_process && mp_process->state() != QProcess::NotRunning;
}

bool RemoteClient::Kill()
{
    if (!IsRunning())
        return true;
    ::kill(static_cast<pid_t>(mp_process->processId()), SIGKILL);
    return mp_process->waitForFinished(ProcessTimeoutMs);
}

bool RemoteClient::Terminate()
{
    if (!IsRunning())
        return false;
    ::kill(static_cast<pid_t>(mp_process->processId()), SIGTERM);
    return mp_process->waitForFinished(ProcessTimeoutMs) && mp_process->exitStatus() == QProcess::NormalExit &&
           mp_process->exitCode() == 0;
}

namespace TwoClientsFiles
{

bool WritePatterned(const QString& i_path, qint64 i_size, quint64 i_seed)
{
    QDir().mkpath(QFileInfo(i_path).path());
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    constexpr qint64 Chunk = 1 << 20;
    std::vector<quint64> l_words(Chunk / 8);
    for (qint64 l_offset = 0; l_offset < i_size; l_offset += Chunk) {
        for (std::size_t l_n = 0; l_n < l_words.size(); ++l_n)
            l_words[l_n] = qToLittleEndian<quint64>((quint64(l_offset) + 8 * l_n) * 0x9E3779B97F4A7C15ull ^ i_seed);
        const qint64 l_length = std::min(Chunk, i_size - l_offset);
        if (l_file.write(reinterpret_cast<const char*>(l_words.data()), l_length) != l_length)
            return false;
    }
    return l_file.flush();
}

bool WriteBytes(const QString& i_path, const QByteArray& i_bytes)
{
    QDir().mkpath(QFileInfo(i_path).path());
    QFile l_file(i_path);
    return l_file.open(QIODevice::WriteOnly | QIODevice::Truncate) && l_file.write(i_bytes) == i_bytes.size();
}

bool WriteBytesAt(const QByteArray& i_path, const QByteArray& i_bytes)
{
    std::FILE* lp_file = std::fopen(i_path.constData(), "wb");
    if (!lp_file)
        return false;
    const bool l_written = std::fwrite(i_bytes.constData(), 1, std::size_t(i_bytes.size()), lp_file) == std::size_t(i_bytes.size());
    return std::fclose(lp_file) == 0 && l_written;
}

bool WriteMp3(const QString& i_path, QString& o_error)
{
    const QString l_lame = QStandardPaths::findExecutable("lame");
    if (l_lame.isEmpty()) {
        o_error = "the MP3 encoder 'lame' is not installed (scripts/setup.sh installs it)";
        return false;
    }
    constexpr int Rate = 44100;
    QByteArray l_pcm;
    for (int l_n = 0; l_n < 4 * Rate; ++l_n) {
        const auto l_sample = qint16(12000 * std::sin(2 * M_PI * 440.0 * l_n / Rate));
        l_pcm.append(char(l_sample & 0xFF)).append(char(l_sample >> 8));
    }
    const QString l_raw = i_path + ".raw";
    if (!WriteBytes(l_raw, l_pcm)) {
        o_error = "cannot write the samples";
        return false;
    }
    QProcess l_encoder;
    l_encoder.start(l_lame, {"--quiet", "-r", "-s", "44.1", "--bitwidth", "16", "--signed", "--little-endian", "-m", "m",
                             "-b", "128", "--cbr", l_raw, i_path});
    const bool l_done = l_encoder.waitForFinished(60000) && l_encoder.exitCode() == 0;
    QFile::remove(l_raw);
    if (!l_done)
        o_error = "lame failed: " + QString::fromLocal8Bit(l_encoder.readAllStandardError());
    return l_done;
}

bool SameBytes(const QString& i_one, const QString& i_other)
{
    QFile l_one(i_one);
    QFile l_other(i_other);
    if (!l_one.open(QIODevice::ReadOnly) || !l_other.open(QIODevice::ReadOnly) || l_one.size() != l_other.size())
        return false;
    while (!l_one.atEnd()) {
        if (l_one.read(1 << 20) != l_other.read(1 << 20))
            return false;
    }
    return true;
}

QString FindBelow(const QString& i_folder, const QString& i_fileName)
{
    QStringList l_found;
    QDirIterator l_walk(i_folder, {i_fileName}, QDir::Files, QDirIterator::Subdirectories);
    while (l_walk.hasNext())
        l_found << l_walk.next();
    return l_found.size() == 1 ? l_found.first() : QString();
}

}  // namespace TwoClientsFiles
