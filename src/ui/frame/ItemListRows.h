#pragma once

#include <QString>

#include <map>

class Item;
class ListedRowSizes;
class QListWidget;
class QListWidgetItem;

// The rows of a list widget that shows store items by their value text,
// each row paired with its item both ways. The items are not owned; the
// owner takes an item's row out before the item goes.
//
// Every row has one size, as wide as the longest text listed: a list whose
// rows differ measures every row again whenever rows come, which thousands
// of items added in a row (a folder being shared) make far too dear.
class ItemListRows
{
public:
    explicit ItemListRows(QListWidget* ip_list);

    // Appends a row (a sorted list puts it in its place), or puts it first.
    void Add(Item* ip_item, bool i_first = false);
    // Deletes the item's row, if it has one.
    void Remove(Item* ip_item);
    // Empties the list and both maps.
    void Clear();
    Item* ItemOf(QListWidgetItem* ip_row) const;
    QListWidgetItem* RowOf(Item* ip_item) const;

private:
    QListWidget* mp_list;
    // The list's delegate, owned by the list.
    ListedRowSizes* mp_sizes;
    std::map<Item*, QListWidgetItem*> m_itemItemMap;
    std::map<QListWidgetItem*, Item*> m_ItemitemMap;
};

// The texts of the browser: an item's value, and a connected item's node
// ("[type] value", or "[type, null]" for an item of a null type).
QString ItemValueText(const Item* ip_item);
QString ConnectedItemText(const Item* ip_item);
