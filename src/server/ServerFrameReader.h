#pragma once

#include <QByteArray>
#include <QtGlobal>

// Cuts the byte stream from the server into frames of
// [u32 length][u32 code][payload]. Bytes are appended as they arrive; Next
// hands out one complete frame at a time.
class ServerFrameReader
{
public:
    // Longer frames are taken for a broken or hostile peer.
    static constexpr quint32 MaxFrameLength = 64u * 1024u * 1024u;

    enum class Result { Frame, NeedMore, Error };

    void Append(const QByteArray& i_bytes);
    // Frame: o_code and o_payload hold the next frame. NeedMore: no complete
    // frame yet. Error: the length field is impossible (under 4 or over the
    // limit); the stream cannot be followed any further.
    Result Next(quint32& o_code, QByteArray& o_payload);
    void Clear();
    qsizetype Buffered() const { return m_buffer.size() - m_readIndex; }

private:
    QByteArray m_buffer;
    qsizetype m_readIndex = 0;
};
