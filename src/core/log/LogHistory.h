#pragma once

#include <QHash>
#include <QMetaType>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <deque>
#include <map>
#include <vector>

// One logged line as the views see it. The sequence number grows with every
// line of the run; views use it to tell lines they already show from new ones.
struct LogEntry
{
    quint64 m_sequence = 0;
    QString m_area;
    QString m_line;
    // The address of the item the line was logged for; 0 for none. Only a
    // key: it is never dereferenced.
    quintptr m_item = 0;
};

Q_DECLARE_METATYPE(LogEntry)

// The lines of this run kept in memory, per area and per item, for the
// Diagnostics page and the item log. Bounded: the oldest lines of an area or
// an item make room for new ones. Thread-safe.
class LogHistory
{
public:
    static constexpr int MaxLinesPerArea = 10000;
    static constexpr int MaxLinesPerItem = 1000;
    static constexpr int MaxItems = 10000;

    // Records the line and gives it the next sequence number.
    LogEntry Add(const QString& i_area, const QString& i_line, quintptr i_item);

    // The areas in the order of their first line.
    QStringList Areas() const;
    // The lines kept, oldest first. op_lastSequence, when given, receives
    // LastSequence() as of the same moment, so that a view that shows these
    // lines and then follows new ones neither loses nor repeats a line.
    std::vector<LogEntry> AreaEntries(const QString& i_area, quint64* op_lastSequence = nullptr) const;
    std::vector<LogEntry> ItemEntries(quintptr i_item, quint64* op_lastSequence = nullptr) const;
    // Every line of every area, in sequence order.
    std::vector<LogEntry> AllEntries(quint64* op_lastSequence = nullptr) const;
    int ItemCount() const;

    // The number of the last line recorded; every line recorded later has a
    // higher one.
    quint64 LastSequence() const;

    // An item's lines are dropped when the item goes: its address may be
    // reused by a new item.
    // False when the item had no lines and was not watched.
    bool ForgetItem(quintptr i_item);
    // Keeps a place for the item even before its first line, so that its
    // removal is told to whoever watches it.
    void WatchItem(quintptr i_item);
    void ForgetAllItems();

private:
    // Drops the item logged for least recently; a watched item without
    // lines only when every kept item is one.
    void DropLeastRecentItem();
    void EraseItem(QHash<quintptr, std::deque<LogEntry>>::iterator i_item);

    mutable QMutex m_mutex;
    quint64 m_lastSequence = 0;
    QStringList m_areaOrder;
    QHash<QString, std::deque<LogEntry>> m_areas;
    QHash<quintptr, std::deque<LogEntry>> m_items;
    // The items with lines by the sequence number of their last line, so
    // that the least recent one is found without a pass over all of them.
    std::map<quint64, quintptr> m_itemsByRecency;
};
