#pragma once

#include <QObject>
#include <QtGlobal>

#include <optional>

class FakeCentralServer;

// The guesses of the claims run's crowd that answers relayed requests it
// never had: in turn the next of 1 to SweepTop (a client that counts its
// requests from 1 has sent these), and one near the latest token the
// client sent to the server in a request for a connection back, the token
// itself or a few beyond (its next requests) or before. The crowd sees
// what the server sees, as no peer could: a stronger attacker than any.
class RelayTokenGuesses : public QObject
{
    Q_OBJECT

public:
    static constexpr quint32 SweepTop = 120;

    explicit RelayTokenGuesses(FakeCentralServer& io_server);

    quint32 Next();
    // The client's requests the server saw.
    qint64 Seen() const { return m_seen; }

private:
    std::optional<quint32> m_latest;
    qint64 m_seen = 0;
    qint64 m_guesses = 0;
};
