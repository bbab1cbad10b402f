// File transfers on the loopback network, one figure a line, name first:
//
//   transfer_vs_socat     our throughput for a file between two processes,
//                         each with its own transfer manager, divided by that
//                         of a plain socat copy of the same file
//   gui_cpu_share_pct     the higher of the two GUI threads' CPU time during
//                         the transfer, in percent of its wall time
//   limit_error_max_pct   the worst deviation from the upload speed limit
//
// followed and preceded by the details of each. The same file is also sent
// with a progress report for every chunk, which shows what reporting less
// often saves the GUI thread.
//
// Options: --size-mb N (default 1024), --seconds N per limit case (default
// 20). Needs socat on the path. The program starts itself for each part it
// plays (see TransferBenchRoles); KSTR_BENCH_LOGS=<folder> keeps each
// process's client logs there.

#include "TransferBenchRoles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <random>
#include <unistd.h>
#include <vector>

namespace
{
void Print(const QString& i_name, double i_value, const QString& i_detail = QString())
{
    std::printf("%s %.3f%s\n", qPrintable(i_name), i_value, qPrintable(i_detail.isEmpty() ? "" : "  " + i_detail));
    std::fflush(stdout);
}

bool MakeSource(const QString& i_path, qint64 i_bytes)
{
    QFile l_file(i_path);
    if (!l_file.open(QIODevice::WriteOnly))
        return false;
    std::mt19937_64 l_random(20240501);
    std::vector<quint64> l_block(1 << 17);
    for (qint64 l_written = 0; l_written < i_bytes;) {
        for (quint64& l_word : l_block)
            l_word = l_random();
        const qint64 l_count = qMin<qint64>(i_bytes - l_written, qint64(l_block.size() * sizeof(quint64)));
        if (l_file.write(reinterpret_cast<const char*>(l_block.data()), l_count) != l_count)
            return false;
        l_written += l_count;
    }
    return true;
}

quint16 FreePort()
{
    QTcpServer l_probe;
    l_probe.listen(QHostAddress::LocalHost, 0);
    return l_probe.serverPort();
}

// Seconds for socat to copy the file into another over the loopback
// network; 0 when it failed.
double SocatSeconds(const QString& i_source, const QString& i_target)
{
    const QString l_port = QString::number(FreePort());
    QProcess l_receiver;
    l_receiver.start("socat", {"-u", "TCP-LISTEN:" + l_port + ",bind=127.0.0.1,reuseaddr", "CREATE:" + i_target});
    if (!l_receiver.waitForStarted())
        return 0;
    QThread::msleep(300);
    QElapsedTimer l_timer;
    l_timer.start();
    QProcess l_sender;
    l_sender.start("socat", {"-u", "OPEN:" + i_source, "TCP:127.0.0.1:" + l_port});
    if (!l_sender.waitForFinished(600000) || !l_receiver.waitForFinished(600000))
        return 0;
    const double l_seconds = double(l_timer.nsecsElapsed()) / 1e9;
    QFile::remove(i_target);
    return QFile(i_source).size() > 0 ? l_seconds : 0;
}

QString RunRole(const QStringList& i_arguments, int i_timeoutMs)
{
    QProcess l_process;
    l_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    l_process.start(QCoreApplication::applicationFilePath(), i_arguments);
    l_process.waitForFinished(i_timeoutMs);
    return QString::fromUtf8(l_process.readAllStandardOutput());
}

double Figure(const QString& i_output, const char* ip_name)
{
    return BenchFigure(i_output, ip_name).toDouble();
}

int Orchestrate(qint64 i_sizeMb, int i_seconds)
{
    if (QStandardPaths::findExecutable("socat").isEmpty()) {
        std::fprintf(stderr, "socat is missing (scripts/setup.sh installs it)\n");
        return 1;
    }
    QTemporaryDir l_folder;
    const QString l_source = l_folder.filePath("transfer-bench.bin");
    if (!MakeSource(l_source, i_sizeMb << 20))
        return 1;
    Print("file_mib", double(i_sizeMb));

    // Each copy starts without dirty pages of the one before.
    double l_socat = 1e9;
    for (int l_run = 0; l_run < 2; ++l_run) {
        ::sync();
        const double l_seconds = SocatSeconds(l_source, l_folder.filePath("socat-copy.bin"));
        if (l_seconds <= 0)
            return 1;
        l_socat = qMin(l_socat, l_seconds);
    }
    const double l_socatRate = double(i_sizeMb) / l_socat;
    Print("socat_mib_per_s", l_socatRate);

    QString l_runs[2];
    const char* const l_modes[] = {"chunk", "paced"};
    for (int l_mode = 0; l_mode < 2; ++l_mode) {
        ::sync();
        l_runs[l_mode] = RunRole({"--download", l_source, l_modes[l_mode]}, 900000);
        if (Figure(l_runs[l_mode], "identical") != 1) {
            std::fprintf(stderr, "the %s transfer failed:\n%s\n", l_modes[l_mode], qPrintable(l_runs[l_mode]));
            return 1;
        }
    }
    const QString& l_paced = l_runs[1];
    const QString& l_everyChunk = l_runs[0];
    Print("every_chunk_mib_per_s", Figure(l_everyChunk, "mib_per_s"));
    Print("every_chunk_gui_cpu_share_pct",
          qMax(Figure(l_everyChunk, "downloader_gui_cpu_pct"), Figure(l_everyChunk, "uploader_gui_cpu_pct")),
          QString("downloader %1, uploader %2")
              .arg(Figure(l_everyChunk, "downloader_gui_cpu_pct"), 0, 'f', 2)
              .arg(Figure(l_everyChunk, "uploader_gui_cpu_pct"), 0, 'f', 2));
    Print("transfer_mib_per_s", Figure(l_paced, "mib_per_s"));
    Print("transfer_vs_socat", Figure(l_paced, "mib_per_s") / l_socatRate);
    Print("gui_cpu_share_pct", qMax(Figure(l_paced, "downloader_gui_cpu_pct"), Figure(l_paced, "uploader_gui_cpu_pct")),
          QString("downloader %1, uploader %2")
              .arg(Figure(l_paced, "downloader_gui_cpu_pct"), 0, 'f', 2)
              .arg(Figure(l_paced, "uploader_gui_cpu_pct"), 0, 'f', 2));

    // The limit cases run side by side, each in its own process.
    struct LimitCase
    {
        int m_kb;
        int m_uploads;
        QProcess* mp_process;
    };
    std::vector<LimitCase> l_cases;
    for (int l_kb : {50, 500, 5000, 20000}) {
        for (int l_uploads : {1, 4}) {
            auto* lp_process = new QProcess;
            lp_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            lp_process->start(QCoreApplication::applicationFilePath(),
                              {"--limit", QString::number(l_kb), QString::number(l_uploads), QString::number(i_seconds),
                               l_source});
            l_cases.push_back({l_kb, l_uploads, lp_process});
        }
    }
    double l_worst = 0;
    for (const LimitCase& l_case : l_cases) {
        l_case.mp_process->waitForFinished((i_seconds + 60) * 1000);
        const QString l_output = QString::fromUtf8(l_case.mp_process->readAllStandardOutput());
        const QString l_error = BenchFigure(l_output, "error_pct");
        const double l_errorPct = l_error.isEmpty() ? 100.0 : l_error.toDouble();
        l_worst = qMax(l_worst, l_errorPct);
        Print(QString("limit_%1kbps_%2_uploads_error_pct").arg(l_case.m_kb).arg(l_case.m_uploads), l_errorPct,
              QString("measured %1 KB/s over %2 s, shut-down %3 ms")
                  .arg(Figure(l_output, "kb_per_s"), 0, 'f', 1)
                  .arg(i_seconds)
                  .arg(Figure(l_output, "shutdown_ms"), 0, 'f', 0));
        delete l_case.mp_process;
    }
    Print("limit_error_max_pct", l_worst);
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_application(argc, argv);
    QStringList l_arguments = QCoreApplication::arguments().mid(1);
    const QString l_role = l_arguments.value(0);
    if (l_role == "--download")
        return TransferBenchRoles::Download(l_arguments.mid(1));
    if (l_role == "--upload")
        return TransferBenchRoles::Upload(l_arguments.mid(1));
    if (l_role == "--limit")
        return TransferBenchRoles::Limit(l_arguments.mid(1));

    qint64 l_sizeMb = 1024;
    int l_seconds = 20;
    for (qsizetype l_index = 0; l_index + 1 < l_arguments.size(); ++l_index) {
        if (l_arguments[l_index] == "--size-mb")
            l_sizeMb = l_arguments[l_index + 1].toLongLong();
        else if (l_arguments[l_index] == "--seconds")
            l_seconds = l_arguments[l_index + 1].toInt();
    }
    return Orchestrate(qMax<qint64>(l_sizeMb, 1), qMax(l_seconds, 1));
}
