#pragma once

#include <QStyledItemDelegate>

class QTreeWidgetItem;

// Paints a progress bar, with its text, in the cells of a tree that carry a
// bar; other cells as usual. The bars are data of their cells rather than
// widgets: with a thousand transfers running, a progress report changes two
// values and repaints one cell, where a widget per bar costs a relayout of
// the tree for every bar made and a paint for every value set.
class ProgressBarDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int BarTextRole = Qt::UserRole + 1;
    static constexpr int BarValueRole = Qt::UserRole + 2;
    static constexpr int MaximumBarHeight = 14;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* ip_painter, const QStyleOptionViewItem& i_option, const QModelIndex& i_index) const override;

    // A bar from 0 to 100 in the cell, made when it has none; nothing
    // changes (and nothing is repainted) when it shows these already.
    static void SetBar(QTreeWidgetItem* ip_row, int i_column, const QString& i_text, int i_value);
    static void RemoveBar(QTreeWidgetItem* ip_row, int i_column);
    static bool HasBar(const QTreeWidgetItem* ip_row, int i_column);
    static QString BarText(const QTreeWidgetItem* ip_row, int i_column);
    static int BarValue(const QTreeWidgetItem* ip_row, int i_column);
};
