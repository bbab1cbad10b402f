// The rows of a results tab: a file row per result under a folder row per
// folder under a user row per answering user, their texts, and which of them
// the tab's filter shows.

#include "core/runtime/DelayedInvoker.h"
#include "core/util/GeneralFunctions.h"
#include "shares/SharedFoldersManager.h"
#include "ui/views/FilterParser.h"
#include "ui/views/SearchForm.h"
#include "ui/views/SearchResultsForm.h"

#include <QLineEdit>
#include <QTreeWidget>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace
{
constexpr int UserColumn = 0;
constexpr int FreeColumn = 1;
constexpr int SpeedColumn = 2;
constexpr int FolderColumn = 3;
constexpr int FileColumn = 4;
constexpr int SizeColumn = 5;
constexpr int AttributesColumn = 6;

// The first item of the type connected to both, found through the shorter
// of their two lists of such partners.
ItemPtr CommonPartner(ItemPtr i_first, ItemPtr i_second, const char* ip_type)
{
    Type* lp_type = d.GetType(ip_type);
    const PartnerSet* lp_first = i_first->Partners(lp_type);
    const PartnerSet* lp_second = i_second->Partners(lp_type);
    if (!lp_first || !lp_second)
        return {};
    const bool l_firstShorter = lp_first->Size() <= lp_second->Size();
    const PartnerSet* lp_shorter = l_firstShorter ? lp_first : lp_second;
    const Item* lp_other = l_firstShorter ? i_second.Get() : i_first.Get();
    Item* lp_found = nullptr;
    lp_shorter->AnyOf([&](Item* ip_candidate) {
        if (!lp_other->IsConnected(ip_candidate))
            return false;
        lp_found = ip_candidate;
        return true;
    });
    return lp_found;
}

QString FreeText(ItemPtr i_reply)
{
    if (i_reply["search_results_user_available"].AsString() == "yes")
        return QStringLiteral("Y");
    return QString::fromLatin1(i_reply["search_results_uploads_in_queue"].AsString());
}

QString SpeedText(ItemPtr i_reply)
{
    const int l_speed = i_reply["search_results_user_speed"].AsInt();
    return l_speed == 0 ? QString() : QString::number(l_speed / 1024.0, 'f', 1);
}

bool IsOn(ItemPtr i_formItem, const char* ip_flag)
{
    return i_formItem[ip_flag].AsString() == "yes";
}

// The two-level test of a file row: the folder's text with a remainder,
// the file's text against what the folder left open.
bool PassesFilter(const FilterParser& i_filter, const QString& i_folder, const QString& i_file)
{
    FilterParser l_rest;
    if (i_filter.IsMatching(i_folder, &l_rest) == Mismatch)
        return false;
    return l_rest.IsMatching(i_file, nullptr) == Match;
}
}  // namespace

void SearchForm::OnUserSearchResults(ItemPtr i_searchResults)
{
    const ItemPtr l_request = i_searchResults["search_request"];
    ItemPtr l_formItem = l_request["search_results_widget"];
    if (l_formItem.IsNull() && l_request.IsConnected("wishlist_search")) {
        // A wish-list search opens its tab with its first answers, while
        // its entry is there and enabled.
        const std::string l_text = l_request["search_request_text"].AsString();
        const ItemPtr l_entry = d.GetType("wish_list_item")->HasItem(l_text);
        if (!l_entry.IsNull() && l_entry.IsConnected("wish_list_item_enabled")) {
            CreateSearchForm(ValueText::ToUInt(l_request.AsString()), l_text, true);
            l_formItem = l_request["search_results_widget"];
        }
    }
    if (l_formItem.IsNull()) {
        DropReply(i_searchResults);
        return;
    }
    // The results of a reply have no order of their own: they are added by
    // folder, then file name, so that the rows stand the same on every run.
    const ItemSet l_set = i_searchResults.GetItems("search_result");
    std::vector<std::pair<std::pair<std::string, std::string>, Item*>> l_results;
    l_results.reserve(l_set.size());
    for (Item* lp_result : l_set) {
        const ItemPtr l_result(lp_result);
        l_results.push_back({{l_result["search_result_file_folder"].AsString(), l_result["search_result_file_name"].AsString()},
                             lp_result});
    }
    std::stable_sort(l_results.begin(), l_results.end(),
                     [](const auto& i_a, const auto& i_b) { return i_a.first < i_b.first; });
    FilterParser l_filter;
    l_filter.Parse(TabOf(l_formItem)->filterEdit()->text());
    for (const auto& l_result : l_results)
        AddResultRows(l_formItem, l_result.second, l_filter);
    if (delayedInvoker)
        delayedInvoker->Invoke(TabOf(l_formItem), "1Sort()", SortDelayMs);
}

void SearchForm::OnSearchResult(ItemPtr i_formItem, ItemPtr i_searchResult)
{
    FilterParser l_filter;
    l_filter.Parse(TabOf(i_formItem)->filterEdit()->text());
    AddResultRows(i_formItem, i_searchResult, l_filter);
}

void SearchForm::AddResultRows(ItemPtr i_formItem, ItemPtr i_searchResult, const FilterParser& i_filter)
{
    SearchResultsForm* lp_tab = TabOf(i_formItem);
    QTreeWidget* lp_tree = lp_tab->searchResults();
    const ItemPtr l_reply = i_searchResult["search_results"];
    const ItemPtr l_user = l_reply["user"];

    ItemPtr l_userNode = CommonPartner(i_formItem, l_user, "search_results_user_node");
    QTreeWidgetItem* lp_userRow = l_userNode.AsObject<QTreeWidgetItem>();
    if (!lp_userRow) {
        lp_userRow = new SearchResultListItem(lp_tree);
        // Shown once one of its files passes the filter.
        lp_userRow->setHidden(true);
        lp_userRow->setText(UserColumn, QString::fromLatin1(l_user.AsString()));
        lp_userRow->setText(FreeColumn, FreeText(l_reply));
        lp_userRow->setTextAlignment(FreeColumn, Qt::AlignHCenter);
        lp_userRow->setText(SpeedColumn, SpeedText(l_reply));
        l_userNode = d.GetType("search_results_user_node")->GetItem(Value(lp_userRow));
        l_userNode += i_formItem;
        l_userNode += l_user;
    }

    const ItemPtr l_folder = i_searchResult["search_result_file_folder"];
    ItemPtr l_folderNode = CommonPartner(l_userNode, l_folder, "search_results_folder_node");
    QTreeWidgetItem* lp_folderRow = l_folderNode.AsObject<QTreeWidgetItem>();
    if (!lp_folderRow) {
        lp_folderRow = new SearchResultListItem(lp_userRow);
        lp_folderRow->setHidden(true);
        lp_folderRow->setText(FolderColumn, QString::fromUtf8(ReversePathname(l_folder.AsString())));
        l_folderNode = d.GetType("search_results_folder_node")->GetItem(Value(lp_folderRow));
        l_folderNode += l_userNode;
        l_folderNode += l_folder;
    }

    auto* lp_row = new SearchResultListItem(lp_folderRow);
    lp_row->setText(FileColumn, QString::fromUtf8(i_searchResult["search_result_file_name"].AsString()));
    lp_row->setText(SizeColumn, CommafyNumber(i_searchResult["search_result_file_size"].AsInt64()));
    lp_row->setText(AttributesColumn, SharedFoldersManager::GetFileItemDisplayString(i_searchResult));
    if (IsOn(i_formItem, "expand_users"))
        lp_userRow->setExpanded(true);
    if (IsOn(i_formItem, "expand_folders"))
        lp_folderRow->setExpanded(true);
    ItemPtr l_node = d.GetType("search_result_node")->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row)));
    l_node += i_searchResult;
    l_node += l_folderNode;

    // A hidden folder or user row has no shown file below it, a shown one
    // has one: only a file that passes changes them.
    if (PassesFilter(i_filter, lp_folderRow->text(FolderColumn), lp_row->text(FileColumn))) {
        lp_folderRow->setHidden(false);
        lp_userRow->setHidden(false);
    } else {
        lp_row->setHidden(true);
    }
}

void SearchForm::OnFilterTextChanged(QString i_text)
{
    auto* lp_filterLine = qobject_cast<QLineEdit*>(sender());
    auto* lp_tab = lp_filterLine ? qobject_cast<SearchResultsForm*>(lp_filterLine->parentWidget()) : nullptr;
    if (!lp_tab)
        return;
    FilterParser l_filter;
    l_filter.Parse(i_text);
    QTreeWidget* lp_tree = lp_tab->searchResults();
    for (int l_user = 0; l_user < lp_tree->topLevelItemCount(); ++l_user) {
        QTreeWidgetItem* lp_userRow = lp_tree->topLevelItem(l_user);
        bool l_userShown = false;
        for (int l_folder = 0; l_folder < lp_userRow->childCount(); ++l_folder) {
            QTreeWidgetItem* lp_folderRow = lp_userRow->child(l_folder);
            FilterParser l_rest;
            if (l_filter.IsMatching(lp_folderRow->text(FolderColumn), &l_rest) == Mismatch) {
                lp_folderRow->setHidden(true);
                continue;
            }
            bool l_folderShown = false;
            for (int l_file = 0; l_file < lp_folderRow->childCount(); ++l_file) {
                QTreeWidgetItem* lp_row = lp_folderRow->child(l_file);
                const bool l_shown = l_rest.IsMatching(lp_row->text(FileColumn), nullptr) == Match;
                lp_row->setHidden(!l_shown);
                l_folderShown = l_folderShown || l_shown;
            }
            lp_folderRow->setHidden(!l_folderShown);
            l_userShown = l_userShown || l_folderShown;
        }
        lp_userRow->setHidden(!l_userShown);
    }
}
