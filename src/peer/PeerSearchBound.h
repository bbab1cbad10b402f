#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

class Item;

// How many results each search holds. Any number of users may answer a
// search, each reply with up to 131,072 files, so without a bound one peer
// answering under fresh names grows one search without end. A compliant
// peer sends at most 200 files, so the bound is 250 full answers.
//
// A search is named by its key (the repetitions of one wish-list text are
// one search, as they feed one tab). The count is kept per request, so that
// a request that goes (a wish-list repetition no tab shows, say) takes its
// results out of its search's count; a search is forgotten with its last
// request. Nothing here walks the stored results.
class PeerSearchBound
{
public:
    static constexpr std::size_t MaxResults = 50000;

    // How many more results the search may keep.
    std::size_t Room(const std::string& i_search) const;
    // Counts results stored for the request of the search. true only the
    // first time they bring the search to its bound.
    bool Add(const Item* ip_request, const std::string& i_search, std::size_t i_results);
    // The request's results went with it.
    void Forget(const Item* ip_request);

private:
    struct Search
    {
        std::size_t m_results = 0;
        std::size_t m_requests = 0;
        bool m_reachedBound = false;
    };
    struct Request
    {
        std::string m_search;
        std::size_t m_results = 0;
    };

    std::unordered_map<std::string, Search> m_searches;
    std::unordered_map<const Item*, Request> m_requests;
};
