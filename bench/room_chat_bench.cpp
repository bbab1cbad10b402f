// A busy room tab, one figure a line, name first:
//
//   room_join_ms                  a join answer of 2,000 members, from the
//                                 first store change until the member list
//                                 is filled and painted
//   room_chat_longest_block_ms    the longest the event loop could serve no
//                                 event during the chat run
//   room_chat_gui_cpu_pct         the GUI thread's CPU time during the chat
//                                 run, in percent of its wall time
//   room_chat_rss_growth_mb       resident memory at the end of the run less
//                                 that at the first trim of the chat view
//   room_chat_trims               how often the view dropped its oldest lines
//   room_chat_html_read_ms        one read of the full view as HTML, what a
//                                 check before every line would cost
//
// The room tab is shown (offscreen unless QT_QPA_PLATFORM says otherwise),
// 1200x800. The server link is not connected: the join answer is applied to
// the store as the link applies it (the room gets "in_room", its members are
// connected with their figures), and chat lines arrive through the link's
// RoomChat signal, 50 a second, each 200 characters with a link in it.
//
// Options: --seconds N for the chat run (default 60).

#include "PageBenchServices.h"
#include "TransferBenchWorld.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "server/Server.h"
#include "ui/social/RoomForm.h"
#include "ui/social/SocialPages.h"
#include "ui_RoomForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
constexpr int MemberCount = 2000;
constexpr int LinesPerSecond = 50;
constexpr int LineLength = 200;
const char* const Room = "busy room";


// The join answer as the server link applies it to the store.
void ApplyJoin()
{
    ItemPtr l_room = d.GetType("room")->GetItem(Room);
    l_room += d.GetType("in_room")->GetGlobalNullItem();
    l_room.Disconnect("user");
    for (int l_index = 0; l_index < MemberCount; ++l_index) {
        ItemPtr l_user = d.GetType("user")->GetItem("member" + std::to_string(l_index));
        l_room += l_user;
        l_user += d.GetType("average_download_speed")->GetItem(Value(l_index * 37));
        l_user += d.GetType("shared_files_count")->GetItem(Value(l_index * 11));
        l_user += d.GetType("country_code")->GetItem(l_index % 3 ? "DE" : "us");
    }
}

std::string ChatLine(int i_number)
{
    std::string l_line = "line " + std::to_string(i_number) + " see https://example.org/page?id=" +
                         std::to_string(i_number) + " ";
    while (l_line.size() < LineLength)
        l_line += "lorem ipsum ";
    l_line.resize(LineLength);
    return l_line;
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    UseOffscreenUnlessSet();
    QApplication l_application(i_argc, ip_argv);
    const int l_seconds = SecondsOption(i_argc, ip_argv, 60);
    QTemporaryDir l_downloadFolder;
    PageBenchServices l_services(l_downloadFolder.path());
    QMainWindow l_window;
    auto* lp_tabs = new QTabWidget(&l_window);
    l_window.setCentralWidget(lp_tabs);
    SocialPages l_pages(lp_tabs, nullptr);
    l_pages.WatchRooms();
    l_services.Load();
    l_window.resize(1200, 800);
    l_window.show();
    QApplication::processEvents();

    QElapsedTimer l_join;
    l_join.start();
    ApplyJoin();
    auto* lp_form = l_pages.RoomFormAt(0);
    if (!lp_form || lp_form->Form()->userList->topLevelItemCount() != MemberCount) {
        std::fprintf(stderr, "the join did not fill the member list\n");
        return 1;
    }
    WaitForPaint(lp_form->Form()->userList);
    PrintFigure("room_join_ms", MsSince(l_join), "ms");

    QEventLoop l_loop;
    QElapsedTimer l_wall;
    double l_rssAtFirstTrim = -1;
    int l_line = 0;
    const int l_lines = l_seconds * LinesPerSecond;
    QTimer l_chat;
    l_chat.setTimerType(Qt::PreciseTimer);
    l_chat.setInterval(1000 / LinesPerSecond);
    QObject::connect(&l_chat, &QTimer::timeout, &l_loop, [&] {
        if (l_line == l_lines) {
            l_loop.quit();
            return;
        }
        emit gp_server->RoomChat(Room, "member" + std::to_string(l_line % MemberCount), ChatLine(l_line));
        ++l_line;
        if (l_rssAtFirstTrim < 0 && lp_form->TrimCount() > 0)
            l_rssAtFirstTrim = ResidentMb();
    });
    const double l_cpuStart = ThreadCpuMs();
    l_wall.start();
    BlockProbe l_probe;
    l_chat.start();
    l_loop.exec();
    const double l_cpuPct = (ThreadCpuMs() - l_cpuStart) * 100.0 / MsSince(l_wall);

    PrintFigure("room_chat_longest_block_ms", l_probe.LongestMs(), "ms");
    PrintFigure("room_chat_gui_cpu_pct", l_cpuPct, "%");
    PrintFigure("room_chat_rss_growth_mb", l_rssAtFirstTrim < 0 ? 0 : ResidentMb() - l_rssAtFirstTrim, "MB");
    PrintFigure("room_chat_trims", lp_form->TrimCount(), "");
    QElapsedTimer l_read;
    l_read.start();
    const qsizetype l_htmlLength = lp_form->Form()->chatView->toHtml().size();
    PrintFigure("room_chat_html_read_ms", MsSince(l_read), "ms");
    std::fprintf(stderr, "view: %d characters of text, %lld of HTML\n",
                 lp_form->Form()->chatView->document()->characterCount(), static_cast<long long>(l_htmlLength));
    return 0;
}
