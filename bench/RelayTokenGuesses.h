#pragma once

#include <QObject>
#include <QtGlobal>

#include <deque>

class FakeCentralServer;

// The guesses of the claims run's crowd that answers relayed requests it
// never had, in turn: the next of 1 to SweepTop (a client that counts its
// requests from 1 has sent these), one of the Recent latest tokens that
// the client sent to the server in requests for connections back, and one
// of the few after the latest (its next requests). The crowd sees what the
// server sees, as no peer could: a stronger attacker than any.
class RelayTokenGuesses : public QObject
{
    Q_OBJECT

public:
    static constexpr quint32 SweepTop = 120;
    static constexpr std::size_t Recent = 16;
    static constexpr quint32 Ahead = 3;

    explicit RelayTokenGuesses(FakeCentralServer& io_server);

    quint32 Next();
    // The client's requests the server saw.
    qint64 Seen() const { return m_seen; }

private:
    // The latest last.
    std::deque<quint32> m_recent;
    qint64 m_seen = 0;
    qint64 m_guesses = 0;
};
