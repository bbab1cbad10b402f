// The room list of the main window, filled from the server's room list, one
// figure per line: "<figure> <value> <unit>".
//
//   room_list_fill_ms     from the room-list message (10,000 rooms) to the
//                         list filled and sorted, on a fresh list
//   room_list_refill_ms   the same message again (a refresh), every count
//                         changed, on the filled list
//
// The window runs offscreen as the program builds it (Init), its peer
// listeners on free loopback ports and its server link pointed at a port
// where nothing listens; the first-start login dialog and any message box
// are answered at once.

#include "BenchMainWindow.h"

#include "server/Server.h"
#include "server/ServerMessageHandler.h"
#include "ui/main/MainWindow.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <QtEndian>

#include <cstdio>
#include <memory>

namespace
{
void Print(const char* ip_figure, double i_value, const char* ip_unit)
{
    std::printf("%s %.1f %s\n", ip_figure, i_value, ip_unit);
    std::fflush(stdout);
}

void U32(QByteArray& io_bytes, quint32 i_value)
{
    char l_bytes[4];
    qToLittleEndian(i_value, l_bytes);
    io_bytes.append(l_bytes, 4);
}

// The server's room list: the names, then the counts.
QByteArray RoomList(int i_rooms, quint32 i_countBase)
{
    QByteArray l_payload;
    U32(l_payload, quint32(i_rooms));
    for (int l_n = 0; l_n < i_rooms; ++l_n) {
        const QByteArray l_name = "Room " + QByteArray::number((l_n * 7919) % i_rooms) + " of the bench";
        U32(l_payload, quint32(l_name.size()));
        l_payload.append(l_name);
    }
    U32(l_payload, quint32(i_rooms));
    for (int l_n = 0; l_n < i_rooms; ++l_n)
        U32(l_payload, i_countBase + quint32(l_n % 500));
    return l_payload;
}

// Delivers the message and runs the event loop until the list holds every
// room in order; the milliseconds.
double Fill(QTreeWidget* ip_list, const QByteArray& i_payload, int i_rooms)
{
    QElapsedTimer l_clock;
    l_clock.start();
    ServerMessageHandler(*gp_server).Handle(Server::RoomListCode, i_payload);
    QCoreApplication::processEvents();
    const double l_ms = double(l_clock.nsecsElapsed()) / 1e6;
    if (ip_list->topLevelItemCount() != i_rooms)
        std::fprintf(stderr, "the list holds %d rows, not %d\n", ip_list->topLevelItemCount(), i_rooms);
    return l_ms;
}
}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication l_app(argc, argv);
    auto lp_bench = std::make_unique<BenchMainWindow>();
    QTreeWidget* lp_list = lp_bench->Window().Form()->roomList;

    constexpr int l_rooms = 10000;
    const QByteArray l_first = RoomList(l_rooms, 1);
    const QByteArray l_again = RoomList(l_rooms, 1000);
    Print("room_list_fill_ms", Fill(lp_list, l_first, l_rooms), "ms");
    Print("room_list_refill_ms", Fill(lp_list, l_again, l_rooms), "ms");
    lp_bench.reset();
    return 0;
}
