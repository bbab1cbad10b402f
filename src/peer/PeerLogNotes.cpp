#include "peer/PeerLogNotes.h"

bool PeerLogNotes::Expired(const QDateTime& i_noted, const QDateTime& i_now)
{
    const qint64 l_age = i_noted.msecsTo(i_now);
    return l_age >= EveryMs || l_age < 0;
}

bool PeerLogNotes::MayLog(quint32 i_key, const QDateTime& i_now)
{
    while (!m_order.empty() && Expired(m_order.front().first, i_now)) {
        const auto [l_noted, l_key] = m_order.front();
        m_order.pop_front();
        // A later note of the key stands in the order behind this one.
        if (const auto l_last = m_lastLogged.find(l_key); l_last != m_lastLogged.end() && l_last->second == l_noted)
            m_lastLogged.erase(l_last);
    }
    const auto l_last = m_lastLogged.find(i_key);
    if (l_last != m_lastLogged.end() ? !Expired(l_last->second, i_now) : m_lastLogged.size() >= MaxKeys)
        return false;
    m_lastLogged[i_key] = i_now;
    m_order.emplace_back(i_now, i_key);
    return true;
}

bool PeerLogCounter::IsDue(const QDateTime& i_now) const
{
    return !m_lastLine.isValid() || PeerLogNotes::Expired(m_lastLine, i_now);
}

void PeerLogCounter::Written(const QDateTime& i_now)
{
    m_count = 0;
    m_lastLine = i_now;
}

bool PeerLogCounter::Count(const QDateTime& i_now, int& o_count, MakeText i_text, std::string_view i_user)
{
    ++m_count;
    if (!IsDue(i_now)) {
        m_text = std::move(i_text);
        m_user.assign(i_user);
        return false;
    }
    o_count = m_lastLine.isValid() ? m_count : 0;
    Written(i_now);
    return true;
}

bool PeerLogCounter::Due(const QDateTime& i_now, int& o_count)
{
    return IsDue(i_now) && Pending(i_now, o_count);
}

bool PeerLogCounter::Pending(const QDateTime& i_now, int& o_count)
{
    if (m_count == 0 || !m_text)
        return false;
    o_count = m_count;
    Written(i_now);
    return true;
}

QString PeerLogCounter::Text() const
{
    return m_text ? m_text(QString::fromStdString(m_user)) : QString();
}
