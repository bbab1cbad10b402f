#pragma once

#include <QTreeWidgetItem>

// A member row of a room tab: the flag in column 1, the name in column 2,
// the shared files in column 3 and the speed in column 4. Names order
// without regard to case. The flag column orders by country code, the
// figures by their numbers (kept in the rows as sort keys, since their
// texts are grouped or empty); rows that tie order by name.
class QRoomUserListItemWidget : public QTreeWidgetItem
{
public:
    static constexpr int FlagColumn = 1;
    static constexpr int NameColumn = 2;
    static constexpr int FilesColumn = 3;
    static constexpr int SpeedColumn = 4;

    explicit QRoomUserListItemWidget(QTreeWidget* ip_parent);
    ~QRoomUserListItemWidget() override;

    // The texts of a member with these figures; the speed in bytes per
    // second is shown in K/s.
    void SetMember(const QString& i_name, const QString& i_countryCode, int i_files, int i_bytesPerSecond);

    bool operator<(const QTreeWidgetItem& i_other) const override;
};
