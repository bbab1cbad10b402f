#include "core/log/LogHistory.h"

#include <QMutexLocker>

#include <algorithm>

LogEntry LogHistory::Add(const QString& i_area, const QString& i_line, quintptr i_item)
{
    QMutexLocker l_lock(&m_mutex);
    LogEntry l_entry;
    l_entry.m_sequence = ++m_lastSequence;
    l_entry.m_area = i_area;
    l_entry.m_line = i_line;
    l_entry.m_item = i_item;

    auto l_area = m_areas.find(i_area);
    if (l_area == m_areas.end()) {
        m_areaOrder.append(i_area);
        l_area = m_areas.insert(i_area, {});
    }
    l_area->push_back(l_entry);
    while (l_area->size() > static_cast<std::size_t>(MaxLinesPerArea))
        l_area->pop_front();

    if (i_item != 0) {
        auto l_item = m_items.find(i_item);
        if (l_item == m_items.end()) {
            if (m_items.size() >= MaxItems)
                DropLeastRecentItem();
            l_item = m_items.insert(i_item, {});
        } else if (!l_item->m_lines.empty()) {
            m_itemsByRecency.erase(l_item->m_lines.back().m_sequence);
        }
        l_item->m_lines.push_back(l_entry);
        l_item->m_bytes += Cost(l_entry);
        m_itemBytes += Cost(l_entry);
        while (l_item->m_lines.size() > static_cast<std::size_t>(MaxLinesPerItem)) {
            l_item->m_bytes -= Cost(l_item->m_lines.front());
            m_itemBytes -= Cost(l_item->m_lines.front());
            l_item->m_lines.pop_front();
        }
        m_itemsByRecency.emplace(l_entry.m_sequence, i_item);
        // Whole items go, not lines: an item's log then reads from its
        // first line or not at all.
        while (m_itemBytes > MaxItemBytes && m_itemsByRecency.size() > 1)
            DropLeastRecentItem();
    }
    return l_entry;
}

std::size_t LogHistory::Cost(const LogEntry& i_entry)
{
    return sizeof(LogEntry) + std::size_t(i_entry.m_line.size()) * sizeof(QChar);
}

void LogHistory::DropLeastRecentItem()
{
    if (m_itemsByRecency.empty()) {
        if (!m_items.isEmpty())
            m_items.erase(m_items.begin());
        return;
    }
    EraseItem(m_items.find(m_itemsByRecency.begin()->second));
}

void LogHistory::EraseItem(ItemMap::iterator i_item)
{
    if (!i_item->m_lines.empty())
        m_itemsByRecency.erase(i_item->m_lines.back().m_sequence);
    m_itemBytes -= i_item->m_bytes;
    m_items.erase(i_item);
}

QStringList LogHistory::Areas() const
{
    QMutexLocker l_lock(&m_mutex);
    return m_areaOrder;
}

std::vector<LogEntry> LogHistory::AreaEntries(const QString& i_area, quint64* op_lastSequence) const
{
    QMutexLocker l_lock(&m_mutex);
    if (op_lastSequence)
        *op_lastSequence = m_lastSequence;
    const auto l_it = m_areas.constFind(i_area);
    if (l_it == m_areas.constEnd())
        return {};
    return std::vector<LogEntry>(l_it->begin(), l_it->end());
}

std::vector<LogEntry> LogHistory::ItemEntries(quintptr i_item, quint64* op_lastSequence) const
{
    QMutexLocker l_lock(&m_mutex);
    if (op_lastSequence)
        *op_lastSequence = m_lastSequence;
    const auto l_it = m_items.constFind(i_item);
    if (l_it == m_items.constEnd())
        return {};
    return std::vector<LogEntry>(l_it->m_lines.begin(), l_it->m_lines.end());
}

std::vector<LogEntry> LogHistory::AllEntries(quint64* op_lastSequence) const
{
    QMutexLocker l_lock(&m_mutex);
    if (op_lastSequence)
        *op_lastSequence = m_lastSequence;
    std::vector<LogEntry> l_all;
    for (const auto& l_area : m_areas)
        l_all.insert(l_all.end(), l_area.begin(), l_area.end());
    std::sort(l_all.begin(), l_all.end(),
              [](const LogEntry& i_a, const LogEntry& i_b) { return i_a.m_sequence < i_b.m_sequence; });
    return l_all;
}

int LogHistory::ItemCount() const
{
    QMutexLocker l_lock(&m_mutex);
    return static_cast<int>(m_items.size());
}

std::size_t LogHistory::ItemBytes() const
{
    QMutexLocker l_lock(&m_mutex);
    return m_itemBytes;
}

quint64 LogHistory::LastSequence() const
{
    QMutexLocker l_lock(&m_mutex);
    return m_lastSequence;
}

bool LogHistory::ForgetItem(quintptr i_item)
{
    QMutexLocker l_lock(&m_mutex);
    const auto l_item = m_items.find(i_item);
    if (l_item == m_items.end())
        return false;
    EraseItem(l_item);
    return true;
}

void LogHistory::WatchItem(quintptr i_item)
{
    QMutexLocker l_lock(&m_mutex);
    if (!m_items.contains(i_item))
        m_items.insert(i_item, {});
}

void LogHistory::ForgetAllItems()
{
    QMutexLocker l_lock(&m_mutex);
    m_items.clear();
    m_itemsByRecency.clear();
    m_itemBytes = 0;
}
