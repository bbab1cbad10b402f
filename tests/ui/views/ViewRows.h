#pragma once

#include <QStringList>

class QTreeWidget;
class QTreeWidgetItem;

// Trees of the views as a user reads them.
namespace ViewRows
{
// The texts of a row's columns.
QStringList Texts(const QTreeWidgetItem* ip_row);
// One line per row, indented two blanks a level, the non-empty texts of
// its columns joined by " | "; with i_shownOnly, hidden rows (and what is
// below them) are left out.
QStringList Outline(const QTreeWidget& i_tree, bool i_shownOnly = false);
}  // namespace ViewRows
