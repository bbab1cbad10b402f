#include "ui/social/QRoomUserListItemWidget.h"

#include "core/util/GeneralFunctions.h"

#include <QIcon>

QRoomUserListItemWidget::QRoomUserListItemWidget(QTreeWidget* ip_parent) : QTreeWidgetItem(ip_parent, Type) {}

QRoomUserListItemWidget::~QRoomUserListItemWidget() = default;

void QRoomUserListItemWidget::SetMember(const QString& i_name, const QString& i_countryCode, int i_files,
                                        int i_bytesPerSecond)
{
    setText(NameColumn, i_name);
    setData(FlagColumn, Qt::UserRole, i_countryCode.toLower());
    if (!i_countryCode.isEmpty())
        setIcon(FlagColumn, QIcon(QStringLiteral(":/resources/flags/") + i_countryCode.toLower() + ".png"));
    setData(FilesColumn, Qt::UserRole, i_files);
    setText(FilesColumn, CommafyNumber(i_files));
    const double l_kilobytes = i_bytesPerSecond / 1024.0;
    setData(SpeedColumn, Qt::UserRole, l_kilobytes);
    if (l_kilobytes != 0)
        setText(SpeedColumn, QString::number(l_kilobytes, 'f', 1));
}

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& i_other) const
{
    const QTreeWidget* lp_tree = treeWidget();
    const int l_column = lp_tree ? lp_tree->sortColumn() : NameColumn;
    if (l_column == FlagColumn) {
        const int l_order = data(FlagColumn, Qt::UserRole).toString().compare(
            i_other.data(FlagColumn, Qt::UserRole).toString());
        if (l_order != 0)
            return l_order < 0;
    } else if (l_column == FilesColumn || l_column == SpeedColumn) {
        const double l_mine = data(l_column, Qt::UserRole).toDouble();
        const double l_theirs = i_other.data(l_column, Qt::UserRole).toDouble();
        if (l_mine != l_theirs)
            return l_mine < l_theirs;
    }
    return text(NameColumn).compare(i_other.text(NameColumn), Qt::CaseInsensitive) < 0;
}
