#pragma once

#include "core/store/Events.h"
#include "ui/frame/ItemListRows.h"

#include <QDialog>
#include <QTimer>

#include <map>
#include <memory>
#include <set>
#include <string>

class Data;
class Item;
class QListWidgetItem;
class QTreeWidgetItem;
class Type;

namespace Ui {
class DataDialog;
}

// A debugging window over the whole item store: every type with its kind
// and live item count, the items of the chosen type, and the connections
// around the chosen item as a tree that grows one level per unfolding. It
// follows additions and removals as they happen and changes nothing in the
// store. It deletes itself when closed.
class DataDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    DataDialog(Data* ip_data, QWidget* ip_parent = nullptr);
    ~DataDialog() override;

    // One level of nodes under the tree node for the items connected to the
    // item, leaving out those of the given types; each new node of an item
    // with connections carries a placeholder until it is unfolded.
    void AddItemSubnodes(Item* ip_item, QTreeWidgetItem* ip_treeItem, std::set<Type*> i_processedTypes);

    void OnItemAdded(Item* ip_item);
    void OnItemRemoved(Item* ip_item);

    static constexpr const char* PlaceholderText = "~~unloaded~~";

public slots:
    void OnTypeItemSelectionChanged();
    void OnItemClicked(QListWidgetItem* ip_item);
    void OnDataSubItemExpanded(QTreeWidgetItem* ip_item);

private:
    // The type list's column of the item counts.
    static constexpr int CountColumn = 2;

    QTreeWidgetItem* AddTypeRow(Type* ip_type);
    // A type's count changed: it is written with the others at the next
    // turn of the event loop. Fitting the columns measures every row, far
    // too dear for each of the thousands of items a rescan adds.
    void CountChanged(Type* ip_type);
    // Writes the changed counts (a type new to the list gets its row), then
    // fits the count column once, or every column after a new row.
    void WriteChangedCounts();
    void FitColumns();
    void ClearTree();
    // Deletes the node with everything below it, and forgets every deleted
    // node.
    void DeleteNode(QTreeWidgetItem* ip_node);
    void ForgetNodes(QTreeWidgetItem* ip_node);

    std::unique_ptr<Ui::DataDialog> ui;
    Data* mp_data;
    std::map<std::string, QTreeWidgetItem*> m_typeListItemMap;
    std::map<QTreeWidgetItem*, std::string> m_listItemTypeMap;
    std::set<Type*> m_changedCounts;
    QTimer m_countTimer;
    Type* mp_selectedType = nullptr;
    Item* mp_selectedItem = nullptr;
    std::unique_ptr<ItemListRows> mp_rows;
    std::map<Item*, std::set<QTreeWidgetItem*>> m_itemNodesMap;
    std::map<QTreeWidgetItem*, Item*> m_nodeItemMap;
};
