#pragma once

#include "server/FrameReader.h"

// The server's frames: [u32 length][u32 code][payload].
class ServerFrameReader : public FrameReader
{
public:
    // Longer frames are taken for a broken or hostile peer.
    static constexpr quint32 MaxFrameLength = 64u * 1024u * 1024u;

    ServerFrameReader() : FrameReader(4, MaxFrameLength) {}
};
