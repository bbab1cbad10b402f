#pragma once

#include "server/FrameReader.h"

#include <QByteArray>
#include <QtGlobal>

#include <string>
#include <vector>

// The messages of the distributed search network: on a "D" connection each
// is [u32 length][u8 code][payload], the length counting code and payload;
// inside server message 93 the same message comes as [u8 code][payload].
namespace DNetCode
{
enum : quint8 {
    Ping = 0,
    Search = 3,
    BranchLevel = 4,
    BranchRoot = 5,
    ChildDepth = 7,
};
}

// Cuts the bytes of one "D" connection into messages.
class DNetFrameReader : public FrameReader
{
public:
    // A longer frame is taken for a broken or hostile peer.
    static constexpr quint32 MaxFrameLength = 1024u * 1024u;

    DNetFrameReader() : FrameReader(1, MaxFrameLength) {}

    // The one-byte code of the distributed network.
    Result Next(quint8& o_code, QByteArray& o_payload)
    {
        quint32 l_code = 0;
        const Result l_result = FrameReader::Next(l_code, o_payload);
        o_code = static_cast<quint8>(l_code);
        return l_result;
    }
};

struct DNetSearch
{
    std::string m_user;
    quint32 m_token = 0;
    std::string m_query;
    // How many bytes of the payload its fields took; a search is passed on
    // only that far.
    qsizetype m_length = 0;
};

struct DNetCandidate
{
    std::string m_user;
    quint32 m_address = 0;
    quint32 m_port = 0;
};

// Writes and reads the payloads. Each Read fails on a payload too short for
// its fields, or on a string or count over the stream limits; bytes after
// the fields are ignored.
class DNetMessages
{
public:
    static QByteArray Frame(quint8 i_code, const QByteArray& i_payload);
    static QByteArray BranchLevelFrame(qint32 i_level);
    static QByteArray BranchRootFrame(const std::string& i_root);

    static bool ReadSearch(const QByteArray& i_payload, DNetSearch& o_search);
    static bool ReadBranchLevel(const QByteArray& i_payload, qint32& o_level);
    static bool ReadBranchRoot(const QByteArray& i_payload, std::string& o_root);
    static bool ReadChildDepth(const QByteArray& i_payload);
    // Server message 93: [u8 code][payload].
    static bool ReadEmbedded(const QByteArray& i_message, quint8& o_code, QByteArray& o_payload);
    // Server message 102: [u32 n][n x (string user, u32 address, u32 port)].
    static bool ReadCandidates(const QByteArray& i_payload, std::vector<DNetCandidate>& o_candidates);
};
