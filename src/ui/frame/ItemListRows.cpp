#include "ui/frame/ItemListRows.h"

#include "core/store/Item.h"
#include "core/store/Type.h"
#include "core/util/GeneralFunctions.h"

#include <QListWidget>

void ItemListRows::Add(Item* ip_item, bool i_first)
{
    auto* lp_row = new QListWidgetItem(ItemValueText(ip_item));
    if (i_first)
        mp_list->insertItem(0, lp_row);
    else
        mp_list->addItem(lp_row);
    m_itemItemMap[ip_item] = lp_row;
    m_ItemitemMap[lp_row] = ip_item;
}

void ItemListRows::Remove(Item* ip_item)
{
    const auto l_found = m_itemItemMap.find(ip_item);
    if (l_found == m_itemItemMap.end())
        return;
    m_ItemitemMap.erase(l_found->second);
    delete l_found->second;
    m_itemItemMap.erase(l_found);
}

void ItemListRows::Clear()
{
    mp_list->clear();
    m_itemItemMap.clear();
    m_ItemitemMap.clear();
}

Item* ItemListRows::ItemOf(QListWidgetItem* ip_row) const
{
    const auto l_found = m_ItemitemMap.find(ip_row);
    return l_found == m_ItemitemMap.end() ? nullptr : l_found->second;
}

QListWidgetItem* ItemListRows::RowOf(Item* ip_item) const
{
    const auto l_found = m_itemItemMap.find(ip_item);
    return l_found == m_itemItemMap.end() ? nullptr : l_found->second;
}

QString ItemValueText(const Item* ip_item)
{
    return FromLatin1Text(ip_item->m_value);
}

QString ConnectedItemText(const Item* ip_item)
{
    const QString l_type = FromLatin1Text(ip_item->mp_type->m_name);
    if (ip_item->mp_type->m_null)
        return QStringLiteral("[%1, null]").arg(l_type);
    return QStringLiteral("[%1] %2").arg(l_type, ItemValueText(ip_item));
}
