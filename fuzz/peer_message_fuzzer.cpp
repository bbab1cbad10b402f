// Feeds arbitrary bytes to the peer layer's frame reader and to the handlers
// of the messages it reads, as a peer on a messaging connection could send
// them. The first byte of an input chooses the road:
//   0: the rest is one frame body on an established messaging connection;
//   1: the rest is a plain byte stream of frames on that connection;
//   2: the same, obfuscated;
//   3: the rest is the first message of a newly accepted connection.
#include "support/MemorySocket.h"
#include "support/PeerHarness.h"

#include "core/log/LogService.h"
#include "core/store/Data.h"
#include "peer/PeerFrameReader.h"
#include "peer/PeerMessenger.h"

#include <QBuffer>
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace
{
// The one user that the messaging connection belongs to; search replies
// must name it, and answer the search of token 1.
const char* const g_peerName = "peer";

class Harness
{
public:
    Harness()
    {
        static int s_argc = 1;
        static char s_name[] = "peer_message_fuzzer";
        static char* s_argv[] = {s_name, nullptr};
        mp_application = new QCoreApplication(s_argc, s_argv);
        // Lines stay in the bounded in-memory history; no files.
        SetLogFolder(QString());
        // What the server link would declare before the peer layer exists.
        d.NewType("user", true, false, true);
        mp_messenger = new MessengerUnderTest;
        mp_socket = new MemorySocket;
        d.GetType("search_request")->NewItem(Value(1u));
    }

    void Run(const uint8_t* ip_data, std::size_t i_size)
    {
        if (i_size == 0)
            return;
        const QByteArray l_bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(ip_data) + 1,
                                                           static_cast<qsizetype>(i_size - 1));
        switch (ip_data[0] & 3) {
        case 0:
            Introduce("peer_socket");
            mp_messenger->HandleMessage(mp_socket, Body(l_bytes));
            break;
        case 1:
        case 2:
            Introduce("peer_socket");
            ReadFrames(l_bytes, (ip_data[0] & 3) == 2);
            break;
        case 3:
            Introduce("uninitialized_socket");
            mp_messenger->HandleMessage(mp_socket, Body(l_bytes));
            break;
        }
        Forget();
    }

private:
    static MemStream Body(const QByteArray& i_bytes)
    {
        MemStream l_body;
        l_body.WriteBuffer(i_bytes.constData(), static_cast<unsigned long>(i_bytes.size()));
        return l_body;
    }

    void Introduce(const char* ip_socketType)
    {
        ItemPtr l_socket = d.GetType(ip_socketType)->NewItem(Value(mp_socket));
        if (std::string(ip_socketType) == "peer_socket") {
            l_socket += d.GetType("user")->GetItem(g_peerName);
            // Listings are read only from users asked for one.
            mp_messenger->GetUserSharedFiles(g_peerName);
        }
    }

    // As the reader of a socket does: frame after frame until the bytes run
    // out or a message is refused.
    void ReadFrames(const QByteArray& i_bytes, bool i_obfuscated)
    {
        QBuffer l_device;
        l_device.setData(i_bytes);
        l_device.open(QIODevice::ReadOnly);
        PeerSocketBufferInfo l_info;
        l_info.m_obfuscated = i_obfuscated;
        qint64 l_available = l_device.size();
        for (;;) {
            MemStream l_message;
            quint32 l_token = 0;
            if (PeerFrameReader::Next(l_info, l_device, l_available, l_message, l_token) != PeerReadStep::Message)
                return;
            if (!mp_messenger->HandleMessage(mp_socket, l_message))
                return;
            PeerFrameReader::MessageDone(l_info);
        }
    }

    // Leaves the store as it was before the input, so that every input runs
    // alone.
    void Forget()
    {
        mp_socket->TakeWritten();
        for (const char* lp_type : {"peer_socket", "uninitialized_socket"}) {
            if (ItemPtr l_item = d.GetType(lp_type)->HasItem(Value(mp_socket)))
                l_item.Remove();
        }
        d.GetType("search_results")->GetItems().Remove();
        ForgetUsersBut(g_peerName);
        d.RemoveDisconnectedItems();
        // What the removal of the connection left for the event loop.
        QCoreApplication::sendPostedEvents();
    }

    QCoreApplication* mp_application;
    MessengerUnderTest* mp_messenger;
    // The connection in question: what the messenger sends on it (the
    // request for a listing among it) is dropped after each input.
    MemorySocket* mp_socket;
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* ip_data, std::size_t i_size)
{
    static Harness s_harness;
    s_harness.Run(ip_data, i_size);
    return 0;
}
