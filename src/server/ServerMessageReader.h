#pragma once

#include "core/io/ByteArrayInputStream.h"

#include <QByteArray>
#include <QtGlobal>

#include <limits>
#include <string>
#include <vector>

class UserStats;

// Reads the fields of one message from the server. The first field that
// cannot be read (the payload ends early, or a string or count is over the
// stream limits) marks the reader failed; later reads then fail too, so a
// handler reads every field and checks Ok() once before it acts. The
// payload is read in place: the reader shares it and copies none of it.
class ServerMessageReader
{
public:
    explicit ServerMessageReader(const QByteArray& i_payload);

    ServerMessageReader& U8(quint8& o_value);
    ServerMessageReader& U32(quint32& o_value);
    ServerMessageReader& I32(qint32& o_value);
    ServerMessageReader& I64(qint64& o_value);
    ServerMessageReader& Str(std::string& o_text);
    ServerMessageReader& Stats(UserStats& o_stats);
    // [u32 n][n × element]; n is bounded by the stream limit.
    ServerMessageReader& StrList(std::vector<std::string>& o_list);
    ServerMessageReader& U32List(std::vector<quint32>& o_list);
    ServerMessageReader& StatsList(std::vector<UserStats>& o_list);

    bool Ok() const { return m_ok; }
    // Frames stay far below 2 GiB; more would read as the most qint32 holds.
    qint32 Remaining() const
    {
        return static_cast<qint32>(qMin<qsizetype>(m_stream.GetPendingReadLength(), std::numeric_limits<qint32>::max()));
    }
    bool AtEnd() const { return Remaining() == 0; }

private:
    bool ReadCount(quint32& o_count);
    template <typename T>
    ServerMessageReader& List(std::vector<T>& o_list, ServerMessageReader& (ServerMessageReader::*ip_readElement)(T&));

    ByteArrayInputStream m_stream;
    bool m_ok = true;
};
