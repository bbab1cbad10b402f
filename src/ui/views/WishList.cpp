// The wish list beside the results tabs: one row per entry, with a check
// box that switches the entry on or off.

#include "ui/frame/ActionSetToolBar.h"
#include "ui/views/SearchForm.h"
#include "ui/widgets/ColumnWidths.h"
#include "ui_SearchForm.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QTreeWidget>

namespace
{
constexpr int CheckColumn = 0;
constexpr int TextColumn = 1;

// Whether the entry is on, kept under the check box without a text: a text
// there would show beside the box, which is all the column holds.
constexpr int EnabledRole = Qt::UserRole;

// A row of the wish list. Sorting by the check column groups disabled
// entries before enabled ones (ascending); other columns sort by their text.
class WishListRow : public QTreeWidgetItem
{
public:
    bool operator<(const QTreeWidgetItem& i_other) const override
    {
        const QTreeWidget* lp_tree = treeWidget();
        if (!lp_tree || lp_tree->sortColumn() != CheckColumn)
            return QTreeWidgetItem::operator<(i_other);
        return !data(CheckColumn, EnabledRole).toBool() && i_other.data(CheckColumn, EnabledRole).toBool();
    }
};

void ShowEnabled(QTreeWidgetItem* ip_row, bool i_enabled)
{
    ip_row->setData(CheckColumn, EnabledRole, i_enabled);
}
}  // namespace

void SearchForm::SetUpWishList()
{
    QTreeWidget* lp_list = ui->wishList;
    lp_list->setColumnCount(2);
    lp_list->setHeaderLabels({QString(), tr("Wish List Search")});
    lp_list->setColumnWidth(CheckColumn, 20);
    lp_list->header()->setSectionResizeMode(QHeaderView::Fixed);
    lp_list->header()->setStretchLastSection(true);
    lp_list->setSortingEnabled(true);
    lp_list->sortByColumn(TextColumn, Qt::AscendingOrder);
    // 20 px cut the box of styles with larger indicators; the user cannot
    // widen the column.
    WidenColumnToHoldCheckBox(lp_list, CheckColumn);

    const std::string l_icon = ":/icons/wishlist_icon";
    actionBar->AddSetAction("wish_list", "remove_wish_list_item", "Remove Wish List Search", l_icon, false);
    actionBar->AddSetAction("wish_list", "enable_all_wish_list_items", "Enable All Wish List Searches", l_icon, false);
    actionBar->AddSetAction("wish_list", "disable_all_wish_list_items", "Disable All Wish List Searches", l_icon, false);
    actionBar->RegisterWidget(lp_list, QStringLiteral("wish_list"));
}

void SearchForm::OnWishListItemAdded(Item* ip_item)
{
    const ItemPtr l_entry(ip_item);
    auto* lp_row = new WishListRow;
    lp_row->setText(TextColumn, QString::fromUtf8(l_entry.AsString()));
    const bool l_enabled = l_entry.IsConnected("wish_list_item_enabled");
    ShowEnabled(lp_row, l_enabled);
    ui->wishList->addTopLevelItem(lp_row);
    auto* lp_box = new QCheckBox;
    lp_box->setChecked(l_enabled);
    ui->wishList->setItemWidget(lp_row, CheckColumn, lp_box);

    ItemPtr l_node = d.GetType("wish_list_node")->GetItem(Value(lp_row));
    l_node += l_entry;
    l_node += d.GetType("wish_list_node_checkbox")->GetItem(Value(lp_box));
    // Only now: building the row changes nothing of the entry.
    connect(lp_box, &QCheckBox::stateChanged, this, &SearchForm::OnWishListItemCheckStateChanged);
}

// The entry goes with its row and with its searches that no tab shows; an
// open tab of the entry stays.
void SearchForm::OnWishListItemRemoved(Item* ip_item)
{
    const ItemPtr l_entry(ip_item);
    RemoveUnshownRequests(d.GetType("search_request_text")->HasItem(l_entry.AsString()), {});
    const ItemPtr l_node = l_entry["wish_list_node"];
    if (l_node.IsNull())
        return;
    const ItemPtr l_box = l_node["wish_list_node_checkbox"];
    delete l_node.AsObject<QTreeWidgetItem>();
    if (!l_box.IsNull())
        l_box.Remove();
    l_node.Remove();
}

void SearchForm::OnWishListItemCheckStateChanged(int i_state)
{
    const ItemPtr l_node = d.GetType("wish_list_node_checkbox")->HasItem(Value(sender()))["wish_list_node"];
    ItemPtr l_entry = l_node["wish_list_item"];
    if (l_entry.IsNull())
        return;
    auto* lp_row = l_node.AsObject<QTreeWidgetItem>();
    if (i_state == Qt::Checked) {
        l_entry += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
        ShowEnabled(lp_row, true);
    } else if (i_state == Qt::Unchecked) {
        l_entry.Disconnect("wish_list_item_enabled");
        ShowEnabled(lp_row, false);
    }
}
