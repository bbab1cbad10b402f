// Hostile peer messages through the peer layer and the store, without a
// network or a view, one figure a line, name first:
//
//   search_reply_16k_ms      one search reply of 16,384 results into a live
//   search_reply_32k_ms      search, from inflation until its items stand;
//   search_reply_65k_ms      32,768 and 65,536 files likewise (of 65,536
//                            files the search keeps its bound, 50,000)
//   listing_bomb_block_ms    a 66 MB listing (63 files of 131,072 attribute
//                            pairs each) asked for and then handled
//   listing_bomb_inflate_ms  the inflation of that listing alone
//   listing_bomb_rss_growth_mb  resident memory after the listing was
//                            handled, less before
#include "core/log/LogService.h"
#include "core/store/Data.h"
#include "peer/PeerInflate.h"
#include "peer/PeerMessenger.h"
#include "peer/PeerSearchBound.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace
{
const char* const g_peerName = "peer";

class MessengerUnderTest : public PeerMessenger
{
public:
    using PeerMessenger::HandleMessage;
};

class Wire
{
public:
    Wire& U8(quint8 i_value) { m_bytes.append(char(i_value)); return *this; }
    Wire& U32(quint32 i_value)
    {
        char l_bytes[4];
        qToLittleEndian(i_value, l_bytes);
        m_bytes.append(l_bytes, 4);
        return *this;
    }
    Wire& I64(qint64 i_value)
    {
        char l_bytes[8];
        qToLittleEndian(i_value, l_bytes);
        m_bytes.append(l_bytes, 8);
        return *this;
    }
    Wire& Str(const std::string& i_text)
    {
        U32(quint32(i_text.size()));
        m_bytes.append(i_text.data(), qsizetype(i_text.size()));
        return *this;
    }
    QByteArray m_bytes;
};

QByteArray Compressed(const QByteArray& i_plain)
{
    uLongf l_size = compressBound(uLong(i_plain.size()));
    QByteArray l_out(qsizetype(l_size), '\0');
    compress2(reinterpret_cast<Bytef*>(l_out.data()), &l_size, reinterpret_cast<const Bytef*>(i_plain.constData()),
              uLong(i_plain.size()), 9);
    l_out.resize(qsizetype(l_size));
    return l_out;
}

MemStream Message(quint32 i_code, const QByteArray& i_plain)
{
    Wire l_body;
    l_body.U32(i_code);
    l_body.m_bytes += Compressed(i_plain);
    MemStream l_message;
    l_message.WriteBuffer(l_body.m_bytes.constData(), static_cast<unsigned long>(l_body.m_bytes.size()));
    return l_message;
}

double ResidentMb()
{
    std::ifstream l_status("/proc/self/status");
    std::string l_line;
    while (std::getline(l_status, l_line)) {
        if (l_line.rfind("VmRSS:", 0) == 0)
            return std::atol(l_line.c_str() + 6) / 1024.0;
    }
    return 0;
}

double SearchReplyMs(MessengerUnderTest& io_messenger, QTcpSocket* ip_socket, quint32 i_token, int i_results)
{
    ItemPtr l_search = d.GetType("search_request")->NewItem(Value(i_token));
    Wire l_plain;
    l_plain.Str(g_peerName).U32(i_token).U32(quint32(i_results));
    for (int l_index = 0; l_index < i_results; ++l_index) {
        l_plain.U8(1).Str("music\\album " + std::to_string(l_index / 20) + "\\track " + std::to_string(l_index) + ".mp3");
        l_plain.I64(4000000 + l_index).Str("mp3").U32(2).U32(0).U32(320).U32(1).U32(240);
    }
    l_plain.U8(1).U32(100000).U32(0).U32(0);
    const MemStream l_message = Message(9, l_plain.m_bytes);
    QElapsedTimer l_timer;
    l_timer.start();
    io_messenger.HandleMessage(ip_socket, l_message);
    const double l_ms = double(l_timer.nsecsElapsed()) / 1e6;
    const std::size_t l_made = l_search.GetItems("search_results").GetItems("search_result").size();
    const std::size_t l_expected = std::min(std::size_t(i_results), PeerSearchBound::MaxResults);
    if (l_made != l_expected)
        std::fprintf(stderr, "%zu results expected, %zu made\n", l_expected, l_made);
    l_search.GetItems("search_results").GetItems("search_result").Remove();
    l_search.GetItems("search_results").Remove();
    l_search.Remove();
    d.RemoveDisconnectedItems();
    return l_ms;
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    QCoreApplication l_application(i_argc, ip_argv);
    SetLogFolder(QString());
    d.NewType("user", true, false, true);
    MessengerUnderTest l_messenger;
    // The messenger deletes the peer sockets it has on record when it goes,
    // as it does the program's own.
    auto* lp_socket = new QTcpSocket;
    d.GetType("peer_socket")->NewItem(Value(lp_socket)) += d.GetType("user")->GetItem(g_peerName);

    quint32 l_token = 1;
    for (const auto& [lp_name, l_results] : {std::pair{"search_reply_16k_ms", 16384}, std::pair{"search_reply_32k_ms", 32768},
                                              std::pair{"search_reply_65k_ms", 65536}})
        std::printf("%s %.1f\n", lp_name, SearchReplyMs(l_messenger, lp_socket, l_token++, l_results));

    Wire l_bomb;
    l_bomb.U32(1).Str("bomb").U32(63);
    for (int l_file = 0; l_file < 63; ++l_file) {
        l_bomb.U8(1).Str("file " + std::to_string(l_file)).I64(1).Str("mp3").U32(131072);
        for (int l_pair = 0; l_pair < 131072; ++l_pair)
            l_bomb.U32(0).U32(0);
    }
    l_bomb.U32(0);
    const MemStream l_listing = Message(5, l_bomb.m_bytes);
    std::fprintf(stderr, "listing: %lld bytes compressed, %lld inflated\n", (long long)l_listing.mp_buffer->m_writeIndex,
                 (long long)l_bomb.m_bytes.size());
    l_bomb = Wire();

    QElapsedTimer l_timer;
    {
        MemStream l_payload;
        l_timer.start();
        PeerInflate::Inflate(l_listing.mp_buffer->mp_buffer + 4, l_listing.mp_buffer->m_writeIndex - 4, l_payload);
    }
    const double l_inflateMs = double(l_timer.nsecsElapsed()) / 1e6;

    l_messenger.GetUserSharedFiles(g_peerName);
    const double l_rssBefore = ResidentMb();
    l_timer.start();
    l_messenger.HandleMessage(lp_socket, l_listing);
    const double l_blockMs = double(l_timer.nsecsElapsed()) / 1e6;
    const double l_rssAfter = ResidentMb();
    std::printf("listing_bomb_block_ms %.1f\n", l_blockMs);
    std::printf("listing_bomb_inflate_ms %.1f\n", l_inflateMs);
    std::printf("listing_bomb_rss_growth_mb %.1f\n", l_rssAfter - l_rssBefore);
    return 0;
}
