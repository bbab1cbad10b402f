// What the honest peers of each bound run are and do: BoundPeers' own
// statics, which the client's side of a run reads too.
#include "BoundPeers.h"

#include "BenchPeerWire.h"

using BenchPeerWire::Loopback;

int BoundPeers::HonestPeers(BoundHostile::Kind i_kind)
{
    return i_kind == BoundHostile::Kind::Namesake ? 2 : 6;
}

int BoundPeers::HonestStartMs(BoundHostile::Kind i_kind)
{
    return i_kind == BoundHostile::Kind::FileFill ? 90000 : 10000;
}

std::string BoundPeers::HonestUser(int i_index)
{
    return "honest " + std::to_string(i_index);
}

quint32 BoundPeers::HonestAddress(BoundHostile::Kind i_kind, int i_index)
{
    return Loopback(0, i_kind == BoundHostile::Kind::Namesake ? 1 + i_index : 1, 100 + i_index);
}

QByteArray BoundPeers::FileBytes(qint64 i_size)
{
    QByteArray l_bytes(i_size, Qt::Uninitialized);
    for (qint64 l_at = 0; l_at < i_size; ++l_at)
        l_bytes[l_at] = char((l_at * 131 + l_at / 251 + 7) & 0xFF);
    return l_bytes;
}

bool BoundPeers::Relayed(BoundHostile::Kind i_kind)
{
    return i_kind == BoundHostile::Kind::Relay || i_kind == BoundHostile::Kind::RelayNets;
}

bool BoundPeers::LogsIn(BoundHostile::Kind i_kind)
{
    return Relayed(i_kind) || i_kind == BoundHostile::Kind::Claims;
}

bool BoundPeers::OwnListeners(BoundHostile::Kind i_kind)
{
    return i_kind == BoundHostile::Kind::Shared || i_kind == BoundHostile::Kind::Namesake
           || i_kind == BoundHostile::Kind::Claims || i_kind == BoundHostile::Kind::FileFill;
}

bool BoundPeers::Fetches(BoundHostile::Kind i_kind, int i_index)
{
    return i_kind != BoundHostile::Kind::Namesake || i_index == 1;
}

bool BoundPeers::Shares(BoundHostile::Kind i_kind, int i_index)
{
    return i_kind == BoundHostile::Kind::Namesake ? i_index == 0 : OwnListeners(i_kind);
}

int BoundPeers::ClientFiles(BoundHostile::Kind i_kind)
{
    return OwnListeners(i_kind) ? 2 : 1;
}

std::string BoundPeers::ClientFileName(int i_index)
{
    return "small file " + std::to_string(i_index + 1) + ".bin";
}
