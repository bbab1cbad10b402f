#pragma once

#include <QtGlobal>

#include <deque>

// The guesses of the claims run's crowd that answers relayed requests it
// never had, as a plain peer can make them, in turn: the next of 1 to
// SweepTop (a client that counts its requests from 1 has sent these), a
// random value, and one of the Remembered latest tokens of the client's
// requests that have ended (Ended: in the claims run the server reports
// each failed, BoundPeers.h). A peer learns such a token by having
// been the target of the request, whose token the server passed to it; the
// crowd is taken to know them all, whoever the target was, once they have
// ended. It never knows a token while its request lives: the client sends
// those to the server alone, and the server passes each only to the user
// it names.
class RelayTokenGuesses
{
public:
    static constexpr quint32 SweepTop = 120;
    static constexpr std::size_t Remembered = 64;

    // The request of the token has ended at the client.
    void Ended(quint32 i_token);
    quint32 Next();
    // The guesses made among the ended tokens.
    qint64 EndedGuesses() const { return m_endedGuesses; }

private:
    // The latest last.
    std::deque<quint32> m_ended;
    qint64 m_guesses = 0;
    qint64 m_endedGuesses = 0;
};
