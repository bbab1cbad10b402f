#include "peer/PeerSearchBound.h"

std::size_t PeerSearchBound::Room(const std::string& i_search) const
{
    const auto l_found = m_searches.find(i_search);
    if (l_found == m_searches.end())
        return MaxResults;
    return l_found->second.m_results < MaxResults ? MaxResults - l_found->second.m_results : 0;
}

bool PeerSearchBound::Add(const Item* ip_request, const std::string& i_search, std::size_t i_results)
{
    if (i_results == 0)
        return false;
    auto [l_request, l_newRequest] = m_requests.try_emplace(ip_request, Request{i_search, 0});
    Search& l_search = m_searches[i_search];
    if (l_newRequest)
        ++l_search.m_requests;
    l_request->second.m_results += i_results;
    l_search.m_results += i_results;
    if (l_search.m_reachedBound || l_search.m_results < MaxResults)
        return false;
    l_search.m_reachedBound = true;
    return true;
}

void PeerSearchBound::Forget(const Item* ip_request)
{
    const auto l_request = m_requests.find(ip_request);
    if (l_request == m_requests.end())
        return;
    const auto l_search = m_searches.find(l_request->second.m_search);
    if (l_search != m_searches.end()) {
        l_search->second.m_results -= l_request->second.m_results;
        if (--l_search->second.m_requests == 0)
            m_searches.erase(l_search);
    }
    m_requests.erase(l_request);
}
