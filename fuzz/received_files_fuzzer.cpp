// Feeds arbitrary inflated bodies of the two messages that carry another
// user's files, a share listing (code 5) and a search reply (code 9), to the
// peer layer: the harness deflates the body, and the message goes the whole
// way a received one goes (its code read, the payload inflated and read,
// the files kept: the reply's results in the store under the live search of
// token 1). The first byte chooses the message (bit 0: a search reply, else
// a listing, which the peer was asked for). Beyond not crashing, the heap
// that handling the message takes at its peak stays within a bound
// proportional to the inflated body: no reading, however built, may turn a
// few bytes into much memory.
#include "support/FuzzSupport.h"
#include "support/MemorySocket.h"
#include "support/PeerHarness.h"

#include "HeapMeter.h"
#include "core/store/Data.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerMessenger.h"

#include <QCoreApplication>

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace
{
const char* const g_peerName = "peer";

// The bound: so many heap bytes per byte of inflated body, above a fixed
// allowance for the message's own framing, the log lines and the store's
// first items. A search reply of the smallest records (one result each, in
// the store) takes about 30 bytes per byte, a listing about 10.
constexpr qint64 g_bytesPerBodyByte = 64;
constexpr qint64 g_fixedBytes = 1 << 20;

class Harness
{
public:
    Harness()
    {
        StartFuzzApplication("received_files_fuzzer");
        FillLogHistory({"Peer Messenger"});
        // What the server link would declare before the peer layer exists.
        d.NewType("user", true, false, true);
        mp_messenger = new MessengerUnderTest;
        d.GetType("search_request")->NewItem(Value(1u));
        if (!HeapMeter::Available())
            OracleFailed("set-up: the heap cannot be measured without AddressSanitizer");
    }

    void Run(const std::uint8_t* ip_data, std::size_t i_size)
    {
        if (i_size == 0)
            return;
        const bool l_reply = ip_data[0] & 1;
        const MemStream l_message = Message(l_reply ? PeerMessageCodes::FileSearchResult : PeerMessageCodes::SharedFileList,
                                            ip_data + 1, i_size - 1);
        ItemPtr l_socket = d.GetType("peer_socket")->NewItem(Value(&m_socket));
        l_socket += d.GetType("user")->GetItem(g_peerName);
        if (!l_reply)
            mp_messenger->GetUserSharedFiles(g_peerName);

        const qint64 l_bound = g_fixedBytes + g_bytesPerBodyByte * qint64(i_size - 1);
        {
            HeapMeter l_meter;
            mp_messenger->HandleMessage(&m_socket, l_message);
            if (l_meter.Peak() > l_bound)
                OracleFailed("a " + std::string(l_reply ? "search reply" : "listing") + " of " + std::to_string(i_size - 1) +
                                 " inflated bytes took more heap than its bound",
                             std::to_string(l_meter.Peak()) + " bytes at the peak, bound " + std::to_string(l_bound));
        }

        // Every input runs alone.
        m_socket.TakeWritten();
        if (ItemPtr l_left = d.GetType("peer_socket")->HasItem(Value(&m_socket)))
            l_left.Remove();
        d.GetType("search_results")->GetItems().Remove();
        // A reply may name any user.
        ForgetUsersBut(g_peerName);
        d.RemoveDisconnectedItems();
        // What the removal of the connection left for the event loop.
        QCoreApplication::sendPostedEvents();
    }

private:
    // The code, then the body deflated as a peer would send it.
    static MemStream Message(unsigned int i_code, const std::uint8_t* ip_body, std::size_t i_size)
    {
        uLongf l_deflatedSize = compressBound(uLong(i_size));
        QByteArray l_deflated(qsizetype(l_deflatedSize), Qt::Uninitialized);
        if (compress2(reinterpret_cast<Bytef*>(l_deflated.data()), &l_deflatedSize, ip_body, uLong(i_size), 1) != Z_OK)
            OracleFailed("set-up: the body does not deflate");
        MemStream l_message;
        l_message.Write(i_code);
        l_message.WriteBuffer(l_deflated.constData(), static_cast<unsigned long>(l_deflatedSize));
        return l_message;
    }

    MessengerUnderTest* mp_messenger = nullptr;
    // The messaging connection to the peer: the request for a listing goes
    // out on it rather than waiting in a queue.
    MemorySocket m_socket;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* ip_data, std::size_t i_size)
{
    return RunInput<Harness>(ip_data, i_size);
}
