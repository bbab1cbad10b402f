#include "transfers/UploadStartOrder.h"

UploadStartOrder::UploadStartOrder(OnlineTest i_isOnline) : m_isOnline(std::move(i_isOnline)) {}

void UploadStartOrder::Wait(Item* ip_upload, Item* ip_user, qint64 i_place)
{
    Forget(ip_upload);
    Leave(ip_user);
    m_entries[ip_upload] = Entry{ip_user, i_place, false};
    m_users[ip_user].m_waiting.emplace(i_place, ip_upload);
    Enter(ip_user);
}

void UploadStartOrder::Move(Item* ip_upload, qint64 i_place)
{
    const auto l_found = m_entries.find(ip_upload);
    if (l_found != m_entries.end() && !l_found->second.m_running)
        Wait(ip_upload, l_found->second.mp_user, i_place);
}

void UploadStartOrder::Run(Item* ip_upload, Item* ip_user)
{
    Forget(ip_upload);
    Leave(ip_user);
    m_entries[ip_upload] = Entry{ip_user, 0, true};
    ++m_users[ip_user].m_running;
    Enter(ip_user);
}

void UploadStartOrder::Forget(Item* ip_upload)
{
    const auto l_found = m_entries.find(ip_upload);
    if (l_found == m_entries.end())
        return;
    const Entry l_entry = l_found->second;
    m_entries.erase(l_found);
    Leave(l_entry.mp_user);
    User& l_user = m_users[l_entry.mp_user];
    if (l_entry.m_running)
        --l_user.m_running;
    else
        l_user.m_waiting.erase({l_entry.m_place, ip_upload});
    Enter(l_entry.mp_user);
}

void UploadStartOrder::UserChanged(Item* ip_user)
{
    if (!m_users.count(ip_user))
        return;
    Leave(ip_user);
    Enter(ip_user);
}

Item* UploadStartOrder::First() const
{
    return m_ready.empty() ? nullptr : m_ready.begin()->second;
}

void UploadStartOrder::Leave(Item* ip_user)
{
    const auto l_found = m_users.find(ip_user);
    if (l_found != m_users.end() && !l_found->second.m_waiting.empty())
        m_ready.erase(*l_found->second.m_waiting.begin());
}

void UploadStartOrder::Enter(Item* ip_user)
{
    const auto l_found = m_users.find(ip_user);
    if (l_found == m_users.end())
        return;
    const User& l_user = l_found->second;
    if (l_user.m_waiting.empty() && l_user.m_running == 0)
        m_users.erase(l_found);
    else if (!l_user.m_waiting.empty() && l_user.m_running == 0 && m_isOnline(ip_user))
        m_ready.insert(*l_user.m_waiting.begin());
}
