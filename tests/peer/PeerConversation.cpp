#include "PeerConversation.h"

#include "LoopbackPorts.h"

#include <zlib.h>

PeerConversation::PeerConversation()
{
    m_world.Load();
    FakePeerConnection* lp_far = m_peer.ConnectTo(m_world.PlainPort(), false);
    if (!lp_far)
        return;
    lp_far->SendFrame(WireWriter().U8(1).Str("bob").Str("P").U32(0));
    if (PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 1; }))
        mp_far = lp_far;
    // The server knows bob where he connects from: what we send him goes
    // on this connection.
    m_world.GiveAddress("bob", PeerTestWorld::Loopback, ClosedLoopbackPort(), 0);
    m_world.ClearLog();
}

bool PeerConversation::Send(const QByteArray& i_body)
{
    m_world.ClearLog();
    mp_far->SendFrame(i_body);
    if (!PeerTestWorld::WaitFor([&] { return !m_world.Log().empty(); }))
        return false;
    m_linesAfterReceipt = m_world.LogTexts();
    if (m_linesAfterReceipt.front().startsWith("Received "))
        m_linesAfterReceipt.removeFirst();
    return true;
}

bool PeerConversation::StillOpen()
{
    const QString l_receipt = "Received PM_SAY message from user bob";
    const int l_before = m_world.Count(l_receipt);
    mp_far->SendFrame(WireWriter().U32(1));
    return PeerTestWorld::WaitFor([&] { return m_world.Count(l_receipt) == l_before + 1; })
        && PeerTestWorld::ItemCount("peer_socket") == 1;
}

bool PeerConversation::Closed()
{
    return mp_far->WaitForDisconnect()
        && PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 0; });
}

QByteArray Compressed(const QByteArray& i_plain)
{
    uLongf l_size = compressBound(static_cast<uLong>(i_plain.size()));
    QByteArray l_out(static_cast<qsizetype>(l_size), '\0');
    if (compress2(reinterpret_cast<Bytef*>(l_out.data()), &l_size, reinterpret_cast<const Bytef*>(i_plain.constData()),
                  static_cast<uLong>(i_plain.size()), 9)
        != Z_OK)
        return {};
    l_out.resize(static_cast<qsizetype>(l_size));
    return l_out;
}
