#include "transfers/UploadWaitList.h"

void UploadWaitList::Note(Item* ip_upload, bool i_queued)
{
    if (!i_queued) {
        Forget(ip_upload);
        return;
    }
    if (m_ages.emplace(ip_upload, m_next).second)
        m_byAge.emplace(m_next++, ip_upload);
}

void UploadWaitList::Forget(Item* ip_upload)
{
    const auto l_found = m_ages.find(ip_upload);
    if (l_found == m_ages.end())
        return;
    m_byAge.erase(l_found->second);
    m_ages.erase(l_found);
}

Item* UploadWaitList::Oldest(const std::function<bool(Item*)>& i_wanted) const
{
    for (const auto& [l_age, lp_upload] : m_byAge) {
        if (i_wanted(lp_upload))
            return lp_upload;
    }
    return nullptr;
}
