#include "ui/views/ProgressBarDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <QTreeWidgetItem>

void ProgressBarDelegate::paint(QPainter* ip_painter, const QStyleOptionViewItem& i_option,
                                const QModelIndex& i_index) const
{
    const QVariant l_value = i_index.data(BarValueRole);
    if (!l_value.isValid()) {
        QStyledItemDelegate::paint(ip_painter, i_option, i_index);
        return;
    }
    const QWidget* lp_widget = i_option.widget;
    QStyle* lp_style = lp_widget ? lp_widget->style() : QApplication::style();
    // The cell's own background (selection, alternate rows) under the bar.
    QStyleOptionViewItem l_cell = i_option;
    initStyleOption(&l_cell, i_index);
    l_cell.text.clear();
    lp_style->drawPrimitive(QStyle::PE_PanelItemViewItem, &l_cell, ip_painter, lp_widget);

    QStyleOptionProgressBar l_bar;
    l_bar.initFrom(lp_widget);
    l_bar.state = i_option.state | QStyle::State_Horizontal;
    const int l_height = qMin(i_option.rect.height(), MaximumBarHeight);
    l_bar.rect = QRect(i_option.rect.left(), i_option.rect.top() + (i_option.rect.height() - l_height) / 2,
                       i_option.rect.width(), l_height);
    l_bar.minimum = 0;
    l_bar.maximum = 100;
    l_bar.progress = l_value.toInt();
    l_bar.text = i_index.data(BarTextRole).toString();
    l_bar.textVisible = true;
    l_bar.textAlignment = Qt::AlignCenter;
    lp_style->drawControl(QStyle::CE_ProgressBar, &l_bar, ip_painter, lp_widget);
}

void ProgressBarDelegate::SetBar(QTreeWidgetItem* ip_row, int i_column, const QString& i_text, int i_value)
{
    const int l_value = qBound(0, i_value, 100);
    if (ip_row->data(i_column, BarTextRole).toString() != i_text || !HasBar(ip_row, i_column))
        ip_row->setData(i_column, BarTextRole, i_text);
    const QVariant l_old = ip_row->data(i_column, BarValueRole);
    if (!l_old.isValid() || l_old.toInt() != l_value)
        ip_row->setData(i_column, BarValueRole, l_value);
}

void ProgressBarDelegate::RemoveBar(QTreeWidgetItem* ip_row, int i_column)
{
    if (!HasBar(ip_row, i_column))
        return;
    ip_row->setData(i_column, BarValueRole, QVariant());
    ip_row->setData(i_column, BarTextRole, QVariant());
}

bool ProgressBarDelegate::HasBar(const QTreeWidgetItem* ip_row, int i_column)
{
    return ip_row->data(i_column, BarValueRole).isValid();
}

QString ProgressBarDelegate::BarText(const QTreeWidgetItem* ip_row, int i_column)
{
    return ip_row->data(i_column, BarTextRole).toString();
}

int ProgressBarDelegate::BarValue(const QTreeWidgetItem* ip_row, int i_column)
{
    return ip_row->data(i_column, BarValueRole).toInt();
}
