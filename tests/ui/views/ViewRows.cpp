#include "ViewRows.h"

#include <QTreeWidget>

namespace
{
void AppendOutline(const QTreeWidgetItem* ip_row, int i_depth, bool i_shownOnly, QStringList& o_lines)
{
    if (i_shownOnly && ip_row->isHidden())
        return;
    QStringList l_texts = ViewRows::Texts(ip_row);
    l_texts.removeAll(QString());
    o_lines.append(QString(i_depth * 2, QLatin1Char(' ')) + l_texts.join(QLatin1String(" | ")));
    for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
        AppendOutline(ip_row->child(l_child), i_depth + 1, i_shownOnly, o_lines);
}
}  // namespace

namespace ViewRows
{
QStringList Texts(const QTreeWidgetItem* ip_row)
{
    QStringList l_texts;
    const int l_columns = ip_row->treeWidget() ? ip_row->treeWidget()->columnCount() : ip_row->columnCount();
    for (int l_column = 0; l_column < l_columns; ++l_column)
        l_texts.append(ip_row->text(l_column));
    return l_texts;
}

QStringList Outline(const QTreeWidget& i_tree, bool i_shownOnly)
{
    QStringList l_lines;
    for (int l_row = 0; l_row < i_tree.topLevelItemCount(); ++l_row)
        AppendOutline(i_tree.topLevelItem(l_row), 0, i_shownOnly, l_lines);
    return l_lines;
}
}  // namespace ViewRows
