#pragma once

#include "core/store/Events.h"
#include "ui/frame/ItemListRows.h"

#include <QWidget>

#include <memory>
#include <set>

class Item;
class QListWidgetItem;
class QTreeWidgetItem;
class Type;

namespace Ui {
class DataTabPage;
}

// A smaller page of the store browser for the items of one type: the items
// added since it was made (newest first) and, for a clicked item, its whole
// connection tree built at once.
class DataTabPage : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    DataTabPage(Type* ip_type, QWidget* ip_parent = nullptr);
    ~DataTabPage() override;

    // Every level below the node at once; along any path from the root each
    // type appears once, which ends the recursion.
    void AddItemSubnodes(Item* ip_item, QTreeWidgetItem* ip_treeItem, std::set<Type*> i_processedTypes);

    void OnItemAdded(Item* ip_item);
    void OnItemRemoved(Item* ip_item);

public slots:
    void OnItemClicked(QListWidgetItem* ip_item);

private:
    std::unique_ptr<Ui::DataTabPage> ui;
    Type* mp_type;
    std::unique_ptr<ItemListRows> mp_rows;
};
