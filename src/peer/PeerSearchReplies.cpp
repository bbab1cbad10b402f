// Other users' answers to our searches: each accepted reply becomes one
// "search_results" item under its search, owning a "search_result" item per
// file that the user had not reported before in the same search. The
// repetitions of one wish-list text count as one search (they feed one
// tab); a search typed again is another search, and shows every answer.
// A search keeps at most PeerSearchBound::MaxResults results: the files of
// a reply beyond that are dropped before anything is made for them.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerItems.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerReceivedFiles.h"

#include <unordered_set>
#include <vector>

using namespace PeerItems;

namespace
{
// What a reply carries after its user and token.
struct SearchReply
{
    std::vector<FileInfo> m_files;
    quint8 m_freeSlot = 0;
    int m_uploadSpeed = 0;
    int m_queueLength = 0;
};

// Fails when the file list cannot be read; the fields after it are optional.
PeerReceivedFiles::Result ReadReply(InputStream& io_payload, SearchReply& o_reply)
{
    using PeerReceivedFiles::Result;
    unsigned int l_count = 0;
    if (!io_payload.Read(l_count) || l_count > InputStream::MaxCount)
        return Result::Unreadable;
    for (unsigned int l_index = 0; l_index < l_count; ++l_index) {
        // A fresh record each time: an empty record (a lone 0 byte) carries
        // no file and must not repeat the one before it.
        FileInfo l_file;
        bool l_present = false;
        if (const Result l_result = PeerReceivedFiles::ReadFile(io_payload, l_file, l_present); l_result != Result::Read)
            return l_result;
        if (l_present)
            o_reply.m_files.push_back(std::move(l_file));
    }
    // Missing, these count as 0.
    io_payload.Read(o_reply.m_freeSlot);
    io_payload.Read(o_reply.m_uploadSpeed);
    io_payload.Read(o_reply.m_queueLength);
    // The attribute name table means nothing to the receiver; it is read
    // only so that a reply is taken apart the same way everywhere.
    AttributeTranslationTable l_table;
    io_payload.Read(l_table);
    return Result::Read;
}

ItemPtr Valued(const char* ip_type, const std::string& i_value)
{
    return d.GetType(ip_type)->GetItem(i_value);
}

// Which search an answer belongs to, for the known-file test.
std::string SearchKey(ItemPtr i_request)
{
    const bool l_wishList = i_request.IsConnected("wishlist_search");
    std::string l_key(1, l_wishList ? 'w' : 'r');
    l_key += l_wishList ? i_request["search_request_text"].AsString() : i_request.AsString();
    return l_key;
}

// Each result is tied to one item that names its search, user and path, so
// that a path reported before is found in one look-up, however many results
// the search holds. The item is shared by the results of that path; it
// counts while one of them exists.
std::string ResultKey(const std::string& i_search, const std::string& i_user, const std::string& i_folder,
                      const std::string& i_name)
{
    std::string l_key = i_search;
    for (const std::string* lp_part : {&i_user, &i_folder, &i_name}) {
        l_key += '\0';
        l_key += *lp_part;
    }
    return l_key;
}

void ConnectAttributes(ItemPtr i_result, const AttributeMap& i_attributes)
{
    for (const auto& [l_code, l_value] : i_attributes.m_map) {
        switch (l_code) {
        case 0: i_result += Valued("bitrate", ToString(l_value)); break;
        case 1: i_result += Valued("length_seconds", ToString(l_value)); break;
        case 2: i_result += Valued("bitrate_mode", l_value != 0 ? "vbr" : "cbr"); break;
        default: break;
        }
    }
}

// The items of one reply, at most i_room results, counted in o_made; null
// when it brought no new file.
ItemPtr MakeResults(ItemPtr i_request, const std::string& i_search, ItemPtr i_user, const SearchReply& i_reply,
                    std::size_t i_room, std::size_t& o_made)
{
    ItemPtr l_results = d.GetType("search_results")->NewItem();
    Type* lp_keys = d.GetType("search_result_key");
    // A path given twice in one reply gives two results: only keys that
    // stood before this reply make a path known.
    std::unordered_set<const Item*> l_keysOfThisReply;
    o_made = 0;
    for (const FileInfo& l_file : i_reply.m_files) {
        if (o_made == i_room)
            break;
        const RemoteFilePath l_path = SplitRemotePath(l_file.m_name);
        const std::string& l_nameText = l_path.m_name;
        const std::string& l_folderText = l_path.m_folder;
        ItemPtr l_key = lp_keys->GetItem(ResultKey(i_search, i_user.AsString(), l_folderText, l_nameText));
        if (l_key.IsConnected("search_result") && !l_keysOfThisReply.count(l_key.Get()))
            continue;
        l_keysOfThisReply.insert(l_key.Get());
        ItemPtr l_name = Valued("search_result_file_name", l_nameText);
        ItemPtr l_folder = Valued("search_result_file_folder", l_folderText);
        ItemPtr l_result = d.GetType("search_result")->NewItem();
        l_result += l_key;
        ConnectAttributes(l_result, l_file.m_attributeMap);
        l_result += l_results;
        l_result += l_name;
        l_result += l_folder;
        l_result += Valued("search_result_file_size", ToString(l_file.m_fileSize));
        ++o_made;
    }
    if (!l_results.IsConnected("search_result")) {
        l_results.Remove();
        return {};
    }
    l_results += i_request;
    l_results += i_user;
    l_results += Valued("search_results_user_available", i_reply.m_freeSlot != 0 ? "yes" : "no");
    l_results += Valued("search_results_user_speed", ToString(i_reply.m_uploadSpeed));
    l_results += Valued("search_results_uploads_in_queue", ToString(i_reply.m_queueLength));
    return l_results;
}
}

bool PeerMessenger::HandleSearchReply(MemStream& io_message, ItemPtr i_user)
{
    MemStream l_payload;
    if (!InflatePayload(io_message, PeerMessageCodes::FileSearchResult, i_user, l_payload))
        return true;

    // A reply speaks for the user on this connection only.
    std::string l_replyUser;
    if (!l_payload.Read(l_replyUser) || l_replyUser != i_user.AsString())
        return false;
    unsigned int l_token = 0;
    if (!l_payload.Read(l_token))
        return false;
    ItemPtr l_request = d.GetType("search_request")->HasItem(ToString(l_token));
    // A search that ended or was never ours: the reply is of no use.
    if (!l_request)
        return true;

    SearchReply l_reply;
    switch (ReadReply(l_payload, l_reply)) {
    case PeerReceivedFiles::Result::Read: break;
    case PeerReceivedFiles::Result::Unreadable: return false;
    case PeerReceivedFiles::Result::TooManyAttributes:
        return RefuseAttributeBomb(PeerMessageCodes::FileSearchResult, i_user);
    }
    const std::string l_search = SearchKey(l_request);
    const std::size_t l_room = m_searchBound.Room(l_search);
    // A search at its bound takes nothing more; its rows stay as they are.
    if (l_room == 0)
        return true;
    std::size_t l_made = 0;
    ItemPtr l_results = MakeResults(l_request, l_search, UserItem(l_replyUser), l_reply, l_room, l_made);
    if (m_searchBound.Add(l_request.Get(), l_search, l_made)) {
        Log(LogArea, 1,
            QString("Search for %1 holds %2 results, further results are dropped")
                .arg(Text(l_request["search_request_text"]))
                .arg(PeerSearchBound::MaxResults));
    }
    if (l_results)
        emit SearchResults(l_results);
    return true;
}

void PeerMessenger::OnSearchRequestRemoved(Item* ip_request)
{
    m_searchBound.Forget(ip_request);
}
