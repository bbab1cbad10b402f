#include "TransferBenchRoles.h"

#include "TransferBenchWorld.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
void Print(const QString& i_name, double i_value)
{
    std::printf("%s %.3f\n", qPrintable(i_name), i_value);
    std::fflush(stdout);
}

void ReportEveryChunk(const QString& i_mode)
{
    if (i_mode == "chunk")
        TransferThread::SetReportIntervalMs(0);
}

bool SameContents(const QString& i_first, const QString& i_second)
{
    QFile l_first(i_first);
    QFile l_second(i_second);
    if (!l_first.open(QIODevice::ReadOnly) || !l_second.open(QIODevice::ReadOnly) || l_first.size() != l_second.size())
        return false;
    while (!l_first.atEnd()) {
        const QByteArray l_block = l_first.read(8 << 20);
        if (l_block != l_second.read(l_block.size()))
            return false;
    }
    return true;
}

// Runs the event loop until the condition holds or the time is up. The
// loop sleeps until an event comes; a tick every 20 ms looks again.
bool RunUntil(const std::function<bool()>& i_done, int i_timeoutMs)
{
    QTimer l_tick;
    l_tick.start(20);
    QElapsedTimer l_timer;
    l_timer.start();
    while (!i_done()) {
        if (l_timer.elapsed() > i_timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}
}  // namespace

QString BenchFigure(const QString& i_output, const QString& i_name)
{
    for (const QString& l_line : i_output.split('\n')) {
        if (l_line.startsWith(i_name + ' '))
            return l_line.mid(i_name.size() + 1).trimmed();
    }
    return QString();
}

namespace TransferBenchRoles
{
int Download(const QStringList& i_arguments)
{
    const QString l_file = i_arguments.value(0);
    const QString l_mode = i_arguments.value(1);
    ReportEveryChunk(l_mode);
    QTemporaryDir l_downloads(QFileInfo(l_file).path() + "/downloads-XXXXXX");
    TransferBenchWorld l_world("dl", l_downloads.path());

    QProcess l_uploader;
    l_uploader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    l_uploader.start(QCoreApplication::applicationFilePath(),
                     {"--upload", QString::number(l_world.PeerPort()), l_file, l_mode});
    QString l_uploaderOutput;
    auto l_read = [&] { l_uploaderOutput += QString::fromUtf8(l_uploader.readAllStandardOutput()); };
    QObject::connect(&l_uploader, &QProcess::readyReadStandardOutput, l_read);
    if (!RunUntil([&] { return !BenchFigure(l_uploaderOutput, "port").isEmpty(); }, 10000))
        return 1;
    TransferBenchWorld::MeetUser("ul", quint16(BenchFigure(l_uploaderOutput, "port").toDouble()));

    bool l_done = false;
    QObject::connect(&l_world.Manager(), &TransferQueueManager::CompleteDownloadAdded, [&] { l_done = true; });
    const QFileInfo l_source(l_file);
    QElapsedTimer l_wall;
    l_wall.start();
    const double l_cpuBefore = ThreadCpuMs();
    l_world.Manager().AddDownload("ul", l_source.fileName().toStdString(), l_source.path().toStdString(),
                                  l_source.size(), 0);
    if (!RunUntil([&] { return l_done; }, 600000))
        return 1;
    const double l_cpu = ThreadCpuMs() - l_cpuBefore;
    const double l_seconds = double(l_wall.nsecsElapsed()) / 1e9;
    if (!l_uploader.waitForFinished(60000))
        return 1;
    l_read();

    const QString l_received = l_downloads.path() + "/complete/" + l_source.dir().dirName() + "/" + l_source.fileName();
    Print("seconds", l_seconds);
    Print("mib_per_s", double(l_source.size()) / (1 << 20) / l_seconds);
    Print("downloader_gui_cpu_pct", 100.0 * l_cpu / (l_seconds * 1000.0));
    Print("uploader_gui_cpu_pct", BenchFigure(l_uploaderOutput, "gui_cpu_pct").toDouble());
    Print("identical", SameContents(l_file, l_received) ? 1 : 0);
    return 0;
}

int Upload(const QStringList& i_arguments)
{
    ReportEveryChunk(i_arguments.value(2));
    QTemporaryDir l_downloads;
    TransferBenchWorld l_world("ul", l_downloads.path());
    TransferBenchWorld::MeetUser("dl", quint16(i_arguments.value(0).toUInt()));
    TransferBenchWorld::ShareFile(i_arguments.value(1));
    Print("port", l_world.PeerPort());

    QElapsedTimer l_wall;
    l_wall.start();
    const double l_cpuBefore = ThreadCpuMs();
    // A light poll: the upload ends when the downloader closes.
    auto l_finished = [] {
        const ItemSet l_uploads = d.GetType("upload_entry")->GetItems();
        return !l_uploads.empty() && ItemPtr(l_uploads)["upload_entry_status"].AsString() == "complete";
    };
    if (!RunUntil(l_finished, 600000))
        return 1;
    Print("gui_cpu_pct", 100.0 * (ThreadCpuMs() - l_cpuBefore) / double(qMax<qint64>(l_wall.elapsed(), 1)));
    return 0;
}

namespace
{
// The far end of one upload: takes the token, asks for offset 0 and notes
// when what bytes arrived.
struct Receiver
{
    QTcpSocket* mp_socket = nullptr;
    QByteArray m_token;
};

struct Arrival
{
    qint64 m_ns;
    qint64 m_bytes;
    const Receiver* mp_receiver;
};

// One upload's rate in bytes per second between its first and its last
// arrival of the window; the first arrival's bytes were sent before the
// window began. Measured per upload, since uploads that started together
// send their chunks in step.
double RateWithin(const std::vector<Arrival>& i_arrivals, const Receiver* ip_receiver, qint64 i_startNs, qint64 i_endNs)
{
    qint64 l_firstNs = -1;
    qint64 l_lastNs = 0;
    qint64 l_bytes = 0;
    for (const Arrival& l_arrival : i_arrivals) {
        if (l_arrival.mp_receiver != ip_receiver || l_arrival.m_ns < i_startNs || l_arrival.m_ns > i_endNs)
            continue;
        if (l_firstNs < 0) {
            l_firstNs = l_arrival.m_ns;
            continue;
        }
        l_lastNs = l_arrival.m_ns;
        l_bytes += l_arrival.m_bytes;
    }
    return l_lastNs > l_firstNs ? double(l_bytes) * 1e9 / double(l_lastNs - l_firstNs) : 0.0;
}
}  // namespace

int Limit(const QStringList& i_arguments)
{
    const int l_limit = i_arguments.value(0).toInt();
    const int l_uploads = i_arguments.value(1).toInt();
    const int l_seconds = i_arguments.value(2).toInt();
    QTemporaryDir l_downloads;
    TransferBenchWorld l_world("ul", l_downloads.path());
    TransferQueueManager& l_manager = l_world.Manager();
    const std::string l_path = TransferBenchWorld::ShareFile(i_arguments.value(3));
    l_manager.SetUploadSlots(l_uploads);
    l_manager.SetUploadSpeedLimit(l_limit);
    l_manager.EnableUploadSpeedLimit(true);

    QElapsedTimer l_clock;
    l_clock.start();
    std::vector<Arrival> l_arrivals;
    std::vector<std::unique_ptr<Receiver>> l_receivers;
    QTcpServer l_listener;
    l_listener.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&l_listener, &QTcpServer::newConnection, [&] {
        auto lp_receiver = std::make_unique<Receiver>();
        Receiver* lp_far = lp_receiver.get();
        lp_far->mp_socket = l_listener.nextPendingConnection();
        QObject::connect(lp_far->mp_socket, &QIODevice::readyRead, [&, lp_far] {
            QByteArray l_bytes = lp_far->mp_socket->readAll();
            if (lp_far->m_token.size() < 4) {
                const qsizetype l_take = qMin<qsizetype>(4 - lp_far->m_token.size(), l_bytes.size());
                lp_far->m_token += l_bytes.left(l_take);
                l_bytes.remove(0, l_take);
                if (lp_far->m_token.size() == 4)
                    lp_far->mp_socket->write(QByteArray(8, '\0'));
            }
            if (!l_bytes.isEmpty())
                l_arrivals.push_back({l_clock.nsecsElapsed(), l_bytes.size(), lp_far});
        });
        l_receivers.push_back(std::move(lp_receiver));
    });

    for (int l_index = 1; l_index <= l_uploads; ++l_index) {
        std::string l_user = "r";
        l_user += std::to_string(l_index);
        d.GetType("user")->GetItem(l_user) += d.GetType("is_online")->GetGlobalNullItem();
        l_manager.OnQueueUploadRequested(l_user, l_path);
        ItemPtr l_upload = d.GetType("user")->GetItem(l_user).GetItem("upload_entry");
        l_manager.OnFileTransferResponse(l_user, l_upload["transfer_req"].AsUInt(), true, false, 0, "");
        auto* lp_socket = new QTcpSocket;
        lp_socket->connectToHost(QHostAddress::LocalHost, l_listener.serverPort());
        if (!lp_socket->waitForConnected(5000))
            return 1;
        l_manager.OnFileConnectionAccepted(l_user, lp_socket);
    }

    // A second to settle, then the measured window.
    const qint64 l_startNs = l_clock.nsecsElapsed() + 1000000000LL;
    const qint64 l_endNs = l_startNs + qint64(l_seconds) * 1000000000LL;
    RunUntil([&] { return l_clock.nsecsElapsed() >= l_endNs; }, (l_seconds + 5) * 1000);
    const qint64 l_shutDownMs = l_world.ShutDownMs();

    double l_rate = 0;
    for (const auto& lp_receiver : l_receivers)
        l_rate += RateWithin(l_arrivals, lp_receiver.get(), l_startNs, l_endNs) / 1024.0;
    Print("kb_per_s", l_rate);
    Print("error_pct", 100.0 * std::abs(l_rate - l_limit) / l_limit);
    Print("shutdown_ms", double(l_shutDownMs));
    for (auto& lp_receiver : l_receivers)
        delete lp_receiver->mp_socket;
    return 0;
}
}  // namespace TransferBenchRoles
