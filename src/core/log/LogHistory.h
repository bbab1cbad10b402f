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
// an item make room for new ones, and the items logged for least recently
// make room when there are too many or their lines take too much memory.
// Thread-safe.
class LogHistory
{
public:
    static constexpr int MaxLinesPerArea = 10000;
    static constexpr int MaxLinesPerItem = 1000;
    static constexpr int MaxItems = 10000;
    // What the lines of all items may take, counted as each line's text and
    // record; the item logged for last keeps its lines whatever they take.
    static constexpr std::size_t MaxItemBytes = 16 * 1024 * 1024;

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
    // What the items' lines take, as counted against MaxItemBytes.
    std::size_t ItemBytes() const;

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
    struct ItemLines
    {
        std::deque<LogEntry> m_lines;
        std::size_t m_bytes = 0;
    };
    using ItemMap = QHash<quintptr, ItemLines>;
    static std::size_t Cost(const LogEntry& i_entry);
    void DropLeastRecentItem();
    void EraseItem(ItemMap::iterator i_item);

    mutable QMutex m_mutex;
    quint64 m_lastSequence = 0;
    QStringList m_areaOrder;
    QHash<QString, std::deque<LogEntry>> m_areas;
    ItemMap m_items;
    std::size_t m_itemBytes = 0;
    // The items with lines by the sequence number of their last line, so
    // that the least recent one is found without a pass over all of them.
    std::map<quint64, quintptr> m_itemsByRecency;
};
