#include "dnet/DNetProtocol.h"

#include "server/ServerMessageReader.h"
#include "server/ServerMessageWriter.h"

#include <QtEndian>

QByteArray DNetMessages::Frame(quint8 i_code, const QByteArray& i_payload)
{
    QByteArray l_frame;
    l_frame.reserve(5 + i_payload.size());
    const quint32 l_length = static_cast<quint32>(i_payload.size() + 1);
    char l_lengthBytes[4];
    qToLittleEndian<quint32>(l_length, l_lengthBytes);
    l_frame.append(l_lengthBytes, 4);
    l_frame.append(static_cast<char>(i_code));
    l_frame.append(i_payload);
    return l_frame;
}

QByteArray DNetMessages::BranchLevelFrame(qint32 i_level)
{
    return Frame(DNetCode::BranchLevel, ServerMessageWriter().I32(i_level).Payload());
}

QByteArray DNetMessages::BranchRootFrame(const std::string& i_root)
{
    return Frame(DNetCode::BranchRoot, ServerMessageWriter().Str(i_root).Payload());
}

bool DNetMessages::ReadSearch(const QByteArray& i_payload, DNetSearch& o_search)
{
    ServerMessageReader l_reader(i_payload);
    quint32 l_unused = 0;
    DNetSearch l_search;
    l_reader.U32(l_unused).Str(l_search.m_user).U32(l_search.m_token).Str(l_search.m_query);
    if (!l_reader.Ok())
        return false;
    l_search.m_length = i_payload.size() - l_reader.Remaining();
    o_search = std::move(l_search);
    return true;
}

bool DNetMessages::ReadBranchLevel(const QByteArray& i_payload, qint32& o_level)
{
    ServerMessageReader l_reader(i_payload);
    return l_reader.I32(o_level).Ok();
}

bool DNetMessages::ReadBranchRoot(const QByteArray& i_payload, std::string& o_root)
{
    ServerMessageReader l_reader(i_payload);
    return l_reader.Str(o_root).Ok();
}

bool DNetMessages::ReadChildDepth(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    quint32 l_depth = 0;
    return l_reader.U32(l_depth).Ok();
}

bool DNetMessages::ReadEmbedded(const QByteArray& i_message, quint8& o_code, QByteArray& o_payload)
{
    if (i_message.isEmpty())
        return false;
    o_code = static_cast<quint8>(i_message.at(0));
    o_payload = i_message.mid(1);
    return true;
}

bool DNetMessages::ReadCandidates(const QByteArray& i_payload, std::vector<DNetCandidate>& o_candidates)
{
    ServerMessageReader l_reader(i_payload);
    quint32 l_count = 0;
    if (!l_reader.U32(l_count).Ok())
        return false;
    // Each entry takes at least 12 bytes: a count beyond that is a lie that
    // must not size the list.
    if (l_count > static_cast<quint32>(l_reader.Remaining() / 12))
        return false;
    std::vector<DNetCandidate> l_candidates;
    l_candidates.reserve(l_count);
    for (quint32 l_index = 0; l_index < l_count; ++l_index) {
        DNetCandidate l_candidate;
        l_reader.Str(l_candidate.m_user).U32(l_candidate.m_address).U32(l_candidate.m_port);
        if (!l_reader.Ok())
            return false;
        l_candidates.push_back(std::move(l_candidate));
    }
    o_candidates = std::move(l_candidates);
    return true;
}
