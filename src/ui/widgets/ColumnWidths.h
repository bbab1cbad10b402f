#pragma once

#include <QString>

class QTreeWidget;

// Texts as wide as the figures a column typically shows, formatted as the
// views show them, to size those columns by.
namespace TypicalText
{
// Kilobytes per second, one digit after the point, for a transfer of up to
// some 1 GB/s, as between users on one gigabit network: 999999.9.
QString Speed();
// A count in thousands groups: 1,234,567.
QString Count();
// Bytes in thousands groups, as the lists show sizes: 99,999,999,999.
QString Size();
// A place in a peer's upload queue, plain decimal.
QString Place();
// A local date and time in Qt's text date format, as completion times are kept.
QString DateTime();
// A file's bitrate, its mode and its length, as the file lists show them.
QString Attributes();
}  // namespace TypicalText

// Widens a column of a tree whose header labels are set so that its header
// and the text show whole in the tree's font and style; a column wide enough
// already keeps its width. Columns that show figures are sized so at first
// start: a fixed width fits one font and cuts the figures in another.
void WidenColumnToShow(QTreeWidget* ip_tree, int i_column, const QString& i_text);
// Widens a column whose cells hold a check box without text, set as the
// cell's item widget, so that the box shows whole in the tree's style.
void WidenColumnToHoldCheckBox(QTreeWidget* ip_tree, int i_column);
