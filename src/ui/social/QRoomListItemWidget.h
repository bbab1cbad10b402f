#pragma once

#include <QTreeWidgetItem>

// A row of the room list: the room's name in column 0, its member count in
// column 1. Sorted by column 0 it orders names without regard to case; by
// any other column it orders the counts as numbers (9 before 10).
class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomListItemWidget(QTreeWidget* ip_parent);
    // A row filled before it joins a tree (addTopLevelItem), so that a
    // sorted list places it once rather than at every text set.
    QRoomListItemWidget();
    ~QRoomListItemWidget() override;

    bool operator<(const QTreeWidgetItem& i_other) const override;
};
