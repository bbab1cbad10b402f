// Writing frames, and reading them off the sockets the messenger reads.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerFrameCodec.h"
#include "peer/PeerItems.h"

#include <QTcpSocket>

using namespace PeerItems;

bool PeerMessenger::SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate)
{
    const MemStream::Buffer& l_buffer = *i_message.mp_buffer;
    const quint32 l_mask = i_obfuscate ? PeerFrameCodec::MakeMask() : 0;
    const QByteArray l_frame = PeerFrameCodec::EncodeFrame(l_buffer.mp_buffer, static_cast<quint32>(l_buffer.m_writeIndex),
                                                           i_obfuscate, l_mask);
    if (ip_socket->write(l_frame) == -1) {
        Log(LogArea, 1, QString("Error writing message to socket: %1").arg(ip_socket->errorString()));
        return false;
    }
    if (ip_socket->bytesToWrite() > MaxUnsentBytes) {
        if (ItemPtr l_connection = SocketItem("peer_socket", ip_socket)) {
            ItemPtr l_user = l_connection["user"];
            Log(LogArea, 1,
                QString("Peer connection to user %1 does not take what we send (%2 bytes waiting), closing.")
                    .arg(Text(l_user))
                    .arg(ip_socket->bytesToWrite()),
                l_user);
            // close() would wait for the unsent bytes for ever.
            QObject::disconnect(ip_socket, nullptr, this, nullptr);
            ip_socket->abort();
            DisposeOfSocket(ip_socket);
            return false;
        }
    }
    return true;
}

void PeerMessenger::OnSocketReadyToRead()
{
    auto* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;

    auto l_record = m_socketBufferInfoMap.find(lp_socket);
    if (l_record == m_socketBufferInfoMap.end()) {
        SocketBufferInfo l_info;
        ItemPtr l_item = SocketItem("uninitialized_socket", lp_socket);
        if (l_item)
            l_info.m_lengthLimit = PeerFirstMessage::MaxLength;
        else
            l_item = SocketItem("peer_socket", lp_socket);
        l_info.m_obfuscated = l_item.IsConnected("is_obfuscated");
        l_record = m_socketBufferInfoMap.emplace(lp_socket, l_info).first;
    }

    qint64 l_available = lp_socket->bytesAvailable();
    if (l_available == 0)
        return;

    for (;;) {
        MemStream l_message;
        quint32 l_token = 0;
        switch (PeerFrameReader::Next(l_record->second, *lp_socket, l_available, l_message, l_token)) {
        case PeerReadStep::NeedMore:
            return;
        case PeerReadStep::TooLong:
        case PeerReadStep::ReadError:
            DisposeOfSocket(lp_socket);
            return;
        case PeerReadStep::Token: {
            const std::string l_user = l_record->second.m_user;
            QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
            m_socketBufferInfoMap.erase(l_record);
            m_idleWatch.Forget(lp_socket);
            // Bytes after the token stay in the socket for the receiver.
            lp_socket->setParent(nullptr);
            emit FileConnectionRequested(l_user, lp_socket, l_token);
            return;
        }
        case PeerReadStep::Message:
            break;
        }

        const bool l_handled = HandleMessage(lp_socket, l_message);
        // The dispatch and the receivers of what it emitted may have taken
        // the socket down or away: go on only while its record is there.
        l_record = m_socketBufferInfoMap.find(lp_socket);
        if (l_record == m_socketBufferInfoMap.end())
            return;
        if (!l_handled) {
            QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
            DisposeOfSocket(lp_socket);
            return;
        }
        if (l_record->second.m_abandonSocket) {
            // What follows this frame belongs to the socket's new owner.
            m_socketBufferInfoMap.erase(l_record);
            m_idleWatch.Forget(lp_socket);
            return;
        }
        PeerFrameReader::MessageDone(l_record->second);
        // The first message, if this was it, introduced the connection.
        l_record->second.m_lengthLimit = PeerFrameCodec::MaxBodyLength;
    }
}
