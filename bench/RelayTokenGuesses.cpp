#include "RelayTokenGuesses.h"

#include "FakeCentralServer.h"

#include <QtEndian>

namespace
{
// The server code of a request for a connection back.
constexpr quint32 ConnectToPeerCode = 18;
}  // namespace

RelayTokenGuesses::RelayTokenGuesses(FakeCentralServer& io_server)
{
    connect(&io_server, &FakeCentralServer::MessageReceived, this,
            [this](const QString&, quint32 i_code, const QByteArray& i_payload) {
                if (i_code != ConnectToPeerCode || i_payload.size() < 4)
                    return;
                m_recent.push_back(qFromLittleEndian<quint32>(i_payload.constData()));
                if (m_recent.size() > Recent)
                    m_recent.pop_front();
                ++m_seen;
            });
}

quint32 RelayTokenGuesses::Next()
{
    const qint64 l_guess = m_guesses++;
    const qint64 l_round = l_guess / 3;
    if (m_recent.empty() || l_guess % 3 == 0)
        return quint32(1 + l_round % SweepTop);
    if (l_guess % 3 == 1)
        return m_recent[std::size_t(l_round % qint64(m_recent.size()))];
    return m_recent.back() + 1 + quint32(l_round % Ahead);
}
