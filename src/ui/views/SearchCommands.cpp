// What the user does with search results: downloads by double-click or from
// the action bar, the order and expansion of a tab, and the wish-list
// commands.

#include "transfers/TransferQueueManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/social/UserMenuOptions.h"
#include "ui/views/SearchForm.h"
#include "ui/views/SearchResultsForm.h"
#include "ui_SearchForm.h"

#include <QCheckBox>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace
{
ItemPtr NodeOf(const char* ip_type, QTreeWidgetItem* ip_row)
{
    return ip_row ? d.GetType(ip_type)->HasItem(Value(ip_row)) : ItemPtr();
}

// Every result under a row of any level.
ItemSet ResultsUnder(QTreeWidgetItem* ip_row)
{
    if (const ItemPtr l_file = NodeOf("search_result_node", ip_row))
        return ItemSet(l_file["search_result"].Get());
    ItemSet l_folders;
    if (const ItemPtr l_folder = NodeOf("search_results_folder_node", ip_row))
        l_folders = ItemSet(l_folder.Get());
    else if (const ItemPtr l_user = NodeOf("search_results_user_node", ip_row))
        l_folders = l_user.GetItems("search_results_folder_node");
    return l_folders.GetItems("search_result_node").GetItems("search_result");
}

// A folder row, or the folder row of a file row; null for a user row.
ItemPtr FolderNodeOf(QTreeWidgetItem* ip_row)
{
    if (const ItemPtr l_folder = NodeOf("search_results_folder_node", ip_row))
        return l_folder;
    return NodeOf("search_result_node", ip_row)["search_results_folder_node"];
}

ItemList ByFileName(const ItemSet& i_results)
{
    return i_results.SortAlphabeticBy("search_result_file_name", true);
}
}  // namespace

QTreeWidgetItem* SearchForm::GetNodeUserNode(QTreeWidgetItem* ip_node)
{
    if (NodeOf("search_results_user_node", ip_node))
        return ip_node;
    if (NodeOf("search_results_folder_node", ip_node))
        return ip_node->parent();
    if (NodeOf("search_result_node", ip_node))
        return ip_node->parent()->parent();
    return nullptr;
}

// Each download is queued in the given order, at save level 0, and
// remembers the search it came from.
void SearchForm::QueueResults(const ItemSet& i_results, ItemPtr i_searchText, bool i_sortByName)
{
    const ItemList l_results = i_sortByName ? ByFileName(i_results) : ItemList(i_results.begin(), i_results.end());
    for (const ItemPtr& l_result : l_results) {
        const std::string l_user = l_result["search_results"]["user"].AsString();
        ItemPtr l_download = transferQueueManager->AddDownload(
            l_user, l_result["search_result_file_name"].AsString(), l_result["search_result_file_folder"].AsString(),
            l_result["search_result_file_size"].AsInt64(), 0);
        if (!i_searchText.IsNull())
            l_download += i_searchText;
    }
}

void SearchForm::OnResultDoubleClicked(QTreeWidgetItem* ip_result, int)
{
    SearchResultsForm* lp_tab = CurrentTab();
    if (!lp_tab)
        return;
    QueueResults(ResultsUnder(ip_result), SearchTextOf(FormItemOf(lp_tab)), true);
}

void SearchForm::OnActionBarTriggered(std::string i_action)
{
    if (i_action == "download_search_results_file")
        DownloadSelectedFiles();
    else if (i_action == "download_search_results_folder")
        DownloadSelectedFolders();
    else if (i_action == "order_by_available")
        OrderTab(true);
    else if (i_action == "order_by_fastest")
        OrderTab(false);
    else if (i_action == "expand_folders")
        ToggleExpansion("expand_folders", false);
    else if (i_action == "expand_users")
        ToggleExpansion("expand_users", true);
    else if (i_action == "add_remove_wishlist")
        AddOrRemoveWishList();
    else if (i_action == "remove_wish_list_item")
        RemoveSelectedWishListItems();
    else if (i_action == "enable_all_wish_list_items")
        CheckAllWishListItems(true);
    else if (i_action == "disable_all_wish_list_items")
        CheckAllWishListItems(false);
}

// The selected files, in the order they were selected; folders and users
// are passed over.
void SearchForm::DownloadSelectedFiles()
{
    SearchResultsForm* lp_tab = CurrentTab();
    if (!lp_tab)
        return;
    const ItemPtr l_text = SearchTextOf(FormItemOf(lp_tab));
    for (QTreeWidgetItem* lp_row : lp_tab->searchResults()->selectedItems()) {
        if (const ItemPtr l_file = NodeOf("search_result_node", lp_row))
            QueueResults(ItemSet(l_file["search_result"].Get()), l_text, false);
    }
}

// Every result of the folders of the selected rows, each once, by name; a
// selected user row stops the command.
void SearchForm::DownloadSelectedFolders()
{
    SearchResultsForm* lp_tab = CurrentTab();
    if (!lp_tab)
        return;
    ItemSet l_results;
    for (QTreeWidgetItemIterator l_it(lp_tab->searchResults(), QTreeWidgetItemIterator::Selected); *l_it; ++l_it) {
        const ItemPtr l_folder = FolderNodeOf(*l_it);
        if (l_folder.IsNull())
            return;
        l_results.Add(l_folder.GetItems("search_result_node").GetItems("search_result"));
    }
    QueueResults(l_results, SearchTextOf(FormItemOf(lp_tab)), true);
}

void SearchForm::OrderTab(bool i_byAvailability)
{
    SearchResultsForm* lp_tab = KeyedTab();
    if (!lp_tab)
        return;
    actionBar->SetWidgetActionText(lp_tab, QStringLiteral("order_by_available"),
                                   i_byAvailability ? tr("Order by Available [on]") : tr("Order by Available"));
    actionBar->SetWidgetActionText(lp_tab, QStringLiteral("order_by_fastest"),
                                   i_byAvailability ? tr("Order by Fastest") : tr("Order by Fastest [on]"));
    lp_tab->SetSortingParamters(i_byAvailability ? 1 : 2, Qt::DescendingOrder);
    lp_tab->Sort();
}

void SearchForm::ToggleExpansion(const char* ip_type, bool i_users)
{
    SearchResultsForm* lp_tab = KeyedTab();
    if (!lp_tab)
        return;
    ItemPtr l_formItem = FormItemOf(lp_tab);
    const bool l_on = l_formItem[ip_type].AsString() != "yes";
    l_formItem += d.GetType(ip_type)->GetItem(l_on ? "yes" : "no");
    const QString l_text = i_users ? tr("Expand Users [%1]") : tr("Expand Folders [%1]");
    actionBar->SetWidgetActionText(lp_tab, QString::fromLatin1(ip_type), l_text.arg(l_on ? tr("on") : tr("off")));
    QTreeWidget* lp_tree = lp_tab->searchResults();
    for (int l_user = 0; l_user < lp_tree->topLevelItemCount(); ++l_user) {
        QTreeWidgetItem* lp_userRow = lp_tree->topLevelItem(l_user);
        if (i_users) {
            lp_userRow->setExpanded(l_on);
            continue;
        }
        for (int l_folder = 0; l_folder < lp_userRow->childCount(); ++l_folder)
            lp_userRow->child(l_folder)->setExpanded(l_on);
    }
}

// An ordinary tab puts its text on the wish list (enabled); a wish-list
// tab takes its entry off. Either way once only.
void SearchForm::AddOrRemoveWishList()
{
    const ItemPtr l_request = FormItemOf(CurrentTab())["search_request"];
    if (l_request.IsNull())
        return;
    const std::string l_text = l_request["search_request_text"].AsString();
    Type* lp_wishList = d.GetType("wish_list_item");
    if (l_request.IsConnected("wishlist_search")) {
        if (const ItemPtr l_entry = lp_wishList->HasItem(l_text))
            l_entry.Remove();
        return;
    }
    if (!lp_wishList->HasItem(l_text).IsNull())
        return;
    ItemPtr l_entry = lp_wishList->GetItem(l_text);
    l_entry += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
    OnWishListItemAdded(l_entry);
}

void SearchForm::RemoveSelectedWishListItems()
{
    ItemSet l_entries;
    for (QTreeWidgetItem* lp_row : ui->wishList->selectedItems())
        l_entries.Add(ItemSet(NodeOf("wish_list_node", lp_row)["wish_list_item"].Get()));
    l_entries.Remove();
}

// The boxes change, and each box that really changes tells its entry.
void SearchForm::CheckAllWishListItems(bool i_checked)
{
    for (Item* lp_entry : d.GetType("wish_list_item")->GetItems()) {
        if (auto* lp_box = ItemPtr(lp_entry)["wish_list_node"]["wish_list_node_checkbox"].AsObject<QCheckBox>())
            lp_box->setChecked(i_checked);
    }
}

// The menu of a result is its user's, from any row of the user.
void SearchForm::OnSearchResultsContextMenuRequested(QPoint i_point)
{
    auto* lp_tree = qobject_cast<QTreeWidget*>(sender());
    QTreeWidgetItem* lp_userRow = lp_tree ? GetNodeUserNode(lp_tree->itemAt(i_point)) : nullptr;
    if (!lp_userRow)
        return;
    RunUserMenu(lp_tree, i_point, NodeOf("search_results_user_node", lp_userRow)["user"].AsString());
}
