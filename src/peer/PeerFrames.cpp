// Writing frames, and reading them off the sockets the messenger reads.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerFrameCodec.h"
#include "peer/PeerItems.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>

using namespace PeerItems;

bool PeerMessenger::SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate, bool* op_went)
{
    if (op_went)
        *op_went = true;
    // A connection taken down, while a queue was flushed to it say, gets
    // nothing more: the caller keeps what it did not send.
    if (!ip_socket->isOpen())
        return false;
    const MemStream::Buffer& l_buffer = *i_message.mp_buffer;
    const quint32 l_mask = i_obfuscate ? PeerFrameCodec::MakeMask() : 0;
    const QByteArray l_frame = PeerFrameCodec::EncodeFrame(l_buffer.mp_buffer, static_cast<quint32>(l_buffer.m_writeIndex),
                                                           i_obfuscate, l_mask);
    if (ip_socket->write(l_frame) == -1) {
        Log(LogArea, 1, QString("Error writing message to socket: %1").arg(ip_socket->errorString()));
        return false;
    }
    // A small message goes out now, not after whatever the next turn of the
    // event loop runs first (a slice of a rescan, say); large ones and a
    // backlog are written by the event loop as the peer takes them.
    if (ip_socket->bytesToWrite() <= FlushAtOnceBytes)
        ip_socket->flush();
    // The peer may have reset the connection: its error, raised within the
    // flush, took it down, and the message went with it.
    if (!ip_socket->isOpen())
        return false;
    if (op_went)
        *op_went = false;
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
    m_networkShare.Sent(ip_socket, PeerNowMs(), BytesReceived(ip_socket));
    m_rules.Answered(ip_socket);
    return true;
}

qint64 PeerMessenger::BytesReceived(QTcpSocket* ip_socket) const
{
    const auto l_record = m_socketBufferInfoMap.find(ip_socket);
    const qint64 l_taken = l_record == m_socketBufferInfoMap.end() ? 0 : l_record->second.m_bytesTaken;
    return l_taken + ip_socket->bytesAvailable();
}

void PeerMessenger::OnSocketReadyToRead()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(lp_socket);
}

void PeerMessenger::ReadFrames(QTcpSocket* ip_socket)
{
    auto l_record = m_socketBufferInfoMap.find(ip_socket);
    if (l_record == m_socketBufferInfoMap.end()) {
        SocketBufferInfo l_info;
        ItemPtr l_item = SocketItem("uninitialized_socket", ip_socket);
        if (l_item)
            l_info.m_lengthLimit = PeerFirstMessage::MaxLength;
        else
            l_item = SocketItem("peer_socket", ip_socket);
        l_info.m_obfuscated = l_item.IsConnected("is_obfuscated");
        l_record = m_socketBufferInfoMap.emplace(ip_socket, l_info).first;
    }

    qint64 l_available = ip_socket->bytesAvailable();
    if (l_available == 0)
        return;

    QElapsedTimer l_clock;
    l_clock.start();
    for (int l_frames = 0;; ++l_frames) {
        if (l_frames == FramesPerTurn || l_clock.elapsed() >= ReadBudgetMs) {
            if (l_available == 0)
                return;
            // The socket reports nothing new for bytes it already holds:
            // come back for them ourselves, once.
            if (!l_record->second.m_readDeferred) {
                l_record->second.m_readDeferred = true;
                QMetaObject::invokeMethod(this, [this, l_socket = QPointer<QTcpSocket>(ip_socket)] {
                    auto l_deferred = m_socketBufferInfoMap.find(l_socket.data());
                    // Gone, or disposed of or handed over meanwhile.
                    if (!l_socket || l_deferred == m_socketBufferInfoMap.end())
                        return;
                    l_deferred->second.m_readDeferred = false;
                    ReadFrames(l_socket);
                }, Qt::QueuedConnection);
            }
            return;
        }
        MemStream l_message;
        quint32 l_token = 0;
        const qint64 l_before = l_available;
        const PeerReadStep l_step = PeerFrameReader::Next(l_record->second, *ip_socket, l_available, l_message, l_token);
        l_record->second.m_bytesTaken += l_before - l_available;
        switch (l_step) {
        case PeerReadStep::NeedMore:
            return;
        case PeerReadStep::TooLong:
        case PeerReadStep::ReadError:
            DisposeOfSocket(ip_socket);
            return;
        case PeerReadStep::Token: {
            const std::string l_user = l_record->second.m_user;
            // Heard out at the bound: only a token of ours keeps it.
            if (m_heardOut.Counts(ip_socket) && !EndTokenWait(ip_socket, l_user, l_token)) {
                CountRefusedHeard();
                DisposeOfSocket(ip_socket, false);
                return;
            }
            l_record = m_socketBufferInfoMap.find(ip_socket);
            if (l_record == m_socketBufferInfoMap.end())
                return;
            QObject::disconnect(ip_socket, nullptr, nullptr, nullptr);
            m_socketBufferInfoMap.erase(l_record);
            m_idleWatch.Forget(ip_socket);
            EndFileWait(ip_socket);
            // Bytes after the token stay in the socket for the receiver.
            ip_socket->setParent(nullptr);
            emit FileConnectionRequested(l_user, ip_socket, l_token);
            return;
        }
        case PeerReadStep::Message:
            break;
        }

        const bool l_handled = HandleMessage(ip_socket, l_message);
        // The dispatch and the receivers of what it emitted may have taken
        // the socket down or away: go on only while its record is there.
        l_record = m_socketBufferInfoMap.find(ip_socket);
        if (l_record == m_socketBufferInfoMap.end())
            return;
        if (!l_handled) {
            QObject::disconnect(ip_socket, nullptr, nullptr, nullptr);
            DisposeOfSocket(ip_socket, !l_record->second.m_disposeQuietly);
            return;
        }
        if (l_record->second.m_abandonSocket) {
            // What follows this frame belongs to the socket's new owner.
            m_socketBufferInfoMap.erase(l_record);
            m_idleWatch.Forget(ip_socket);
            return;
        }
        PeerFrameReader::MessageDone(l_record->second);
        // The first message, if this was it, introduced the connection.
        l_record->second.m_lengthLimit = PeerFrameCodec::MaxBodyLength;
    }
}
