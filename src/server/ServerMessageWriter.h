#pragma once

#include "core/io/MemStream.h"

#include <QByteArray>
#include <QtGlobal>

#include <string>

// Builds the payload of one message to the server, field by field, in the
// wire encoding of the streams; Frame wraps a payload as the server expects.
class ServerMessageWriter
{
public:
    ServerMessageWriter& U8(quint8 i_value);
    ServerMessageWriter& U32(quint32 i_value);
    ServerMessageWriter& I32(qint32 i_value);
    ServerMessageWriter& I64(qint64 i_value);
    ServerMessageWriter& Str(const std::string& i_text);

    QByteArray Payload() const;

    // [u32 length][u32 code][payload], the length counting code and payload.
    static QByteArray Frame(quint32 i_code, const QByteArray& i_payload);

private:
    MemStream m_stream;
};
