#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
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
    // Whether a line written at i_noted is a minute old at i_now, or the
    // clock went back since.
    static bool Expired(const QDateTime& i_noted, const QDateTime& i_now);

private:
    std::unordered_map<quint32, QDateTime> m_lastLogged;
    // The notes in the order they were made.
    std::deque<std::pair<QDateTime, quint32>> m_order;
};

// One kind of event, written at most once a minute with how often it
// happened since its last line. The events after a line are written with
// the next one: a later event's, or the sweep's once a minute has passed
// (Due), so that a crowd's last events are not left uncounted.
class PeerLogCounter
{
public:
    // Makes the line's text from the name of the user the event concerns
    // (empty when none). Only the latest event's is kept, and called only
    // when its line is written: counting an event makes no text. What it
    // refers to must live as long as the counter.
    using MakeText = std::function<QString(const QString& i_user)>;

    // Counts the event. true when its line is due; o_count is then the
    // events since the last line, this one included, or 0 when no line came
    // before. Otherwise keeps what makes the event's line, for Due.
    bool Count(const QDateTime& i_now, int& o_count, MakeText i_text, std::string_view i_user = {});
    // true when events were counted since the last line and that line is a
    // minute old (or the clock went back): their line is due now, with
    // o_count of them (Text and User tell the latest), and is taken as
    // written.
    bool Due(const QDateTime& i_now, int& o_count);
    // The same whatever the age of the last line, for the end of the
    // counting: events never written would be lost.
    bool Pending(const QDateTime& i_now, int& o_count);
    // The latest event's text, as Count kept it.
    QString Text() const;
    // The name of the user the latest event concerns; empty when none.
    const std::string& User() const { return m_user; }

private:
    bool IsDue(const QDateTime& i_now) const;
    void Written(const QDateTime& i_now);

    QDateTime m_lastLine;
    int m_count = 0;
    MakeText m_text;
    std::string m_user;
};
