#include "ui/frame/ItemListRows.h"

#include "core/store/Item.h"
#include "core/store/Type.h"
#include "core/util/GeneralFunctions.h"

#include <QListWidget>
#include <QStyledItemDelegate>

// The size of every row: the list asks it of one row, and it is widened to
// the longest text listed so far (by characters, so that a new row costs
// no measuring), so that every text can be scrolled to.
class ListedRowSizes : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void Listed(const QString& i_text)
    {
        if (i_text.size() > m_longest.size())
            m_longest = i_text;
    }
    void Clear() { m_longest.clear(); }

    QSize sizeHint(const QStyleOptionViewItem& i_option, const QModelIndex& i_index) const override
    {
        QSize l_size = QStyledItemDelegate::sizeHint(i_option, i_index);
        const int l_wider = i_option.fontMetrics.horizontalAdvance(m_longest) -
                            i_option.fontMetrics.horizontalAdvance(i_index.data().toString());
        if (l_wider > 0)
            l_size.rwidth() += l_wider;
        return l_size;
    }

private:
    QString m_longest;
};

namespace
{
// A row that keeps its text at hand: a sorted list compares each new row
// with a dozen others, and the toolkit's own comparison fetches both texts
// through their variants first. Same order: code unit by code unit.
class ItemRow : public QListWidgetItem
{
public:
    static constexpr int RowType = QListWidgetItem::UserType + 1;

    explicit ItemRow(const QString& i_text) : QListWidgetItem(i_text, nullptr, RowType), m_text(i_text) {}

    bool operator<(const QListWidgetItem& i_other) const override
    {
        if (i_other.type() != RowType)
            return QListWidgetItem::operator<(i_other);
        return m_text < static_cast<const ItemRow&>(i_other).m_text;
    }

private:
    const QString m_text;
};
}

ItemListRows::ItemListRows(QListWidget* ip_list) : mp_list(ip_list), mp_sizes(new ListedRowSizes(ip_list))
{
    mp_list->setItemDelegate(mp_sizes);
    mp_list->setUniformItemSizes(true);
}

void ItemListRows::Add(Item* ip_item, bool i_first)
{
    auto* lp_row = new ItemRow(ItemValueText(ip_item));
    mp_sizes->Listed(lp_row->text());
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
    mp_sizes->Clear();
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
