#pragma once

#include "core/io/MemStream.h"

#include <QByteArray>

// The unread bytes of a stream, and a stream holding given bytes.
inline QByteArray Content(const MemStream& i_stream)
{
    return QByteArray(i_stream.GetReadBuffer(), i_stream.GetPendingReadLength());
}

inline MemStream StreamOf(const QByteArray& i_bytes)
{
    MemStream l_stream;
    l_stream.WriteBuffer(i_bytes.constData(), i_bytes.size());
    return l_stream;
}
