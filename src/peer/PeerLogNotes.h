#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <cstddef>
#include <deque>
#include <unordered_map>
#include <utility>

// Lines that a peer could have the log write many times a second: each is
// written at most once a minute. A clock that went back lets a line be
// written again at once.

// Once a minute per key (an address or a network).
class PeerLogNotes
{
public:
    static constexpr qint64 EveryMs = 60000;
    // Keys noted at most: a crowd spread over ever new networks is not
    // logged network by network beyond that, nor noted without end.
    static constexpr std::size_t MaxKeys = 1024;

    // true when nothing was logged about the key in the last EveryMs and
    // there is room to note it; notes i_now as its last time then. Keys
    // logged longer ago are forgotten, at a cost that does not grow with the
    // keys noted.
    bool MayLog(quint32 i_key, const QDateTime& i_now);

private:
    static bool Expired(const QDateTime& i_noted, const QDateTime& i_now);

    std::unordered_map<quint32, QDateTime> m_lastLogged;
    // The notes in the order they were made.
    std::deque<std::pair<QDateTime, quint32>> m_order;
};

// One kind of event, written at most once a minute with how often it
// happened since its last line.
class PeerLogCounter
{
public:
    // Counts the event. true when its line is due; o_count is then the
    // events since the last line, this one included, or 0 when no line came
    // before.
    bool Count(const QDateTime& i_now, int& o_count);

private:
    QDateTime m_lastLine;
    int m_count = 0;
};
