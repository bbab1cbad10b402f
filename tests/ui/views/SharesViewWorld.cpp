#include "SharesViewWorld.h"

#include "SharesTestWorld.h"

#include "shares/SharedFoldersManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/EventToolBar.h"
#include "ui_ShareForm.h"
#include "ui_SharesForm.h"

#include <QTreeWidget>
#include <QtTest>

SharesViewWorld::SharesViewWorld()
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    mp_world = std::make_unique<TransfersTestWorld>(false);
    mp_bar = std::make_unique<ActionSetToolBar>();
    mp_tabs = std::make_unique<SharesForm>();
    mp_tabs->Init();
    mp_world->Peer().Load();
    // As the main window makes it: after the views' Init.
    mp_events = std::make_unique<EventToolBar>();
}

SharesViewWorld::~SharesViewWorld()
{
    // The pages go before the services, as at the program's end.
    mp_tabs.reset();
    mp_events.reset();
    mp_bar.reset();
    mp_world.reset();
}

QTabWidget& SharesViewWorld::TabControl() const
{
    return *mp_tabs->Form()->tabControl;
}

FileInfoMap SharesViewWorld::ToFileInfoMap(const Listing& i_listing)
{
    FileInfoMap l_map;
    for (const auto& [l_folder, l_files] : i_listing) {
        std::set<FileInfo>& l_records = l_map[l_folder];
        for (const ListedFile& l_file : l_files) {
            FileInfo l_record;
            l_record.m_name = l_file.m_name;
            l_record.m_fileSize = l_file.m_size;
            l_record.m_attributeMap.m_map.assign(l_file.m_attributes.begin(), l_file.m_attributes.end());
            l_records.insert(l_record);
        }
    }
    return l_map;
}

void SharesViewWorld::HandOver(const std::string& i_user, const Listing& i_listing)
{
    FileInfoMap l_map = ToFileInfoMap(i_listing);
    AttributeTranslationTable l_table;
    sharedFoldersManager->OnUserShare(i_user, l_map, l_table);
}

bool SharesViewWorld::WaitUntilStored(const std::function<void()>& i_betweenTurns)
{
    return WaitUntilListingsStored(i_betweenTurns);
}

ShareForm* SharesViewWorld::Receive(const std::string& i_user, const Listing& i_listing)
{
    HandOver(i_user, i_listing);
    if (!WaitUntilStored())
        return nullptr;
    const ItemPtr l_tab = d.GetType("user")->GetItem(i_user)["user_share"]["user_share_tab"];
    return l_tab.AsObject<ShareForm>();
}

QStringList SharesViewWorld::Titles() const
{
    QStringList l_titles;
    for (int l_tab = 0; l_tab < TabControl().count(); ++l_tab)
        l_titles << TabControl().tabText(l_tab);
    return l_titles;
}

QTreeWidgetItem* SharesViewWorld::FolderRow(ShareForm& i_page, const QString& i_path)
{
    QTreeWidget* lp_tree = i_page.Form()->folderTree;
    QTreeWidgetItem* lp_row = lp_tree->invisibleRootItem();
    for (const QString& l_name : i_path.split(QLatin1Char('/'))) {
        QTreeWidgetItem* lp_next = nullptr;
        for (int l_child = 0; l_child < lp_row->childCount() && !lp_next; ++l_child) {
            if (lp_row->child(l_child)->text(0) == l_name)
                lp_next = lp_row->child(l_child);
        }
        if (!lp_next)
            return nullptr;
        lp_row = lp_next;
    }
    return lp_row;
}

void SharesViewWorld::Open(ShareForm& i_page, const QString& i_path)
{
    i_page.Form()->folderTree->setCurrentItem(FolderRow(i_page, i_path));
}

namespace
{
void AppendExpanded(QTreeWidgetItem* ip_row, const QString& i_path, QStringList& o_paths)
{
    const QString l_path = i_path.isEmpty() ? ip_row->text(0) : i_path + QLatin1Char('/') + ip_row->text(0);
    if (ip_row->isExpanded())
        o_paths << l_path;
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        AppendExpanded(ip_row->child(l_child), l_path, o_paths);
}
}  // namespace

QStringList SharesViewWorld::Expanded(const QTreeWidget& i_tree)
{
    QStringList l_paths;
    for (int l_row = 0; l_row < i_tree.topLevelItemCount(); ++l_row)
        AppendExpanded(i_tree.topLevelItem(l_row), QString(), l_paths);
    return l_paths;
}

QStringList SharesViewWorld::Downloads()
{
    QStringList l_lines;
    for (const ItemPtr& l_entry : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true)) {
        l_lines << QStringLiteral("%1 | %2 | %3 | %4 | %5")
                       .arg(QString::fromStdString(l_entry["user"].AsString()),
                            QString::fromStdString(l_entry["remote_folder"].AsString()),
                            QString::fromStdString(l_entry["file_name"].AsString()),
                            QString::fromStdString(l_entry["file_size"].AsString()),
                            QString::fromStdString(l_entry["subfolder_save_level"].AsString()));
    }
    return l_lines;
}
