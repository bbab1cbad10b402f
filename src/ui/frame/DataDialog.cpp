#include "ui/frame/DataDialog.h"

#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"

#include "ui_DataDialog.h"

#include <QHeaderView>

DataDialog::DataDialog(Data* ip_data, QWidget* ip_parent)
    : QDialog(ip_parent), ui(std::make_unique<Ui::DataDialog>()), mp_data(ip_data)
{
    ui->setupUi(this);
    mp_rows = std::make_unique<ItemListRows>(ui->itemList);
    connect(ui->typeList, &QTreeWidget::itemSelectionChanged, this, &DataDialog::OnTypeItemSelectionChanged);
    connect(ui->itemList, &QListWidget::itemClicked, this, &DataDialog::OnItemClicked);
    connect(ui->itemDataTree, &QTreeWidget::itemExpanded, this, &DataDialog::OnDataSubItemExpanded);

    // The right side takes all growth of the window.
    ui->typeSplitter->setSizes({300, width() - 300});
    ui->typeSplitter->setStretchFactor(0, 0);
    ui->typeSplitter->setStretchFactor(1, 1);

    ui->typeList->setColumnCount(3);
    ui->typeList->setHeaderLabels({QStringLiteral("Type"), QString(), QStringLiteral("#")});
    // Fitted to their contents by WriteChangedCounts, not on every change
    // of a cell; the user cannot drag them, as with a fitting header.
    ui->typeList->header()->setSectionResizeMode(QHeaderView::Fixed);
    QHash<std::string, Type*> l_types;
    mp_data->GetTypes(l_types);
    for (Type* lp_type : l_types)
        AddTypeRow(lp_type);
    ui->typeList->sortItems(0, Qt::AscendingOrder);
    FitColumns();
    m_countTimer.setSingleShot(true);
    m_countTimer.setInterval(0);
    connect(&m_countTimer, &QTimer::timeout, this, &DataDialog::WriteChangedCounts);
    ui->itemList->sortItems(Qt::AscendingOrder);
    ui->itemList->setSortingEnabled(true);

    setAttribute(Qt::WA_DeleteOnClose);
    mp_data->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&DataDialog::OnItemAdded));
    mp_data->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&DataDialog::OnItemRemoved));
}

DataDialog::~DataDialog() = default;

QTreeWidgetItem* DataDialog::AddTypeRow(Type* ip_type)
{
    auto* lp_row = new QTreeWidgetItem(ui->typeList);
    lp_row->setText(0, FromLatin1Text(ip_type->m_name));
    lp_row->setText(1, ip_type->m_null ? QStringLiteral("null   ") : QStringLiteral("value   "));
    lp_row->setText(CountColumn, QString::number(ip_type->ItemCount()));
    m_typeListItemMap[ip_type->m_name] = lp_row;
    m_listItemTypeMap[lp_row] = ip_type->m_name;
    return lp_row;
}

void DataDialog::CountChanged(Type* ip_type)
{
    m_changedCounts.insert(ip_type);
    if (!m_countTimer.isActive())
        m_countTimer.start();
}

void DataDialog::WriteChangedCounts()
{
    bool l_newRows = false;
    for (Type* lp_type : m_changedCounts) {
        const auto l_found = m_typeListItemMap.find(lp_type->m_name);
        if (l_found != m_typeListItemMap.end()) {
            l_found->second->setText(CountColumn, QString::number(lp_type->ItemCount()));
            continue;
        }
        // A type declared after the browser opened gets its row now.
        AddTypeRow(lp_type);
        l_newRows = true;
    }
    m_changedCounts.clear();
    if (!l_newRows) {
        ui->typeList->resizeColumnToContents(CountColumn);
        return;
    }
    ui->typeList->sortItems(0, Qt::AscendingOrder);
    FitColumns();
}

void DataDialog::FitColumns()
{
    for (int l_column = 0; l_column < ui->typeList->columnCount(); ++l_column)
        ui->typeList->resizeColumnToContents(l_column);
}

void DataDialog::OnTypeItemSelectionChanged()
{
    const QList<QTreeWidgetItem*> l_selected = ui->typeList->selectedItems();
    if (l_selected.isEmpty())
        return;
    mp_selectedType = nullptr;
    mp_rows->Clear();
    ClearTree();
    const auto l_found = m_listItemTypeMap.find(l_selected.first());
    if (l_found == m_listItemTypeMap.end())
        return;
    Type* lp_type = mp_data->GetType(l_found->second);
    // Items of a null type have no value to list.
    if (lp_type->m_null)
        return;
    mp_selectedType = lp_type;
    for (Item* lp_item : lp_type->UnorderedItems())
        mp_rows->Add(lp_item);
}

void DataDialog::OnItemClicked(QListWidgetItem* ip_item)
{
    ClearTree();
    mp_selectedItem = mp_rows->ItemOf(ip_item);
    if (!mp_selectedItem)
        return;
    auto* lp_root = new QTreeWidgetItem(ui->itemDataTree, QStringList(ItemValueText(mp_selectedItem)));
    AddItemSubnodes(mp_selectedItem, lp_root, {mp_selectedItem->mp_type});
    m_itemNodesMap[mp_selectedItem].insert(lp_root);
    m_nodeItemMap[lp_root] = mp_selectedItem;
}

void DataDialog::AddItemSubnodes(Item* ip_item, QTreeWidgetItem* ip_treeItem, std::set<Type*> i_processedTypes)
{
    std::map<Type*, ItemSet> l_table;
    ip_item->GetConnectedItems(l_table);
    for (const auto& [lp_type, l_items] : l_table) {
        if (i_processedTypes.count(lp_type))
            continue;
        for (Item* lp_connected : l_items) {
            auto* lp_node = new QTreeWidgetItem(ip_treeItem, QStringList(ConnectedItemText(lp_connected)));
            if (!lp_connected->IsDisconnectedFromAll())
                new QTreeWidgetItem(lp_node, QStringList(QString::fromLatin1(PlaceholderText)));
            m_itemNodesMap[lp_connected].insert(lp_node);
            m_nodeItemMap[lp_node] = lp_connected;
        }
        ip_treeItem->setExpanded(true);
    }
}

void DataDialog::OnDataSubItemExpanded(QTreeWidgetItem* ip_item)
{
    // Only a node that still holds its placeholder is filled.
    if (ip_item->childCount() != 1 || m_nodeItemMap.count(ip_item->child(0)))
        return;
    const auto l_found = m_nodeItemMap.find(ip_item);
    if (l_found == m_nodeItemMap.end())
        return;
    delete ip_item->takeChild(0);
    Item* lp_item = l_found->second;
    AddItemSubnodes(lp_item, ip_item, {lp_item->mp_type});
    ui->itemDataTree->setCurrentItem(ip_item);
}

void DataDialog::OnItemAdded(Item* ip_item)
{
    CountChanged(ip_item->mp_type);
    if (ip_item->mp_type == mp_selectedType)
        mp_rows->Add(ip_item);
}

void DataDialog::OnItemRemoved(Item* ip_item)
{
    // Counted once it is gone: the store unlists it before the count is
    // written.
    CountChanged(ip_item->mp_type);
    if (ip_item->mp_type == mp_selectedType)
        mp_rows->Remove(ip_item);
    if (ip_item == mp_selectedItem) {
        ClearTree();
        return;
    }
    // One node at a time: a node may lie below another node of the same
    // item, and deleting the upper one takes it along.
    for (auto l_found = m_itemNodesMap.find(ip_item); l_found != m_itemNodesMap.end();
         l_found = m_itemNodesMap.find(ip_item))
        DeleteNode(*l_found->second.begin());
}

void DataDialog::ClearTree()
{
    ui->itemDataTree->clear();
    m_itemNodesMap.clear();
    m_nodeItemMap.clear();
    mp_selectedItem = nullptr;
}

void DataDialog::DeleteNode(QTreeWidgetItem* ip_node)
{
    ForgetNodes(ip_node);
    delete ip_node;
}

void DataDialog::ForgetNodes(QTreeWidgetItem* ip_node)
{
    for (int l_child = 0; l_child < ip_node->childCount(); ++l_child)
        ForgetNodes(ip_node->child(l_child));
    const auto l_found = m_nodeItemMap.find(ip_node);
    if (l_found == m_nodeItemMap.end())
        return;
    const auto l_nodes = m_itemNodesMap.find(l_found->second);
    if (l_nodes != m_itemNodesMap.end()) {
        l_nodes->second.erase(ip_node);
        if (l_nodes->second.empty())
            m_itemNodesMap.erase(l_nodes);
    }
    m_nodeItemMap.erase(l_found);
}
