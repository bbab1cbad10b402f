// The browse page on the largest listings a peer can send, one figure a
// line, name first:
//
//   browse_view_open_ms          from the arrival of the browse reply at the
//                                peer layer until the page is filled,
//                                painted and the event loop is free
//   browse_listing_store_ms      the shares service's storing of the
//                                listing, from its start until the page
//                                is made (the elapsed time, however many
//                                turns of the event loop it spans)
//   browse_view_longest_block_ms the longest the event loop was held in that
//                                hand-over: the frame's reading, inflating
//                                and decoding, the storing, and the page
//   browse_view_longest_block_<shape>_ms  the same for one shape alone
//   browse_view_filter_ms        one filter change while the largest folder
//                                is open, until the event loop is free
//   browse_view_rss_mb           resident memory the listing and its page add
//
// Two shapes of listing arrive, each as the compressed reply a peer sends
// (one frame of at most 1 MiB) on a messaging connection over the loopback
// address, after the client asked for it:
//   sendable  the generated music share of the shares benchmark (its root,
//             artists and albums, as "\" paths): the first files of it, as
//             many as fit the frame;
//   700x100   700 folders of 100 files each: the first 700 albums of that
//             share, filled with its files in order, numbered in their
//             folder.
// Each shape arrives twice: the second listing of the same user replaces the
// first one's page. The first three figures are the worst of both shapes and
// both arrivals; the filter and memory figures are the sendable shape's.
// "detail" lines give each arrival.
//
// The Shares page is shown (offscreen unless QT_QPA_PLATFORM says
// otherwise), 1200x800, with "expand_new_shares" on, as at a start.

#include "PageBenchServices.h"
#include "ShareBenchTree.h"
#include "ViewBenchLoop.h"

#include "core/io/MemStream.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerMessenger.h"
#include "shares/PayloadCompression.h"
#include "shares/SharedFoldersManager.h"
#include "ui/frame/EventToolBar.h"
#include "ui/views/ShareForm.h"
#include "ui/views/SharesForm.h"
#include "ui_ShareForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtEndian>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{
constexpr char PeerName[] = "peer";
constexpr int ShapeFolders = 700;
constexpr int ShapeFilesPerFolder = 100;

std::string RemotePath(std::string i_path)
{
    std::replace(i_path.begin(), i_path.end(), '/', '\\');
    return i_path;
}

// The share as a peer lists it, folder by folder in the order the
// generator makes them, each with its files.
struct GeneratedFolder
{
    std::string m_name;
    std::vector<FileInfo> m_files;
};

std::vector<GeneratedFolder> GenerateShare()
{
    std::vector<GeneratedFolder> l_folders{{"D:\\Music", {}}};
    WalkShareTree(
        "D:/Music", [&](const std::string& i_folder) { l_folders.push_back({RemotePath(i_folder), {}}); },
        [&](const std::string& i_path, qint64 i_size) {
            FileInfo l_file;
            l_file.m_name = i_path.substr(i_path.rfind('/') + 1);
            l_file.m_fileSize = i_size;
            l_folders.back().m_files.push_back(l_file);
        });
    return l_folders;
}

// The first i_files files of the share with the folders up to the last.
FileInfoMap FirstFiles(const std::vector<GeneratedFolder>& i_share, int i_files)
{
    FileInfoMap l_listing;
    for (const GeneratedFolder& l_folder : i_share) {
        if (i_files <= 0)
            break;
        std::set<FileInfo>& l_files = l_listing[l_folder.m_name];
        for (const FileInfo& l_file : l_folder.m_files) {
            if (i_files-- <= 0)
                break;
            l_files.insert(l_file);
        }
    }
    return l_listing;
}

// The name without its track number ("07 - ").
std::string Untracked(const std::string& i_name)
{
    std::size_t l_digits = 0;
    while (l_digits < i_name.size() && std::isdigit(static_cast<unsigned char>(i_name[l_digits])))
        ++l_digits;
    return l_digits > 0 && i_name.compare(l_digits, 3, " - ") == 0 ? i_name.substr(l_digits + 3) : i_name;
}

// The first albums of the share, each filled with 100 of its files in order,
// numbered in their folder so that no name repeats there.
FileInfoMap EvenFolders(const std::vector<GeneratedFolder>& i_share)
{
    std::vector<const std::string*> l_albums;
    std::vector<const FileInfo*> l_files;
    for (const GeneratedFolder& l_folder : i_share) {
        if (!l_folder.m_files.empty())
            l_albums.push_back(&l_folder.m_name);
        for (const FileInfo& l_file : l_folder.m_files)
            l_files.push_back(&l_file);
    }
    FileInfoMap l_listing;
    for (int l_folder = 0; l_folder < ShapeFolders; ++l_folder) {
        std::set<FileInfo>& l_into = l_listing[*l_albums.at(std::size_t(l_folder))];
        for (int l_index = 0; l_index < ShapeFilesPerFolder; ++l_index) {
            FileInfo l_file = *l_files.at(std::size_t(l_folder * ShapeFilesPerFolder + l_index));
            char l_number[8];
            std::snprintf(l_number, sizeof l_number, "%03d - ", l_index + 1);
            l_file.m_name = l_number + Untracked(l_file.m_name);
            l_into.insert(l_file);
        }
    }
    return l_listing;
}

// The frame a peer sends with the listing (length, code, zlib stream); empty
// when it does not fit one frame.
QByteArray ReplyFrame(const FileInfoMap& i_listing)
{
    MemStream l_payload;
    l_payload.Write(i_listing);
    l_payload.Write(0u);
    MemStream l_body;
    if (PayloadCompression::Frame(PeerMessageCodes::SharedFileList, l_payload, l_body) !=
        PayloadCompression::Outcome::Built)
        return {};
    const auto l_length = static_cast<quint32>(l_body.mp_buffer->m_writeIndex);
    QByteArray l_frame(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(l_length, l_frame.data());
    l_frame.append(l_body.mp_buffer->mp_buffer, qsizetype(l_length));
    return l_frame;
}

int LargestSendable(const std::vector<GeneratedFolder>& i_share)
{
    int l_fits = 0;
    int l_fails = TotalFiles + 1;
    while (l_fails - l_fits > 1) {
        const int l_middle = (l_fits + l_fails) / 2;
        (ReplyFrame(FirstFiles(i_share, l_middle)).isEmpty() ? l_fails : l_fits) = l_middle;
    }
    return l_fits;
}

void Fail(const char* ip_what)
{
    std::fprintf(stderr, "%s\n", ip_what);
    std::exit(1);
}

// Runs the event loop until the condition holds, for 30 s at most.
template <class Condition>
void RunLoopUntil(Condition i_condition, const char* ip_what)
{
    QElapsedTimer l_limit;
    l_limit.start();
    while (!i_condition()) {
        if (l_limit.elapsed() > 30000)
            Fail(ip_what);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// The browsed user: a messaging connection to the client from this thread,
// so what it writes goes out as the event loop turns. What the client sends
// it (the browse request) is read and dropped.
class BrowsedPeer
{
public:
    void Join(quint16 i_port)
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] { m_socket.readAll(); });
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), i_port);
        if (!m_socket.waitForConnected(5000))
            Fail("the browsed peer could not connect");
        const MemStream l_first = PeerFirstMessage::MakeDirect(PeerName, "P");
        QByteArray l_frame(4, Qt::Uninitialized);
        qToLittleEndian<quint32>(quint32(l_first.mp_buffer->m_writeIndex), l_frame.data());
        l_frame.append(l_first.mp_buffer->mp_buffer, qsizetype(l_first.mp_buffer->m_writeIndex));
        Send(l_frame);
        RunLoopUntil([] { return bool(ItemPtr(d.GetType("user")->GetItem(PeerName)).HasItem("peer_socket")); },
                     "the client never took the browsed peer's connection");
    }
    void Send(const QByteArray& i_frame) { m_socket.write(i_frame); }

private:
    QTcpSocket m_socket;
};

// Marks the moments within the hand-over where the shares service's storing
// begins (its new listing, or the first file of an old listing removed,
// once the page has let go of it) and ends (the new page's tab item made).
class Marks : public DataHandler
{
public:
    explicit Marks(const QElapsedTimer& i_clock) : m_clock(i_clock)
    {
        d.GetType("user_share")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&Marks::OnStoring));
        d.GetType("user_share_file")->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&Marks::OnStoring));
        d.GetType("user_share_tab")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&Marks::OnTabAdded));
    }
    void OnStoring(Item*)
    {
        if (m_storeStarted < 0)
            m_storeStarted = MsSince(m_clock);
    }
    void OnTabAdded(Item*)
    {
        if (m_pageStarted < 0)
            m_pageStarted = MsSince(m_clock);
    }

    const QElapsedTimer& m_clock;
    double m_storeStarted = -1;
    double m_pageStarted = -1;
};

struct HandOver
{
    double m_openMs = 0;
    double m_arrivalMs = 0;
    double m_storeMs = 0;
    double m_longestMs = 0;
};

ShareForm* PageOfPeer()
{
    return d.GetType("user")->GetItem(PeerName)["user_share"]["user_share_tab"].AsObject<ShareForm>();
}

// The client asks for the share, the peer's reply arrives: until the page
// is filled, painted and the loop is free.
HandOver Receive(BlockProbe& io_probe, BrowsedPeer& io_peer, const QByteArray& i_frame)
{
    peerMessenger->GetUserSharedFiles(PeerName);
    WaitUntilIdle();
    QElapsedTimer l_clock;
    Marks l_marks(l_clock);
    // The probe counts blocks that begin after the mark: one tick of it
    // passes before the reply goes out.
    io_probe.Mark();
    QElapsedTimer l_tick;
    l_tick.start();
    while (l_tick.elapsed() < 2 * BlockProbe::IntervalMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    l_clock.start();
    io_peer.Send(i_frame);
    RunLoopUntil([&l_marks] { return l_marks.m_pageStarted >= 0 && PageOfPeer(); }, "no page opened");
    RunUntilIdle(PageOfPeer()->Form()->folderTree->viewport());
    HandOver l_result;
    l_result.m_openMs = MsSince(l_clock);
    l_result.m_arrivalMs = l_marks.m_storeStarted;
    l_result.m_storeMs = l_marks.m_pageStarted - l_marks.m_storeStarted;
    l_result.m_longestMs = io_probe.LongestSinceMarkMs();
    return l_result;
}

// One filter change with the largest folder open; the word occurs in many
// names. Returns the ms until the event loop is free.
double FilterChange(const FileInfoMap& i_listing, const char* ip_word, int& o_rows)
{
    std::string l_largest;
    std::size_t l_most = 0;
    for (const auto& [l_name, l_files] : i_listing) {
        if (l_files.size() > l_most) {
            l_most = l_files.size();
            l_largest = l_name;
        }
    }
    ShareForm* lp_page = PageOfPeer();
    ItemPtr l_folder = d.GetType("user_share_folder_name")->HasItem(l_largest).GetItems("user_share_folder").Connected(
        ItemPtr(lp_page->ShareItem()));
    auto* lp_row = l_folder["user_share_folder_node"].AsObject<QTreeWidgetItem>();
    QWidget* lp_list = lp_page->Form()->fileList->viewport();
    lp_page->Form()->filterEdit->clear();
    lp_page->Form()->folderTree->setCurrentItem(lp_row);
    RunUntilIdle(lp_list);
    QElapsedTimer l_clock;
    l_clock.start();
    lp_page->Form()->filterEdit->setText(QString::fromLatin1(ip_word));
    RunUntilIdle(lp_list);
    const double l_ms = MsSince(l_clock);
    o_rows = lp_page->Form()->fileList->topLevelItemCount();
    lp_page->Form()->filterEdit->clear();
    RunUntilIdle(lp_list);
    return l_ms;
}

struct Figures
{
    HandOver m_first;
    HandOver m_replace;
    double m_filterMs = 0;
    double m_filterNoneMs = 0;
    double m_rssMb = 0;

    double Worst(double HandOver::*ip_figure) const { return std::max(m_first.*ip_figure, m_replace.*ip_figure); }
};

Figures Run(BlockProbe& io_probe, BrowsedPeer& io_peer, const char* ip_shape, const FileInfoMap& i_listing)
{
    const QByteArray l_frame = ReplyFrame(i_listing);
    if (l_frame.isEmpty())
        Fail("the listing does not fit one frame");
    std::size_t l_files = 0;
    for (const auto& l_folder : i_listing)
        l_files += l_folder.second.size();
    std::printf("detail %s listing files=%zu folders=%zu frame_bytes=%lld\n", ip_shape, l_files, i_listing.size(),
                static_cast<long long>(l_frame.size()));
    Figures l_figures;
    const double l_before = ResidentMb();
    l_figures.m_first = Receive(io_probe, io_peer, l_frame);
    l_figures.m_rssMb = ResidentMb() - l_before;
    int l_rows = 0;
    l_figures.m_filterMs = FilterChange(i_listing, "love", l_rows);
    std::printf("detail %s filter_rows word=love rows=%d\n", ip_shape, l_rows);
    l_figures.m_filterNoneMs = FilterChange(i_listing, "nowhere", l_rows);
    l_figures.m_replace = Receive(io_probe, io_peer, l_frame);
    return l_figures;
}

void Detail(const char* ip_shape, const Figures& i_figures)
{
    for (const auto& [lp_which, l_handOver] :
         {std::pair{"first", i_figures.m_first}, std::pair{"replace", i_figures.m_replace}})
        std::printf("detail %s %s open_ms=%.1f arrival_to_store_ms=%.1f store_ms=%.1f longest_block_ms=%.1f\n",
                    ip_shape, lp_which, l_handOver.m_openMs, l_handOver.m_arrivalMs, l_handOver.m_storeMs,
                    l_handOver.m_longestMs);
    std::printf("detail %s filter_ms=%.1f filter_nothing_matches_ms=%.1f rss_mb=%.1f\n", ip_shape,
                i_figures.m_filterMs, i_figures.m_filterNoneMs, i_figures.m_rssMb);
    std::fflush(stdout);
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    UseOffscreenUnlessSet();
    QApplication l_app(i_argc, ip_argv);
    QTemporaryDir l_downloadFolder;
    if (!l_downloadFolder.isValid())
        Fail("no temporary folder");
    qRegisterMetaType<ItemPtr>("ItemPtr");
    PageBenchServices l_services(l_downloadFolder.path());
    auto* lp_tabs = new SharesForm;
    lp_tabs->Init();
    l_services.Load();
    EventToolBar l_events;
    Settings::Set("expand_new_shares", "yes");
    lp_tabs->resize(1200, 800);
    lp_tabs->show();
    BrowsedPeer l_peer;
    l_peer.Join(l_services.PeerPort());

    const std::vector<GeneratedFolder> l_share = GenerateShare();
    const FileInfoMap l_sendable = FirstFiles(l_share, LargestSendable(l_share));
    const FileInfoMap l_even = EvenFolders(l_share);
    BlockProbe l_probe;
    const Figures l_sendableFigures = Run(l_probe, l_peer, "sendable", l_sendable);
    Detail("sendable", l_sendableFigures);
    // The page and listing go before the other shape arrives.
    lp_tabs->Page(0)->Delete();
    WaitUntilIdle();
    const Figures l_evenFigures = Run(l_probe, l_peer, "700x100", l_even);
    Detail("700x100", l_evenFigures);

    const auto l_worst = [&](double HandOver::*ip_figure) {
        return std::max(l_sendableFigures.Worst(ip_figure), l_evenFigures.Worst(ip_figure));
    };
    PrintFigure("browse_view_open_ms", l_worst(&HandOver::m_openMs), "ms");
    PrintFigure("browse_listing_store_ms", l_worst(&HandOver::m_storeMs), "ms");
    PrintFigure("browse_view_longest_block_ms", l_worst(&HandOver::m_longestMs), "ms");
    PrintFigure("browse_view_longest_block_sendable_ms", l_sendableFigures.Worst(&HandOver::m_longestMs), "ms");
    PrintFigure("browse_view_longest_block_700x100_ms", l_evenFigures.Worst(&HandOver::m_longestMs), "ms");
    PrintFigure("browse_view_filter_ms", l_sendableFigures.m_filterMs, "ms");
    PrintFigure("browse_view_rss_mb", l_sendableFigures.m_rssMb, "MB");
    delete lp_tabs;
    return 0;
}
