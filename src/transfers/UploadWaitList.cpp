#include "transfers/UploadWaitList.h"

void UploadWaitList::Note(Item* ip_upload, bool i_queued, bool i_mayMakeRoom)
{
    if (!i_queued) {
        Forget(ip_upload);
        return;
    }
    if (m_ages.emplace(ip_upload, m_next).second)
        ++m_next;
    SetMayMakeRoom(ip_upload, i_mayMakeRoom);
}

void UploadWaitList::Forget(Item* ip_upload)
{
    const auto l_found = m_ages.find(ip_upload);
    if (l_found == m_ages.end())
        return;
    m_mayMakeRoom.erase(l_found->second);
    m_ages.erase(l_found);
}

void UploadWaitList::SetMayMakeRoom(Item* ip_upload, bool i_mayMakeRoom)
{
    const auto l_found = m_ages.find(ip_upload);
    if (l_found == m_ages.end())
        return;
    if (i_mayMakeRoom)
        m_mayMakeRoom.emplace(l_found->second, ip_upload);
    else
        m_mayMakeRoom.erase(l_found->second);
}

Item* UploadWaitList::OldestThatMayMakeRoom() const
{
    return m_mayMakeRoom.empty() ? nullptr : m_mayMakeRoom.begin()->second;
}
