#include "RelayTokenGuesses.h"

#include "FakeCentralServer.h"

#include <QtEndian>

#include <array>

namespace
{
// The server code of a request for a connection back.
constexpr quint32 ConnectToPeerCode = 18;
// Around the latest token, in the order they are tried.
constexpr std::array<int, 6> NearOffsets{0, 1, 2, -1, 3, -2};
}  // namespace

RelayTokenGuesses::RelayTokenGuesses(FakeCentralServer& io_server)
{
    connect(&io_server, &FakeCentralServer::MessageReceived, this,
            [this](const QString&, quint32 i_code, const QByteArray& i_payload) {
                if (i_code != ConnectToPeerCode || i_payload.size() < 4)
                    return;
                m_latest = qFromLittleEndian<quint32>(i_payload.constData());
                ++m_seen;
            });
}

quint32 RelayTokenGuesses::Next()
{
    const qint64 l_guess = m_guesses++;
    if (!m_latest || l_guess % 2 == 0)
        return quint32(1 + (l_guess / 2) % SweepTop);
    const int l_offset = NearOffsets[std::size_t((l_guess / 2) % qint64(NearOffsets.size()))];
    return quint32(qint64(*m_latest) + l_offset);
}
