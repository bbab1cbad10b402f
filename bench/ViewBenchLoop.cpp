#include "ViewBenchLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QProcess>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{
// Counts the paints a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* ip_widget) { ip_widget->installEventFilter(this); }
    int Paints() const { return m_paints; }

protected:
    bool eventFilter(QObject*, QEvent* ip_event) override
    {
        if (ip_event->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }

private:
    int m_paints = 0;
};

bool Shown(const QTreeWidgetItem* ip_row)
{
    for (; ip_row; ip_row = ip_row->parent()) {
        if (ip_row->isHidden())
            return false;
    }
    return true;
}

int RowsBelow(const QTreeWidgetItem* ip_row, int i_depth, bool i_shownOnly)
{
    if (i_depth == 0)
        return !i_shownOnly || Shown(ip_row) ? 1 : 0;
    int l_rows = 0;
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        l_rows += RowsBelow(ip_row->child(l_child), i_depth - 1, i_shownOnly);
    return l_rows;
}
}  // namespace

void UseOffscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void PrintFigure(const char* ip_name, double i_value, const char* ip_unit)
{
    std::printf("%s %.1f %s\n", ip_name, i_value, ip_unit);
    std::fflush(stdout);
}

double MsSince(const QElapsedTimer& i_timer)
{
    return double(i_timer.nsecsElapsed()) / 1e6;
}

bool WaitForPaint(QWidget* ip_widget)
{
    const PaintCounter l_counter(ip_widget);
    QElapsedTimer l_limit;
    l_limit.start();
    while (l_counter.Paints() == 0 && l_limit.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return l_counter.Paints() > 0;
}

void WaitUntilIdle()
{
    for (int l_round = 0; l_round < 3; ++l_round) {
        QEventLoop l_loop;
        QTimer::singleShot(0, &l_loop, &QEventLoop::quit);
        l_loop.exec();
    }
}

bool RunUntilIdle(QWidget* ip_painted)
{
    const bool l_painted = WaitForPaint(ip_painted);
    WaitUntilIdle();
    return l_painted;
}

int RowsAtDepth(const QTreeWidget& i_tree, int i_depth, bool i_shownOnly)
{
    return RowsBelow(i_tree.invisibleRootItem(), i_depth + 1, i_shownOnly);
}

double ResidentMb()
{
    long l_pages = 0;
    long l_resident = 0;
    if (FILE* lp_statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(lp_statm, "%ld %ld", &l_pages, &l_resident) != 2)
            l_resident = 0;
        std::fclose(lp_statm);
    }
    return double(l_resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

BlockProbe::BlockProbe()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &BlockProbe::OnProbe);
    m_clock.start();
    m_timer.start();
}

void BlockProbe::Mark()
{
    m_markNs = m_clock.nsecsElapsed();
    m_longestSinceMarkMs = 0;
}

void BlockProbe::OnProbe()
{
    const qint64 l_now = m_clock.nsecsElapsed();
    const double l_blockMs = double(l_now - m_lastNs) / 1e6 - IntervalMs;
    m_longestMs = std::max(m_longestMs, l_blockMs);
    if (m_markNs >= 0 && m_lastNs >= m_markNs)
        m_longestSinceMarkMs = std::max(m_longestSinceMarkMs, l_blockMs);
    m_lastNs = l_now;
}

int SecondsOption(int i_argc, char** ip_argv, int i_default)
{
    for (int l_arg = 1; l_arg + 1 < i_argc; ++l_arg) {
        if (std::string(ip_argv[l_arg]) == "--seconds")
            return std::max(1, std::atoi(ip_argv[l_arg + 1]));
    }
    return i_default;
}

bool RunThisProgram(const QStringList& i_arguments)
{
    QProcess l_run;
    l_run.setProcessChannelMode(QProcess::ForwardedChannels);
    std::fflush(stdout);
    l_run.start(QCoreApplication::applicationFilePath(), i_arguments);
    if (!l_run.waitForFinished(-1) || l_run.exitStatus() != QProcess::NormalExit || l_run.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(i_arguments.join(' ')));
        return false;
    }
    return true;
}
