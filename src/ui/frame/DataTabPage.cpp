#include "ui/frame/DataTabPage.h"

#include "core/store/Data.h"

#include "ui_DataTabPage.h"

#include <map>

DataTabPage::DataTabPage(Type* ip_type, QWidget* ip_parent)
    : QWidget(ip_parent), ui(std::make_unique<Ui::DataTabPage>()), mp_type(ip_type)
{
    ui->setupUi(this);
    mp_rows = std::make_unique<ItemListRows>(ui->itemList);
    connect(ui->itemList, &QListWidget::itemClicked, this, &DataTabPage::OnItemClicked);
    mp_type->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&DataTabPage::OnItemAdded));
    mp_type->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&DataTabPage::OnItemRemoved));
    ui->itemDataTree->setHeaderLabel(QStringLiteral("Item"));
}

DataTabPage::~DataTabPage() = default;

void DataTabPage::OnItemAdded(Item* ip_item)
{
    mp_rows->Add(ip_item, true);
}

void DataTabPage::OnItemRemoved(Item* ip_item)
{
    mp_rows->Remove(ip_item);
}

void DataTabPage::OnItemClicked(QListWidgetItem* ip_item)
{
    ui->itemDataTree->clear();
    Item* lp_item = mp_rows->ItemOf(ip_item);
    if (!lp_item)
        return;
    auto* lp_root = new QTreeWidgetItem(ui->itemDataTree, QStringList(ItemValueText(lp_item)));
    AddItemSubnodes(lp_item, lp_root, {lp_item->mp_type});
    ui->itemDataTree->expandAll();
}

void DataTabPage::AddItemSubnodes(Item* ip_item, QTreeWidgetItem* ip_treeItem, std::set<Type*> i_processedTypes)
{
    std::map<Type*, ItemSet> l_table;
    ip_item->GetConnectedItems(l_table);
    for (const auto& [lp_type, l_items] : l_table) {
        if (i_processedTypes.count(lp_type))
            continue;
        std::set<Type*> l_extended = i_processedTypes;
        l_extended.insert(lp_type);
        for (Item* lp_connected : l_items)
            AddItemSubnodes(lp_connected, new QTreeWidgetItem(ip_treeItem, QStringList(ConnectedItemText(lp_connected))),
                            l_extended);
    }
}
