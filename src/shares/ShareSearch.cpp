// Answering other users' searches from the index.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessageCodes.h"
#include "shares/SearchParser.h"
#include "shares/UploadSlotsService.h"

#include <algorithm>
#include <array>
#include <string_view>

UploadSlotsService* uploadSlotsService = nullptr;

namespace
{
// Replies stop here: more matches than this get no answer at all.
constexpr std::size_t MaxResults = 200;

std::string WirePath(std::string i_path)
{
    std::replace(i_path.begin(), i_path.end(), '/', '\\');
    return i_path;
}
}  // namespace

FileInfo SharedFoldersManager::ListingRecord(Item* ip_file, bool i_withAudio) const
{
    ItemPtr l_file(ip_file);
    FileInfo l_info;
    l_info.m_name = l_file["shared_file_name"].AsString();
    l_info.m_fileSize = l_file["shared_file_size"].AsInt64();
    if (i_withAudio && GetFileExtension(l_info.m_name) == "mp3") {
        l_info.m_attributeMap.m_extension = "mp3";
        if (ItemPtr l_bitrate = l_file["bitrate"])
            l_info.m_attributeMap.m_map.emplace_back(0u, l_bitrate.AsInt());
        if (ItemPtr l_mode = l_file["bitrate_mode"])
            l_info.m_attributeMap.m_map.emplace_back(2u, l_mode.AsString() == "vbr" ? 1 : 0);
    }
    return l_info;
}

void SharedFoldersManager::ProcessSearch(std::string i_user, quint32 i_req, std::string i_searchText)
{
    SearchParser l_parser;
    if (!l_parser.SetSearchText(i_searchText))
        return;

    // Every included word must be a word of the index; index words are
    // lower case, so a word with a capital finds nothing.
    Type* lp_words = d.GetType("search_token");
    Type* lp_fileType = d.GetType("shared_file");
    std::vector<const PartnerSet*> l_wordFiles;
    for (const std::string& l_word : l_parser.GetIncludedTokenSet()) {
        ItemPtr l_token = lp_words->HasItem(l_word);
        if (!l_token)
            return;
        const PartnerSet* lp_files = l_token->Partners(lp_fileType);
        if (!lp_files)
            return;
        l_wordFiles.push_back(lp_files);
    }
    // Part words alone give no candidates.
    if (l_wordFiles.empty())
        return;
    // Walk the rarest word's files and test the others' sets.
    std::sort(l_wordFiles.begin(), l_wordFiles.end(),
              [](const PartnerSet* ip_a, const PartnerSet* ip_b) { return ip_a->Size() < ip_b->Size(); });

    const ItemSet l_roots = GetUserSharedFolders(i_user);
    if (l_roots.empty())
        return;
    const auto& l_parts = l_parser.GetIncludedPartTokenSet();
    const auto& l_excluded = l_parser.GetExcludedTokenSet();
    const bool l_testsName = !l_parts.empty() || !l_excluded.empty();
    Type* lp_nameType = d.GetType("shared_file_name");
    Type* lp_folderType = d.GetType("shared_file_folder");
    Type* lp_shareType = d.GetType("shared_folder");

    // The folder last found visible or hidden: files of one folder often
    // follow one another.
    const Item* lp_lastFolder = nullptr;
    bool l_lastVisible = false;
    auto l_visible = [&](Item* ip_file) {
        const PartnerSet* lp_folder = ip_file->Partners(lp_folderType);
        if (!lp_folder)
            return false;
        Item* lp_folderItem = lp_folder->First();
        if (lp_folderItem != lp_lastFolder) {
            const PartnerSet* lp_roots = lp_folderItem->Partners(lp_shareType);
            lp_lastFolder = lp_folderItem;
            l_lastVisible = lp_roots && lp_roots->AnyOf([&](Item* ip_root) { return l_roots.contains(ip_root); });
        }
        return l_lastVisible;
    };

    // Candidates are tested a batch at a time, their items asked of memory
    // for the whole batch before the tests: a name is three reads away from
    // its file, and a common word has thousands of files.
    constexpr std::size_t Batch = 32;
    std::vector<Item*> l_batch;
    l_batch.reserve(Batch);
    std::array<const Item*, Batch> l_names{};
    std::vector<Item*> l_kept;
    bool l_tooMany = false;
    auto l_testBatch = [&]() {
        for (Item* lp_file : l_batch)
            __builtin_prefetch(lp_file->EntriesBegin());
        for (std::size_t l_index = 0; l_index < l_batch.size(); ++l_index) {
            const PartnerSet* lp_name = l_testsName ? l_batch[l_index]->Partners(lp_nameType) : nullptr;
            l_names[l_index] = lp_name ? lp_name->First() : nullptr;
            if (l_names[l_index])
                __builtin_prefetch(l_names[l_index]);
            if (const PartnerSet* lp_folder = l_batch[l_index]->Partners(lp_folderType))
                __builtin_prefetch(lp_folder->First());
        }
        for (const Item* lp_name : l_names) {
            if (lp_name)
                __builtin_prefetch(lp_name->m_value.data());
        }
        for (std::size_t l_index = 0; l_index < l_batch.size() && !l_tooMany; ++l_index) {
            if (l_testsName) {
                // Part and excluded words are tested against the name
                // alone, as stored: case counts.
                const std::string_view l_name = l_names[l_index] ? std::string_view(l_names[l_index]->m_value) : std::string_view();
                auto l_has = [&l_name](const std::string& i_word) { return l_name.find(i_word) != std::string_view::npos; };
                if (std::any_of(l_excluded.begin(), l_excluded.end(), l_has) || !std::all_of(l_parts.begin(), l_parts.end(), l_has))
                    continue;
            }
            if (!l_visible(l_batch[l_index]))
                continue;
            l_kept.push_back(l_batch[l_index]);
            // A 201st visible match means no answer: stop looking.
            l_tooMany = l_kept.size() > MaxResults;
        }
        l_batch.clear();
        l_names.fill(nullptr);
        return l_tooMany;
    };
    l_wordFiles.front()->AnyOf([&](Item* ip_file) {
        for (std::size_t l_index = 1; l_index < l_wordFiles.size(); ++l_index) {
            if (!l_wordFiles[l_index]->Contains(ip_file))
                return false;
        }
        __builtin_prefetch(ip_file);
        l_batch.push_back(ip_file);
        return l_batch.size() == Batch && l_testBatch();
    });
    if (!l_tooMany && !l_batch.empty())
        l_testBatch();
    if (l_kept.empty() || l_tooMany)
        return;

    // By path as it travels; of two files that travel as one path (a name
    // may hold a backslash) the first found goes.
    std::vector<std::pair<std::string, Item*>> l_records;
    l_records.reserve(l_kept.size());
    for (Item* lp_file : l_kept) {
        const PartnerSet* lp_folder = lp_file->Partners(lp_folderType);
        const PartnerSet* lp_name = lp_file->Partners(lp_nameType);
        const std::string_view l_folder = lp_folder ? std::string_view(lp_folder->First()->m_value) : std::string_view();
        const std::string_view l_name = lp_name ? std::string_view(lp_name->First()->m_value) : std::string_view();
        std::string l_path;
        l_path.reserve(l_folder.size() + 1 + l_name.size());
        l_path.append(l_folder).append(1, '/').append(l_name);
        l_records.emplace_back(WirePath(std::move(l_path)), lp_file);
    }
    std::stable_sort(l_records.begin(), l_records.end(),
                     [](const auto& i_a, const auto& i_b) { return i_a.first < i_b.first; });
    l_records.erase(std::unique(l_records.begin(), l_records.end(),
                                [](const auto& i_a, const auto& i_b) { return i_a.first == i_b.first; }),
                    l_records.end());

    MemStream l_payload;
    l_payload.Write(Settings::Get("username"));
    l_payload.Write(static_cast<unsigned int>(i_req));
    l_payload.Write(static_cast<unsigned int>(l_records.size()));
    for (auto& l_record : l_records) {
        FileInfo l_info = ListingRecord(l_record.second, true);
        l_info.m_name = std::move(l_record.first);
        l_info.Write(l_payload);
    }
    const bool l_free = uploadSlotsService && uploadSlotsService->IsFreeToUpload();
    l_payload.Write(static_cast<quint8>(l_free ? 1 : 0));
    l_payload.Write(Settings::GetUInt("upload_speed"));
    l_payload.Write(static_cast<unsigned int>(uploadSlotsService ? uploadSlotsService->QueuedUploadCount() : 0));
    l_payload.Write(0u);

    Log("Search", 1,
        QString("Sending search results to user %1 for search string %2")
            .arg(QString::fromStdString(i_user), QString::fromStdString(i_searchText)));
    SendReply(i_user, PeerMessageCodes::FileSearchResult, l_payload, QString("Search results"));
}
