#include "TransferRoad.h"

#include "WireBytes.h"
#include "transfers/TransferStatus.h"

#include <QTcpSocket>

TransferRoad::TransferRoad(bool i_load)
    : m_world(i_load)
{
    if (i_load)
        ConnectBob();
}

void TransferRoad::Load(const QString& i_dataFile)
{
    m_world.Load(i_dataFile);
    ConnectBob();
}

void TransferRoad::ConnectBob()
{
    if (!m_peer.Listen())
        return;
    mp_bob = m_world.Peer().ConnectAs(m_peer, "bob");
    TransfersTestWorld::SetOnline("bob");
    m_world.Peer().GiveAddress("bob", PeerTestWorld::Loopback, m_peer.Port(), 0);
}

QByteArray TransferRoad::Offer(quint32 i_token, const std::string& i_path, qint64 i_size)
{
    const qsizetype l_before = FramesWithCode(41).size();
    mp_bob->SendFrame(OfferBody(i_token, i_path, i_size));
    PeerTestWorld::WaitFor([&] { return FramesWithCode(41).size() > l_before; });
    return FramesWithCode(41).value(l_before);
}

FakePeerConnection* TransferRoad::Open(const std::string& i_user, quint32 i_token)
{
    FakePeerConnection* lp_file = m_peer.ConnectTo(m_world.Peer().PlainPort(), false);
    if (lp_file)
        lp_file->SendRaw(FileConnectionOpening(i_user, i_token));
    return lp_file;
}

bool TransferRoad::Deliver(quint32 i_token, const QByteArray& i_bytes, ItemPtr i_download)
{
    FakePeerConnection* lp_file = Open("bob", i_token);
    if (!lp_file || !lp_file->WaitForBytes(8))
        return false;
    lp_file->SendRaw(i_bytes);
    return Reaches(i_download, TransferStatus::Complete);
}

qint64 TransferRoad::OffsetFor(const std::string& i_user, quint32 i_token, FakePeerConnection** op_file)
{
    FakePeerConnection* lp_file = Open(i_user, i_token);
    if (op_file)
        *op_file = lp_file;
    if (!lp_file || !lp_file->WaitForBytes(8))
        return -1;
    return WireReader(lp_file->Received()).I64();
}

bool TransferRoad::BreakOff(quint32 i_token, const QByteArray& i_bytes, ItemPtr i_download)
{
    FakePeerConnection* lp_file = nullptr;
    if (OffsetFor("bob", i_token, &lp_file) < 0)
        return false;
    lp_file->SendRaw(i_bytes);
    lp_file->Socket()->disconnectFromHost();
    return Reaches(i_download, TransferStatus::Aborted);
}

std::string TransferRoad::Share(const QString& i_name, const QByteArray& i_bytes)
{
    TransfersTestWorld::MakeFile(m_files.filePath(i_name), i_bytes);
    const std::string l_folder = m_files.path().toStdString();
    TransfersTestWorld::ShareFile(l_folder, i_name.toStdString(), i_bytes.size(), l_folder);
    return l_folder + "/" + i_name.toStdString();
}

quint32 TransferRoad::Ask(const std::string& i_path)
{
    const qsizetype l_before = FramesWithCode(40).size();
    mp_bob->SendFrame(MessageBody(43, i_path));
    if (!PeerTestWorld::WaitFor([&] { return FramesWithCode(40).size() > l_before; }))
        return 0;
    WireReader l_offer(FramesWithCode(40).value(l_before));
    l_offer.U32();
    l_offer.U32();
    return l_offer.U32();
}

void TransferRoad::Answer(quint32 i_token, bool i_accepted, const std::string& i_reason)
{
    WireWriter l_answer;
    l_answer.U32(41).U32(i_token).U8(i_accepted ? 1 : 0);
    if (!i_accepted)
        l_answer.Str(i_reason);
    mp_bob->SendFrame(l_answer);
}

FakePeerConnection* TransferRoad::TakeFileConnection(quint32& o_token)
{
    FakePeerConnection* lp_file = m_peer.WaitForConnection(false);
    if (!lp_file || !lp_file->WaitForBytes(4))
        return nullptr;
    // Our introduction, then the token, raw.
    const qsizetype l_introduction = 4 + WireReader(lp_file->Received()).U32();
    if (!lp_file->WaitForBytes(int(l_introduction + 4)))
        return nullptr;
    o_token = WireReader(lp_file->Received().mid(l_introduction)).U32();
    return lp_file;
}

QList<QByteArray> TransferRoad::FramesWithCode(FakePeerConnection* ip_far, quint32 i_code)
{
    QList<QByteArray> l_frames;
    for (const QByteArray& l_frame : ip_far->Frames()) {
        if (WireReader(l_frame).U32() == i_code)
            l_frames.append(l_frame);
    }
    return l_frames;
}

std::string TransferRoad::StatusOf(ItemPtr i_entry)
{
    const std::string l_download = i_entry["download_entry_status"].AsString();
    return l_download.empty() ? i_entry["upload_entry_status"].AsString() : l_download;
}

bool TransferRoad::Reaches(ItemPtr i_entry, const char* ip_status)
{
    return PeerTestWorld::WaitFor([&] { return StatusOf(i_entry) == ip_status; });
}
