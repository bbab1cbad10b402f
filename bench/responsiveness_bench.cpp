// How well the client keeps answering other peers while it works, on the
// generated tree of 100,000 files in 10,000 folders, with the Diagnostics
// page shown (offscreen). A measuring peer asks for one folder's contents
// (36, answered with 37) every 20 ms; its answer times are the figures.
//
//   startup_rescan_answer_max_ms  the longest answer during the start-up
//                                 rescan after the data file was loaded
//   browse_build_gui_block_ms     the longest event-loop block of the first
//                                 browse request after a change
//   browse_request_gui_block_ms   the same for a repeated browse request
//   browse_flood_answer_p99_ms    the 99th percentile of the answers while a
//                                 second peer sends a browse request every
//                                 100 ms for 20 s; once on the whole share
//                                 (its reply is over the frame limit) and
//                                 once with the second peer seeing 20
//                                 artists, some 20,000 files (sent each time)
//   peer_request_reply_ms         the median of two folder requests sent
//                                 together until both answers are in, from a
//                                 peer that delays its acknowledgements
//   peer_request_reply_nodelay_off_ms  the same with the client's low-delay
//                                 option turned off on that connection
//   browse_flood_sigterm_exit_ms  SIGTERM during a flood until the loop has
//                                 ended and the services are gone
//
// The delaying peer turns TCP_QUICKACK off after every read, so its kernel
// holds each acknowledgement for its delayed-acknowledgement timer (40 ms)
// unless data of its own goes back first.
//
// Lines starting with "detail" break the figures down.

#include "SharesBenchWorld.h"

#include "core/persist/DataSaver.h"
#include "core/platform/TerminationSignals.h"
#include "core/store/Data.h"
#include "peer/PeerFirstMessage.h"
#include "shares/SharedFoldersManager.h"
#include "ui/widgets/DiagnosticsForm.h"

#include <QApplication>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

using namespace SharesBench;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point i_start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - i_start).count();
}

// One peer of the benchmark: a plain socket of its own, used from one thread.
class BenchPeer
{
public:
    ~BenchPeer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Opens a messaging connection to the client as the user.
    bool Connect(quint16 i_port, const std::string& i_user)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in l_address{};
        l_address.sin_family = AF_INET;
        l_address.sin_port = htons(i_port);
        l_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&l_address), sizeof l_address) != 0)
            return false;
        const MemStream l_first = PeerFirstMessage::MakeDirect(i_user, "P");
        return Send(QByteArray(l_first.mp_buffer->mp_buffer, l_first.mp_buffer->m_writeIndex));
    }

    // One frame, in one write.
    bool Send(const QByteArray& i_body)
    {
        QByteArray l_frame(4, Qt::Uninitialized);
        qToLittleEndian<quint32>(quint32(i_body.size()), l_frame.data());
        l_frame += i_body;
        return ::send(m_fd, l_frame.constData(), size_t(l_frame.size()), MSG_NOSIGNAL) == l_frame.size();
    }

    // The code of the next whole frame; 0 when none came in time.
    quint32 NextCode(int i_timeoutMs)
    {
        const Clock::time_point l_start = Clock::now();
        for (;;) {
            if (m_buffer.size() >= 8) {
                const qsizetype l_length = qFromLittleEndian<quint32>(m_buffer.constData());
                if (m_buffer.size() >= 4 + l_length) {
                    const quint32 l_code = qFromLittleEndian<quint32>(m_buffer.constData() + 4);
                    m_buffer.remove(0, 4 + l_length);
                    return l_code;
                }
            }
            const int l_left = i_timeoutMs - int(MsSince(l_start));
            if (l_left <= 0 || !Fill(l_left))
                return 0;
        }
    }

    // Reads and drops whatever arrives for up to i_ms.
    void Drain(int i_ms)
    {
        const Clock::time_point l_start = Clock::now();
        for (int l_left = i_ms; l_left > 0; l_left = i_ms - int(MsSince(l_start))) {
            if (!Fill(l_left))
                return;
            m_received += m_buffer.size();
            m_buffer.clear();
        }
    }

    bool m_delayAcks = false;
    long long m_received = 0;

private:
    bool Fill(int i_timeoutMs)
    {
        pollfd l_poll{m_fd, POLLIN, 0};
        if (::poll(&l_poll, 1, i_timeoutMs) <= 0)
            return false;
        char l_chunk[65536];
        const ssize_t l_read = ::recv(m_fd, l_chunk, sizeof l_chunk, 0);
        if (l_read <= 0)
            return false;
        if (m_delayAcks) {
            const int l_off = 0;
            ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &l_off, sizeof l_off);
        }
        m_buffer.append(l_chunk, l_read);
        return true;
    }

    int m_fd = -1;
    QByteArray m_buffer;
};

QByteArray FolderRequest(quint32 i_token, const std::string& i_folder)
{
    MemStream l_body;
    l_body.Write(36u);
    l_body.Write(static_cast<unsigned int>(i_token));
    l_body.Write(i_folder);
    return QByteArray(l_body.mp_buffer->mp_buffer, l_body.mp_buffer->m_writeIndex);
}

// Asks for folders every 20 ms on its own thread and times the answers: one
// folder a time, or every folder at once (each request its own write) until
// all answers are in.
class Prober
{
public:
    Prober(BenchPeer& io_peer, std::vector<std::string> i_folders, int i_gapUs = 0)
        : m_peer(io_peer), m_folders(std::move(i_folders)), m_gapUs(i_gapUs)
    {
    }
    ~Prober() { Stop(); }

    void Start()
    {
        m_stop = false;
        m_times.clear();
        m_missed = 0;
        m_done = false;
        m_thread = std::thread([this] {
            Run();
            m_done = true;
        });
    }
    // The event loop runs until the question under way is answered.
    void Stop()
    {
        m_stop = true;
        while (m_thread.joinable() && !m_done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (m_thread.joinable())
            m_thread.join();
    }

    std::vector<double> m_times;
    int m_missed = 0;

private:
    void Run()
    {
        quint32 l_token = 0;
        while (!m_stop) {
            const Clock::time_point l_start = Clock::now();
            for (const std::string& l_folder : m_folders) {
                if (l_token != 0 && m_gapUs > 0 && &l_folder != &m_folders.front())
                    std::this_thread::sleep_for(std::chrono::microseconds(m_gapUs));
                m_peer.Send(FolderRequest(++l_token, l_folder));
            }
            std::size_t l_answers = 0;
            while (l_answers < m_folders.size() && MsSince(l_start) < 5000) {
                if (m_peer.NextCode(100) == 37)
                    ++l_answers;
            }
            if (l_answers == m_folders.size())
                m_times.push_back(MsSince(l_start));
            else
                ++m_missed;
            const double l_rest = 20 - MsSince(l_start);
            if (l_rest > 0)
                std::this_thread::sleep_for(std::chrono::microseconds(int(l_rest * 1000)));
        }
    }

    BenchPeer& m_peer;
    std::vector<std::string> m_folders;
    int m_gapUs;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Sends a browse request every 100 ms on its own thread and drops the
// replies.
class Flooder
{
public:
    explicit Flooder(BenchPeer& io_peer) : m_peer(io_peer) {}
    ~Flooder() { Stop(); }
    void Start()
    {
        m_stop = false;
        m_thread = std::thread([this] {
            while (!m_stop) {
                m_peer.Send(QByteArray::fromHex("04000000"));
                ++m_sent;
                m_peer.Drain(100);
            }
        });
    }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int m_sent = 0;

private:
    BenchPeer& m_peer;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

double Percentile(std::vector<double> i_values, double i_share)
{
    if (i_values.empty())
        return 0;
    std::sort(i_values.begin(), i_values.end());
    return i_values[std::min(i_values.size() - 1, std::size_t(i_share * double(i_values.size())))];
}

void RunLoopFor(int i_ms)
{
    const Clock::time_point l_start = Clock::now();
    while (MsSince(l_start) < i_ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool RunLoopUntil(const std::function<bool()>& i_done, int i_timeoutMs)
{
    const Clock::time_point l_start = Clock::now();
    while (!i_done()) {
        if (MsSince(l_start) > i_timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Connects a peer as the user and waits until the client has taken it as a
// messaging connection.
bool Join(BenchPeer& io_peer, World& io_world, const std::string& i_user)
{
    if (!io_peer.Connect(io_world.PeerPort(), i_user))
        return false;
    return RunLoopUntil([&] { return ItemPtr(d.GetType("user")->GetItem(i_user)).HasItem("peer_socket"); }, 5000);
}

QTcpSocket* ClientSocketOf(const std::string& i_user)
{
    return ItemPtr(d.GetType("user")->GetItem(i_user)).HasItem("peer_socket").AsObject<QTcpSocket>();
}

void ReportAnswers(const char* ip_what, const Prober& i_prober)
{
    char l_line[200];
    std::snprintf(l_line, sizeof l_line, "%s answers=%zu missed=%d p50=%.2fms p99=%.2fms max=%.2fms", ip_what,
                  i_prober.m_times.size(), i_prober.m_missed, Percentile(i_prober.m_times, 0.5),
                  Percentile(i_prober.m_times, 0.99), Percentile(i_prober.m_times, 1.0));
    Detail(l_line);
}

void Fail(const char* ip_what)
{
    std::fprintf(stderr, "%s\n", ip_what);
    std::exit(1);
}

// The flood of browse requests for i_seconds, with the prober measuring.
void Flood(Prober& io_prober, Flooder& io_flooder, BenchPeer& i_flooderPeer, int i_seconds, const char* ip_share)
{
    const long long l_receivedBefore = i_flooderPeer.m_received;
    const int l_sentBefore = io_flooder.m_sent;
    io_prober.Start();
    io_flooder.Start();
    RunLoopFor(i_seconds * 1000);
    io_flooder.Stop();
    io_prober.Stop();
    ReportAnswers((std::string("flood ") + ip_share).c_str(), io_prober);
    Detail(std::string("flood ") + ip_share + " browse_requests=" + std::to_string(io_flooder.m_sent - l_sentBefore) +
           " reply_bytes_received=" + std::to_string(i_flooderPeer.m_received - l_receivedBefore));
    std::printf("browse_flood_answer_p99_ms %.2f ms (%s)\n", Percentile(io_prober.m_times, 0.99), ip_share);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    TimedApplication<QApplication> l_app(argc, argv);
    // Arguments pick phases ("browse", "flood", "reply", "sigterm"), for
    // profiling one at a time; the start-up rescan always runs.
    const auto l_runs = PhasesToRun(l_app.arguments());
    const Scratch l_run;
    const QTemporaryDir& l_logs = l_run.m_logs;
    const std::string& l_root = l_run.m_root;
    const std::string& l_pathsFile = l_run.m_pathsFile;
    const std::string& l_dataFile = l_run.m_dataFile;
    MakeTree(l_root, l_pathsFile);

    // The folders the peers ask for, and the artists.
    std::vector<std::string> l_folders;
    std::vector<std::string> l_artists;
    {
        std::ifstream l_paths(l_pathsFile);
        std::set<std::string> l_seen;
        for (std::string l_path; std::getline(l_paths, l_path);) {
            const std::string l_folder = l_path.substr(0, l_path.rfind('/'));
            const std::string l_artist = l_folder.substr(0, l_folder.rfind('/'));
            if (l_seen.insert(l_folder).second)
                l_folders.push_back(l_folder);
            if (l_seen.insert(l_artist).second)
                l_artists.push_back(l_artist);
        }
    }

    {
        World l_world(l_logs.path(), true);
        ItemPtr l_share = d.GetType("shared_folder")->GetItem(l_root);
        l_share += d.GetType("shared_public")->GetGlobalNullItem();
        l_world.Shares().Init();
        QElapsedTimer l_clock;
        l_clock.start();
        l_world.WaitIdle(l_clock);
        l_world.Saver().Save(l_dataFile.c_str());
    }

    auto lp_world = std::make_unique<World>(l_logs.path(), false, false);
    World& l_world = *lp_world;
    auto lp_page = std::make_unique<DiagnosticsForm>();
    lp_page->resize(1200, 800);
    lp_page->show();
    l_world.Saver().Load(l_dataFile.c_str());
    BenchPeer l_probe;
    if (!Join(l_probe, l_world, "prober"))
        Fail("the measuring peer could not connect");
    Prober l_prober(l_probe, {l_folders.front()});

    // The start-up rescan.
    l_app.TakeLongestNs();
    l_prober.Start();
    QElapsedTimer l_clock;
    l_clock.start();
    l_world.Shares().Init();
    const double l_rescanMs = l_world.WaitIdle(l_clock);
    l_prober.Stop();
    Detail("startup_rescan_ms " + Ms(l_rescanMs) + " longest_gui_event_ms=" + Ms(double(l_app.TakeLongestNs()) / 1e6) +
           " longest_slice_ms=" + Ms(double(l_world.Shares().LongestSliceMs())));
    ReportAnswers("startup_rescan", l_prober);
    Print("startup_rescan_answer_max_ms", Percentile(l_prober.m_times, 1.0), "ms");

    BenchPeer l_browser;
    if (!Join(l_browser, l_world, "browser"))
        Fail("the browsing peer could not connect");
    if (l_runs("browse")) {
        // Browse requests: the first after a change, then a repeated one.
        const auto l_replyKept = [&l_world] {
            return !l_world.Shares().BrowseReplies().IsMaking() && l_world.Shares().BrowseReplies().KeptCount() > 0;
        };
        RunLoopFor(200);
        l_app.TakeLongestNs();
        const Clock::time_point l_buildStart = Clock::now();
        l_browser.Send(QByteArray::fromHex("04000000"));
        if (!RunLoopUntil(l_replyKept, 30000))
            Fail("the browse reply was never made");
        const double l_made = MsSince(l_buildStart);
        const double l_buildBlock = double(l_app.TakeLongestNs()) / 1e6;
        RunLoopFor(200);
        l_app.TakeLongestNs();
        l_browser.Send(QByteArray::fromHex("04000000"));
        RunLoopFor(300);
        const double l_repeatBlock = double(l_app.TakeLongestNs()) / 1e6;
        // What every request cost before replies were kept: the whole reply
        // built and compressed on the GUI thread.
        l_clock.start();
        const MemStream l_synchronous = l_world.Shares().GetSharedFilesMessage("browser");
        const double l_synchronousMs = double(l_clock.nsecsElapsed()) / 1e6;
        l_clock.start();
        const auto l_listing = l_world.Shares().SharedFilesPayload("browser");
        const double l_listingMs = double(l_clock.nsecsElapsed()) / 1e6;
        Detail("browse first_reply_made_ms=" + Ms(l_made) + " synchronous_reply_ms=" + Ms(l_synchronousMs) +
               " listing_build_ms=" + Ms(l_listingMs) + " listing=" +
               std::to_string(l_listing.m_payload.mp_buffer->m_writeIndex) + " bytes reply=" +
               std::to_string(l_synchronous.mp_buffer->m_writeIndex) + " bytes" +
               (l_synchronous.mp_buffer->m_writeIndex == 0 ? " (over the frame limit: not sent)" : ""));
        Print("browse_build_gui_block_ms", l_buildBlock, "ms");
        Print("browse_request_gui_block_ms", l_repeatBlock, "ms");
        l_browser.Drain(100);
    }

    Flooder l_flooder(l_browser);
    if (l_runs("flood")) {
        // The flood, on the whole share and on some 20,000 files.
        Flood(l_prober, l_flooder, l_browser, 20, "100,000 files, over the frame limit");
        ItemPtr l_rootShare = d.GetType("shared_folder")->GetItem(l_root);
        l_rootShare.Disconnect("shared_public");
        l_rootShare += d.GetType("shared_userlist")->GetGlobalNullItem();
        for (std::size_t l_artist = 0; l_artist < 20; ++l_artist)
            d.GetType("shared_folder")->GetItem(l_artists[l_artist]) += d.GetType("shared_public")->GetGlobalNullItem();
        l_world.WaitIdle(l_clock);
        const std::size_t l_seen = l_world.Shares().SharedFilesPayload("browser").m_files;
        Flood(l_prober, l_flooder, l_browser, 20,
              (std::to_string(l_seen) + " files, sent every time").c_str());
    }

    if (l_runs("reply")) {
        // Two folders asked for at once, against acknowledgements held back.
        BenchPeer l_acker;
        if (!Join(l_acker, l_world, "acker"))
            Fail("the delaying peer could not connect");
        l_acker.m_delayAcks = true;
        Prober l_pairs(l_acker, {l_folders[0], l_folders[1]});
        const char* const l_modes[] = {"peer_request_reply_ms", "peer_request_reply_nodelay_off_ms"};
        for (int l_mode = 0; l_mode < 2; ++l_mode) {
            ClientSocketOf("acker")->setSocketOption(QAbstractSocket::LowDelayOption, l_mode == 0 ? 1 : 0);
            l_pairs.Start();
            RunLoopFor(5000);
            l_pairs.Stop();
            ReportAnswers(l_modes[l_mode], l_pairs);
            Print(l_modes[l_mode], Percentile(l_pairs.m_times, 0.5), "ms");
        }
    }

    if (l_runs("sigterm")) {
        // SIGTERM in the middle of a flood.
        TerminationSignals l_signals;
        Clock::time_point l_killed;
        bool l_terminated = false;
        QObject::connect(&l_signals, &TerminationSignals::TerminationRequested, [&l_terminated] { l_terminated = true; });
        l_prober.Start();
        l_flooder.Start();
        RunLoopFor(2000);
        l_killed = Clock::now();
        ::kill(::getpid(), SIGTERM);
        if (!RunLoopUntil([&l_terminated] { return l_terminated; }, 60000))
            Fail("SIGTERM was not honoured within a minute");
        const double l_noticed = MsSince(l_killed);
        lp_page.reset();
        lp_world.reset();
        const double l_exit = MsSince(l_killed);
        l_flooder.Stop();
        l_prober.Stop();
        Detail("sigterm noticed_ms=" + Ms(l_noticed) + " services_gone_ms=" + Ms(l_exit));
        Print("browse_flood_sigterm_exit_ms", l_exit, "ms");
    }
    return 0;
}
