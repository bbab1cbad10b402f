// The browse page: building the folder tree from the listing, the expand
// commands, and the two ways a page ends (closed by hand, or its listing
// replaced).

#include "ui/views/ShareForm.h"

#include "core/persist/Settings.h"
#include "core/util/GeneralFunctions.h"
#include "shares/SharedFoldersManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/EventToolBar.h"
#include "ui/widgets/ColumnWidths.h"
#include "ui_ShareForm.h"

#include <QTabWidget>

#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace
{
constexpr char FolderNodeType[] = "user_share_folder_node";
constexpr char FileNodeType[] = "user_share_file_node";

// The tab set that shows the page: a tab widget keeps its pages in an inner
// stack, so it is the page's grandparent.
QTabWidget* EnclosingTabs(QWidget* ip_page)
{
    QWidget* lp_stack = ip_page->parentWidget();
    return lp_stack ? qobject_cast<QTabWidget*>(lp_stack->parentWidget()) : nullptr;
}

void RemoveNode(const char* ip_type, QTreeWidgetItem* ip_row)
{
    if (ItemPtr l_node = d.GetType(ip_type)->HasItem(Value(ip_row)))
        l_node.Remove();
}
}  // namespace

ShareForm::ShareForm(Item* ip_share, QWidget* ip_parent)
    : QWidget(ip_parent), ui(new Ui::ShareForm), mp_shareItem(ip_share)
{
    ui->setupUi(this);
    SetUpWidgets();
    d.GetType("user_share_tab")->GetItem(Value(static_cast<QWidget*>(this))) += mp_shareItem;
    mp_removalHandler = MakeHandler(&ShareForm::OnShareRemoved);
    d.GetType("user_share")->ItemRemovedEvent.m_handlerSet.insert(
        static_cast<EventHandlerBase<Item*>*>(mp_removalHandler));

    BuildFolderTree();

    // The notice stays until the page is first shown.
    if (eventToolBar)
        eventToolBar->AddEvent(QString::fromLatin1(ItemPtr(mp_shareItem)["user"].AsString()),
                               QStringLiteral(":/icons/browse_icon"), ui->folderTree);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ShareForm::OnActionBarTriggered);
    m_expandLevel = 0;
}

ShareForm::~ShareForm()
{
    // The trees go after this part of the page: nothing they signal while
    // they are destroyed may reach it.
    disconnect(ui->folderTree, nullptr, this, nullptr);
    disconnect(ui->filterEdit, nullptr, this, nullptr);
    delete ui;
}

void ShareForm::SetUpWidgets()
{
    ui->folderTree->setHeaderLabels({tr("Folder")});
    ui->fileList->setHeaderLabels({tr("File"), tr("Size"), tr("Attributes")});
    ui->fileList->setColumnWidth(0, 200);
    ui->fileList->setColumnWidth(1, 70);
    WidenColumnToShow(ui->fileList, 1, TypicalText::Size());
    // One line a row: large folders need not measure every row.
    ui->folderTree->setUniformRowHeights(true);
    ui->fileList->setUniformRowHeights(true);
    // A flat list: no room kept for branches.
    ui->fileList->setRootIsDecorated(false);
    // Focus given to the page lands in the folder tree, whose commands the
    // action bar then shows.
    setFocusProxy(ui->folderTree);
    actionBar->RegisterWidget(ui->folderTree, QStringLiteral("share_folders"));
    actionBar->RegisterWidget(ui->fileList, QStringLiteral("share_files"));

    connect(ui->folderTree, &QTreeWidget::currentItemChanged, this, &ShareForm::OnCurrentItemChanged);
    connect(ui->filterEdit, &QLineEdit::textChanged, this, &ShareForm::OnFilterTextChanged);
}

// One row per folder, under the row of its parent folder when the listing
// has that folder, else at the top. The folders are taken in byte-wise order
// of their names, in which a name comes before every name it begins, so a
// parent's row exists before its children's, and siblings stand in that
// order; the tree is never sorted.
void ShareForm::BuildFolderTree()
{
    std::map<std::string, Item*> l_byName;
    for (Item* lp_folder : ItemPtr(mp_shareItem).GetItems("user_share_folder"))
        l_byName[ItemPtr(lp_folder)["user_share_folder_name"].AsString()] = lp_folder;

    struct Placed
    {
        QTreeWidgetItem* mp_row;
        int m_depth;
    };
    std::unordered_map<std::string_view, Placed> l_rows;
    l_rows.reserve(l_byName.size());
    QList<QTreeWidgetItem*> l_topLevel;
    Type* lp_nodeType = d.GetType(FolderNodeType);
    m_maxLevel = 0;
    for (const auto& [l_name, lp_folder] : l_byName) {
        const std::string l_parentName = GetParentFolder(l_name);
        const auto l_parent = l_parentName == l_name ? l_rows.end() : l_rows.find(l_parentName);
        QTreeWidgetItem* lp_row;
        int l_depth = 0;
        if (l_parent == l_rows.end()) {
            lp_row = new QTreeWidgetItem;
            l_topLevel.append(lp_row);
        } else {
            lp_row = new QTreeWidgetItem(l_parent->second.mp_row);
            l_depth = l_parent->second.m_depth + 1;
            m_maxLevel = std::max(m_maxLevel, l_depth);
        }
        lp_row->setText(0, QString::fromUtf8(GetFileName(l_name)));
        ItemPtr(lp_folder) += lp_nodeType->GetItem(Value(lp_row));
        l_rows.emplace(l_name, Placed{lp_row, l_depth});
    }

    ui->folderTree->setUpdatesEnabled(false);
    ui->folderTree->addTopLevelItems(l_topLevel);
    if (Settings::IsYes("expand_new_shares"))
        ui->folderTree->expandAll();
    ui->folderTree->setUpdatesEnabled(true);
}

void ShareForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(ui->folderTree);
}

void ShareForm::ExpandLevel()
{
    if (m_expandLevel == m_maxLevel)
        return;
    ui->folderTree->expandToDepth(m_expandLevel);
    ++m_expandLevel;
    SetExpandLevelText();
}

void ShareForm::CollapseAll()
{
    ui->folderTree->collapseAll();
    m_expandLevel = 0;
    SetExpandLevelText();
}

void ShareForm::ExpandAll()
{
    ui->folderTree->expandAll();
    m_expandLevel = 0;
    SetExpandLevelText();
}

void ShareForm::SetExpandLevelText()
{
    const QString l_text = m_expandLevel == 0 ? tr("Expand Level") : tr("Expand Level [%1]").arg(m_expandLevel);
    actionBar->SetWidgetActionText(ui->folderTree, QStringLiteral("expand_level"), l_text);
}

ItemPtr ShareForm::FolderOf(QTreeWidgetItem* ip_row)
{
    if (!ip_row)
        return {};
    return d.GetType(FolderNodeType)->HasItem(Value(ip_row))["user_share_folder"];
}

ItemPtr ShareForm::FileOf(QTreeWidgetItem* ip_row)
{
    if (!ip_row)
        return {};
    return d.GetType(FileNodeType)->HasItem(Value(ip_row))["user_share_file"];
}

void ShareForm::ClearFileList()
{
    QTreeWidget* lp_list = ui->fileList;
    for (int l_row = 0; l_row < lp_list->topLevelItemCount(); ++l_row)
        RemoveNode(FileNodeType, lp_list->topLevelItem(l_row));
    lp_list->clear();
}

void ShareForm::RemoveRowNodes()
{
    for (int l_row = 0; l_row < ui->fileList->topLevelItemCount(); ++l_row)
        RemoveNode(FileNodeType, ui->fileList->topLevelItem(l_row));
    // Without recursion: a listing may nest folders deeply.
    std::vector<QTreeWidgetItem*> l_rows;
    for (int l_row = 0; l_row < ui->folderTree->topLevelItemCount(); ++l_row)
        l_rows.push_back(ui->folderTree->topLevelItem(l_row));
    while (!l_rows.empty()) {
        QTreeWidgetItem* lp_row = l_rows.back();
        l_rows.pop_back();
        RemoveNode(FolderNodeType, lp_row);
        for (int l_child = 0; l_child < lp_row->childCount(); ++l_child)
            l_rows.push_back(lp_row->child(l_child));
    }
}

void ShareForm::StopWatchingShare()
{
    // The store lets go of the handler the next time the event fires.
    if (mp_removalHandler)
        mp_removalHandler->m_removed = true;
    mp_removalHandler = nullptr;
}

void ShareForm::RemoveTabItem()
{
    if (ItemPtr l_tab = d.GetType("user_share_tab")->HasItem(Value(static_cast<QWidget*>(this))))
        l_tab.Remove();
}

void ShareForm::Delete()
{
    // First: the removal below must not reach this page's own handler.
    StopWatchingShare();
    RemoveRowNodes();
    if (mp_shareItem)
        SharedFoldersManager::RemoveUserShare(mp_shareItem);
    mp_shareItem = nullptr;
    RemoveTabItem();
    d.RemoveDisconnectedItems();
    delete this;
}

// The listing goes while the page shows it (a newer listing of the same
// user replaces it): the page lets go of it whole and closes. The listing is
// still whole here, so its rows' node items can be found.
void ShareForm::OnShareRemoved(Item* ip_share)
{
    if (ip_share != mp_shareItem)
        return;
    StopWatchingShare();
    disconnect(actionBar, nullptr, this, nullptr);
    RemoveRowNodes();
    mp_shareItem = nullptr;
    ui->fileList->clear();
    ui->folderTree->clear();
    RemoveTabItem();
    if (QTabWidget* lp_tabs = EnclosingTabs(this))
        lp_tabs->removeTab(lp_tabs->indexOf(this));
    deleteLater();
}
