#pragma once

#include "PeerTestWorld.h"
#include "WireBytes.h"

#include <QByteArray>
#include <QString>

#include <string>

// A loaded test world with one plain messaging connection that the far end,
// user "bob", opened to us: the stage of every received peer message.
class PeerConversation
{
public:
    PeerConversation();

    PeerTestWorld m_world;
    FakePeer m_peer;
    FakePeerConnection* mp_far = nullptr;

    PeerMessenger& Messenger() { return m_world.Messenger(); }

    // The connection stands and was introduced.
    bool Ready() const { return mp_far != nullptr; }

    // Sends one frame body and waits until the messenger has taken it: it
    // logs at least one line for every frame, all while it handles it.
    bool Send(const QByteArray& i_body);

    // The connection still stands: a later message is still read on it.
    bool StillOpen();
    // The messenger closed the connection and forgot its socket.
    bool Closed();
    // The lines logged while the last frame sent was handled, without the
    // receipt line.
    QStringList LinesAfterReceipt() const { return m_linesAfterReceipt; }

private:
    QStringList m_linesAfterReceipt;
};

// The bytes a peer puts after a compressed payload's code: the zlib stream
// alone, as another client's compressor writes it.
QByteArray Compressed(const QByteArray& i_plain);
