// The browse page's file list, its filter over both trees, and its two
// download commands.

#include "core/util/GeneralFunctions.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/views/FilterParser.h"
#include "ui/views/ShareForm.h"
#include "ui_ShareForm.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace
{
// The files of a folder in the order of the listing as it was sent: by
// name, byte by byte. The store's sets follow item addresses, which
// carry no meaning for the user.
std::vector<ItemPtr> SortedByName(const ItemSet& i_items, const char* ip_nameType)
{
    std::vector<std::pair<std::string, ItemPtr>> l_named;
    l_named.reserve(i_items.size());
    for (Item* lp_item : i_items)
        l_named.emplace_back(ItemPtr(lp_item)[ip_nameType].AsString(), lp_item);
    std::stable_sort(l_named.begin(), l_named.end(),
                     [](const auto& i_a, const auto& i_b) { return i_a.first < i_b.first; });
    std::vector<ItemPtr> l_sorted;
    l_sorted.reserve(l_named.size());
    for (auto& l_entry : l_named)
        l_sorted.push_back(l_entry.second);
    return l_sorted;
}

std::vector<ItemPtr> FilesOf(ItemPtr i_folder)
{
    return SortedByName(i_folder.GetItems("user_share_file"), "user_share_file_name");
}

std::vector<ItemPtr> SubFoldersOf(ItemPtr i_folder)
{
    const ItemSet l_children = i_folder.GetItems("user_share_folder_child")
                                   .GetItems("user_share_folder_parent")
                                   .GetItems("user_share_folder");
    return SortedByName(l_children, "user_share_folder_name");
}

QString FileName(ItemPtr i_file)
{
    return QString::fromUtf8(i_file["user_share_file_name"].AsString());
}

bool HasMatchingFile(ItemPtr i_folder, const FilterParser& i_filter)
{
    for (Item* lp_file : i_folder.GetItems("user_share_file")) {
        if (i_filter.IsMatching(FileName(lp_file), nullptr) == Match)
            return true;
    }
    return false;
}

// Queues one file with its folder's full remote path.
void Queue(ItemPtr i_file, int i_level)
{
    const ItemPtr l_folder = i_file["user_share_folder"];
    const std::string l_user = l_folder["user_share"]["user"].AsString();
    transferQueueManager->AddDownload(l_user, i_file["user_share_file_name"].AsString(),
                                      l_folder["user_share_folder_name"].AsString(),
                                      i_file["user_share_file_size"].AsInt64(), i_level);
}
}  // namespace

// The files of the current folder that the filter leaves: the words that no
// folder name on the row's path holds must occur in the file's name.
void ShareForm::OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem*)
{
    ClearFileList();
    const ItemPtr l_folder = FolderOf(ip_current);
    if (l_folder.IsNull())
        return;
    FilterParser l_filter;
    l_filter.Parse(ui->filterEdit->text());
    for (QTreeWidgetItem* lp_row = ip_current; lp_row; lp_row = lp_row->parent()) {
        FilterParser l_rest;
        // A folder on the path holds an unwanted word: its row is hidden.
        if (l_filter.IsMatching(lp_row->text(0), &l_rest) == Mismatch)
            return;
        l_filter = std::move(l_rest);
    }

    Type* lp_nodeType = d.GetType("user_share_file_node");
    QList<QTreeWidgetItem*> l_rows;
    for (const ItemPtr& l_file : FilesOf(l_folder)) {
        const QString l_name = FileName(l_file);
        if (l_filter.IsMatching(l_name, nullptr) != Match)
            continue;
        auto* lp_row = new QTreeWidgetItem;
        lp_row->setText(0, l_name);
        lp_row->setText(1, CommafyNumber(l_file["user_share_file_size"].AsInt64()));
        lp_row->setText(2, SharedFoldersManager::GetFileItemDisplayString(l_file));
        l_file += lp_nodeType->GetItem(Value(lp_row));
        l_rows.append(lp_row);
    }
    ui->fileList->addTopLevelItems(l_rows);
}

void ShareForm::OnFilterTextChanged(QString i_text)
{
    FilterParser l_filter;
    l_filter.Parse(i_text);
    FilterFolderTree(l_filter);
    QTreeWidgetItem* lp_current = ui->folderTree->currentItem();
    if (!lp_current)
        return;
    for (QTreeWidgetItem* lp_row = lp_current; lp_row; lp_row = lp_row->parent()) {
        if (lp_row->isHidden()) {
            ClearFileList();
            return;
        }
    }
    OnCurrentItemChanged(lp_current, lp_current);
}

// A folder row is shown when its name holds no unwanted word and either
// every wanted word occurs along its path, or one of its own files holds
// the words still missing, or a row below it is shown by the same rule. A
// row with an unwanted word is hidden with everything below it, which keeps
// its last state out of sight.
//
// The rows are walked without recursion (a listing may nest folders deeply):
// first from the top down, each row tested against what its parent left of
// the filter; then from the bottom up, a shown row showing its parent.
void ShareForm::FilterFolderTree(const FilterParser& i_filter)
{
    struct Tested
    {
        QTreeWidgetItem* mp_row;
        int m_parent;
        FilterParser m_rest;
        bool m_shown;
    };
    std::vector<Tested> l_tested;
    std::vector<std::pair<QTreeWidgetItem*, int>> l_pending;
    QTreeWidget* lp_tree = ui->folderTree;
    for (int l_row = lp_tree->topLevelItemCount() - 1; l_row >= 0; --l_row)
        l_pending.emplace_back(lp_tree->topLevelItem(l_row), -1);
    while (!l_pending.empty()) {
        const auto [lp_row, l_parent] = l_pending.back();
        l_pending.pop_back();
        FilterParser l_rest;
        const FilterParser& l_above = l_parent < 0 ? i_filter : l_tested[std::size_t(l_parent)].m_rest;
        const MatchResult l_result = l_above.IsMatching(lp_row->text(0), &l_rest);
        if (l_result == Mismatch) {
            lp_row->setHidden(true);
            continue;
        }
        const bool l_shown = l_result == Match || HasMatchingFile(FolderOf(lp_row), l_rest);
        l_tested.push_back({lp_row, l_parent, std::move(l_rest), l_shown});
        const int l_index = int(l_tested.size()) - 1;
        for (int l_child = lp_row->childCount() - 1; l_child >= 0; --l_child)
            l_pending.emplace_back(lp_row->child(l_child), l_index);
    }
    for (auto l_it = l_tested.rbegin(); l_it != l_tested.rend(); ++l_it) {
        if (l_it->m_shown && l_it->m_parent >= 0)
            l_tested[std::size_t(l_it->m_parent)].m_shown = true;
    }
    lp_tree->setUpdatesEnabled(false);
    for (const Tested& l_row : l_tested) {
        if (l_row.mp_row->isHidden() == l_row.m_shown)
            l_row.mp_row->setHidden(!l_row.m_shown);
    }
    lp_tree->setUpdatesEnabled(true);
}

// Only the page whose tree the action bar serves acts, on its own
// selection; the filter does not limit what is queued.
void ShareForm::OnActionBarTriggered(std::string i_action)
{
    if (!mp_shareItem)
        return;
    if (i_action == "download_share_folder" && actionBar->SelectedWidget() == ui->folderTree) {
        for (QTreeWidgetItem* lp_row : ui->folderTree->selectedItems()) {
            if (const ItemPtr l_folder = FolderOf(lp_row))
                DownloadFolder(l_folder);
        }
    } else if (i_action == "download_share_file" && actionBar->SelectedWidget() == ui->fileList) {
        DownloadSelectedFiles();
    }
}

void ShareForm::DownloadSelectedFiles()
{
    for (QTreeWidgetItem* lp_row : ui->fileList->selectedItems()) {
        if (const ItemPtr l_file = FileOf(lp_row))
            Queue(l_file, 0);
    }
}

// Every file of the folder and of every folder below it. The chosen folder's
// name and every name below it are kept: a file's level is how many folders
// its own folder lies below the chosen one, so files of two sub-folders with
// the same name never share a local folder. A folder's own files go before
// those of its sub-folders, depth first, without recursion.
void ShareForm::DownloadFolder(ItemPtr i_folder)
{
    std::vector<std::pair<ItemPtr, int>> l_pending{{i_folder, 0}};
    while (!l_pending.empty()) {
        const auto [l_folder, l_level] = l_pending.back();
        l_pending.pop_back();
        for (const ItemPtr& l_file : FilesOf(l_folder))
            Queue(l_file, l_level);
        const std::vector<ItemPtr> l_children = SubFoldersOf(l_folder);
        for (auto l_it = l_children.rbegin(); l_it != l_children.rend(); ++l_it)
            l_pending.emplace_back(*l_it, l_level + 1);
    }
}
