#pragma once

#include <QByteArray>
#include <QtGlobal>

// Cuts a byte stream into frames of [u32 length][code][payload], the length
// counting code and payload, little-endian. Bytes are appended as they
// arrive; Next hands out one complete frame at a time. The server protocol
// has 4-byte codes, the distributed network 1-byte ones.
//
// A payload at least as long as the bytes buffered after it is handed out in
// the buffer's own storage, so a frame of many megabytes is never copied;
// the few bytes after it move to a new buffer instead. Shorter payloads are
// copied out, which keeps the copying linear in the bytes received.
class FrameReader
{
public:
    enum class Result { Frame, NeedMore, Error };

    FrameReader(int i_codeBytes, quint32 i_maxLength) : m_codeBytes(i_codeBytes), m_maxLength(i_maxLength) {}

    void Append(const QByteArray& i_bytes);
    // Takes over the bytes' storage when nothing is buffered.
    void Append(QByteArray&& i_bytes);
    // Frame: o_code and o_payload hold the next frame. NeedMore: no complete
    // frame yet. Error: the length cannot hold a code or passes the limit;
    // the stream cannot be followed any further.
    Result Next(quint32& o_code, QByteArray& o_payload);
    void Clear();
    qsizetype Buffered() const { return m_buffer.size() - m_readIndex; }

private:
    QByteArray m_buffer;
    qsizetype m_readIndex = 0;
    int m_codeBytes;
    quint32 m_maxLength;
};
