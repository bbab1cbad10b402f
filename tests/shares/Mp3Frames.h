#pragma once

// Hand-made MPEG audio frame headers for the scanner's tests.

#include <QByteArray>

struct FrameHeader
{
    int m_version = 1;  // 1, 2, 25 (MPEG 2.5) or 0 (the reserved value)
    int m_layer = 3;
    int m_protectionBit = 1;
    int m_bitrateIndex = 9;  // 128 kbit/s for MPEG 1
    int m_frequency = 0;
    int m_mode = 1;  // joint stereo

    // A copy with one field changed: Cbr128.With(&FrameHeader::m_mode, 3).
    FrameHeader With(int FrameHeader::*ip_field, int i_value) const
    {
        FrameHeader l_header = *this;
        l_header.*ip_field = i_value;
        return l_header;
    }

    QByteArray Bytes() const
    {
        const int l_versionBits = m_version == 1 ? 3 : m_version == 2 ? 2 : m_version == 25 ? 0 : 1;
        const char l_bytes[4] = {char(0xFF), char(0xE0 | l_versionBits << 3 | (4 - m_layer) << 1 | m_protectionBit),
                                 char(m_bitrateIndex << 4 | m_frequency << 2), char(m_mode << 6)};
        return QByteArray(l_bytes, 4);
    }
};

// i_count frames of that header, each followed by i_padding zero bytes.
inline QByteArray Frames(const FrameHeader& i_header, int i_count, int i_padding = 12)
{
    return (i_header.Bytes() + QByteArray(i_padding, '\0')).repeated(i_count);
}
