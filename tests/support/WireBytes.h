#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <string>
#include <vector>

// Little-endian message fields for tests, written independently of the code
// under test: integers of 1, 4 and 8 bytes, strings as [u32 length][bytes].
class WireWriter
{
public:
    WireWriter& U8(quint8 i_value);
    WireWriter& U32(quint32 i_value);
    WireWriter& I32(qint32 i_value);
    WireWriter& I64(qint64 i_value);
    WireWriter& Str(const std::string& i_text);
    WireWriter& Raw(const QByteArray& i_bytes);

    const QByteArray& Bytes() const { return m_bytes; }
    operator QByteArray() const { return m_bytes; }

    // [u32 length of code and payload][u32 code][payload]
    static QByteArray Frame(quint32 i_code, const QByteArray& i_payload);

private:
    QByteArray m_bytes;
};

// Reads the same fields back; a read past the end marks the reader failed
// and gives zero or empty values.
class WireReader
{
public:
    explicit WireReader(const QByteArray& i_bytes) : m_bytes(i_bytes) {}

    quint8 U8();
    quint32 U32();
    qint32 I32();
    qint64 I64();
    std::string Str();

    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_position == m_bytes.size(); }
    qsizetype Remaining() const { return m_bytes.size() - m_position; }

private:
    bool Take(qsizetype i_count, const char*& op_data);

    QByteArray m_bytes;
    qsizetype m_position = 0;
    bool m_ok = true;
};
