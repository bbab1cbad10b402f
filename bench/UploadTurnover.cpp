#include "UploadTurnover.h"

#include "TransferBenchWorld.h"
#include "TransfersViewBenchWorld.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace UploadTurnover
{
bool ShowUploads(TransfersViewBenchWorld& io_world)
{
    if (io_world.DownloadFolder().isEmpty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return false;
    }
    if (!io_world.Show(true)) {
        std::fprintf(stderr, "the list was never painted\n");
        return false;
    }
    io_world.Load();
    return true;
}

int Entries()
{
    return int(d.GetType("upload_entry")->ItemCount());
}

bool WaitForRows(const QTreeWidget& i_tree)
{
    QElapsedTimer l_clock;
    l_clock.start();
    while (RowsAtDepth(i_tree, 2, true) != Entries()) {
        if (l_clock.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    WaitUntilIdle();
    return true;
}

bool WaitForFill(const QTreeWidget& i_tree)
{
    if (RunUntilIdle(i_tree.viewport()) && WaitForRows(i_tree))
        return true;
    std::fprintf(stderr, "filled: %d entries, %d rows shown\n", Entries(), RowsAtDepth(i_tree, 2, true));
    return false;
}

int AllRows(const QTreeWidget& i_tree)
{
    return RowsAtDepth(i_tree, 0) + RowsAtDepth(i_tree, 1) + RowsAtDepth(i_tree, 2);
}

double CpuPct(const Mark& i_from, const Mark& i_to)
{
    return 100.0 * (i_to.m_cpuMs - i_from.m_cpuMs) / double(i_to.m_wallMs - i_from.m_wallMs);
}

void PrintFigures(const char* ip_name, int i_seconds, const Marks& i_marks, int i_droppedInLastMinute,
                  const QTreeWidget& i_tree)
{
    const std::string l_figure = std::string(ip_name) + "_gui_cpu_pct";
    PrintFigure(l_figure.c_str(), CpuPct(i_marks.m_lastMinute, i_marks.m_end), "%");
    std::printf("detail %s seconds=%d first_minute_gui_cpu_pct=%.1f drops_per_s=%.1f rows=%d\n", ip_name, i_seconds,
                CpuPct(i_marks.m_start, i_marks.m_firstMinute),
                1000.0 * i_droppedInLastMinute / double(i_marks.m_end.m_wallMs - i_marks.m_lastMinute.m_wallMs),
                AllRows(i_tree));
    std::fflush(stdout);
}

Marks RunArrivals(int i_intervalMs, int i_seconds, const std::function<void()>& i_arrive, const int& i_arrivals)
{
    QElapsedTimer l_wall;
    auto l_mark = [&] { return Mark{ThreadCpuMs(), l_wall.elapsed(), i_arrivals, Entries(), ResidentMb()}; };
    QEventLoop l_loop;
    QTimer l_arrivalTimer;
    l_arrivalTimer.setTimerType(Qt::PreciseTimer);
    l_arrivalTimer.setInterval(i_intervalMs);
    QObject::connect(&l_arrivalTimer, &QTimer::timeout, &l_loop, i_arrive);
    Marks l_marks;
    l_wall.start();
    l_marks.m_start = l_mark();
    QTimer::singleShot(MinuteMs, &l_loop, [&] { l_marks.m_firstMinute = l_mark(); });
    QTimer::singleShot((i_seconds - 60) * 1000, &l_loop, [&] { l_marks.m_lastMinute = l_mark(); });
    QTimer::singleShot(i_seconds * 1000, &l_loop, &QEventLoop::quit);
    l_arrivalTimer.start();
    l_loop.exec();
    l_arrivalTimer.stop();
    l_marks.m_end = l_mark();
    return l_marks;
}

bool RunIfAsked(int i_argc, char** ip_argv, const char* ip_option, const std::function<int(int i_seconds)>& i_run,
                int& o_exitCode)
{
    for (int l_arg = 1; l_arg + 1 < i_argc; ++l_arg) {
        if (std::string(ip_argv[l_arg]) != ip_option)
            continue;
        const int l_seconds = std::atoi(ip_argv[l_arg + 1]);
        if (l_seconds < 60) {
            std::fprintf(stderr, "%s wants seconds, at least 60\n", ip_option);
            o_exitCode = 2;
        } else {
            o_exitCode = i_run(l_seconds);
        }
        return true;
    }
    return false;
}
}  // namespace UploadTurnover
