#pragma once

#include <QObject>

#include <string>

class QAbstractScrollArea;
class QMenu;
class QPoint;

// The commands on another user, the same wherever a user is shown (room
// members, the user list, search results, downloads and uploads): message
// the user, put the user on the list or take the user off it, set the
// user's groups, browse the user's files, stop or resume sharing with the
// user. The object lives on the caller's stack while the menu runs and
// carries out the chosen entry; each entry looks the user up again by name
// when it runs.
class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    // Adds the entries for the user's state as it is now, after a
    // separator when the menu holds entries already.
    UserMenuOptions(QMenu* ip_menu, std::string i_user, QObject* ip_parent);

public slots:
    void OnMessageUser();
    void OnSetUserGroups();
    void OnAddUser();
    void OnRemoveUser();
    void OnBrowseUser();
    void OnUnshareFilesFromUser();
    void OnReshareFilesWithUser();

private:
    void OpenGroupsDialog();

    std::string m_user;
};

// The menu of the user alone, run at a point of the view's viewport (where
// the view reported a context-menu request); returns when it closes.
void RunUserMenu(QAbstractScrollArea* ip_view, QPoint i_point, const std::string& i_user);
