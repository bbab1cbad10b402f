#include "RelayTokenGuesses.h"

#include <QRandomGenerator>

void RelayTokenGuesses::Ended(quint32 i_token)
{
    m_ended.push_back(i_token);
    if (m_ended.size() > Remembered)
        m_ended.pop_front();
}

quint32 RelayTokenGuesses::Next()
{
    const qint64 l_guess = m_guesses++;
    const qint64 l_round = l_guess / 3;
    if (l_guess % 3 == 0)
        return quint32(1 + l_round % SweepTop);
    if (l_guess % 3 == 1 || m_ended.empty())
        return QRandomGenerator::global()->generate();
    ++m_endedGuesses;
    return m_ended[std::size_t(l_round % qint64(m_ended.size()))];
}
