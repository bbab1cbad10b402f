#include "ui/widgets/ColumnWidths.h"

#include "core/util/GeneralFunctions.h"

#include <QDateTime>
#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>
#include <QTreeWidget>

#include <algorithm>

namespace TypicalText
{
QString Speed()
{
    return QString::number(999999.9, 'f', 1);
}

QString Count()
{
    return CommafyNumber(1234567);
}

QString Size()
{
    return CommafyNumber(99999999999LL);
}

QString Place()
{
    return QString::number(9999);
}

QString DateTime()
{
    // Two-digit day and hour; a weekday and month of wide letters.
    return QDateTime(QDate(2026, 5, 27), QTime(23, 59, 59)).toString(Qt::TextDate);
}

QString Attributes()
{
    return QStringLiteral("320 VBR, ") + FormatSeconds(3599);
}
}  // namespace TypicalText

namespace
{
// The width a cell of the tree needs to show the text whole: the text in the
// tree's font with the style's margins on either side, as the tree's
// delegate asks the style for a cell of plain text.
int CellWidth(const QTreeWidget* ip_tree, const QString& i_text)
{
    QStyleOptionViewItem l_option;
    l_option.initFrom(ip_tree);
    l_option.font = ip_tree->font();
    l_option.fontMetrics = ip_tree->fontMetrics();
    l_option.features = QStyleOptionViewItem::HasDisplay;
    l_option.text = i_text;
    l_option.textElideMode = ip_tree->textElideMode();
    l_option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    return ip_tree->style()->sizeFromContents(QStyle::CT_ItemViewItem, &l_option, QSize(), ip_tree).width();
}

// A check box's size hint without text, as the box asks the style for it.
int CheckBoxWidth(const QTreeWidget* ip_tree)
{
    QStyleOptionButton l_option;
    l_option.initFrom(ip_tree);
    const QSize l_noText(0, ip_tree->fontMetrics().height());
    return ip_tree->style()->sizeFromContents(QStyle::CT_CheckBox, &l_option, l_noText, ip_tree).width();
}

void WidenColumnToCell(QTreeWidget* ip_tree, int i_column, int i_cellWidth)
{
    // The header's own measure of its label, in the header's font, with its
    // margins and any sort arrow.
    const int l_header = ip_tree->header()->sectionSizeHint(i_column);
    ip_tree->setColumnWidth(i_column, std::max({ip_tree->columnWidth(i_column), l_header, i_cellWidth}));
}
}  // namespace

void WidenColumnToShow(QTreeWidget* ip_tree, int i_column, const QString& i_text)
{
    WidenColumnToCell(ip_tree, i_column, CellWidth(ip_tree, i_text));
}

void WidenColumnToHoldCheckBox(QTreeWidget* ip_tree, int i_column)
{
    // A cell of no text is the cell's margins alone.
    WidenColumnToCell(ip_tree, i_column, CheckBoxWidth(ip_tree) + CellWidth(ip_tree, QString()));
}
