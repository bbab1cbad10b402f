#pragma once

// The Shares page in a test: the transfer manager's test world (which holds
// the shares service), the action bar, the event bar and the tab set, set up
// in the program's order (Init before the data file loads). Listings arrive
// as the peer layer hands them to the shares service.

#include "ActionBarButtons.h"
#include "TransfersTestWorld.h"
#include "ViewRows.h"

#include "core/io/FileInfo.h"
#include "ui/views/ShareForm.h"
#include "ui/views/SharesForm.h"

#include <QMetaType>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class ActionSetToolBar;
class EventToolBar;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

// One file of a listing: name, size and attributes (code, value).
struct ListedFile
{
    std::string m_name;
    qint64 m_size = 1;
    std::vector<std::pair<unsigned int, int>> m_attributes = {};
};
// Folder names (full remote paths) with their files.
using Listing = std::vector<std::pair<std::string, std::vector<ListedFile>>>;
Q_DECLARE_METATYPE(Listing)

class SharesViewWorld
{
public:
    SharesViewWorld();
    ~SharesViewWorld();
    SharesViewWorld(const SharesViewWorld&) = delete;
    SharesViewWorld& operator=(const SharesViewWorld&) = delete;

    TransfersTestWorld& World() { return *mp_world; }
    SharesForm& Tabs() { return *mp_tabs; }
    QTabWidget& TabControl() const;
    EventToolBar& EventBar() { return *mp_events; }

    // The peer layer's doing: a listing of the user arrives, and is stored
    // over the following turns of the event loop. Returns the page it
    // opened, or null when none did within 10 s.
    ShareForm* Receive(const std::string& i_user, const Listing& i_listing);
    // The hand-over alone: nothing is stored yet when it returns.
    static void HandOver(const std::string& i_user, const Listing& i_listing);
    // Runs the event loop until no listing waits to be stored or removed
    // (10 s at most); i_betweenTurns runs after each round of events.
    static bool WaitUntilStored(const std::function<void()>& i_betweenTurns = {});
    static FileInfoMap ToFileInfoMap(const Listing& i_listing);

    // The tab titles, left to right.
    QStringList Titles() const;

    // The folder row with that path of column-0 texts ("Music/Rock"), or null.
    static QTreeWidgetItem* FolderRow(ShareForm& i_page, const QString& i_path);
    // Makes the folder row current, as a click does.
    static void Open(ShareForm& i_page, const QString& i_path);
    // The shown rows of a tree as the user reads them.
    static QStringList Outline(const QTreeWidget& i_tree) { return ViewRows::Outline(i_tree, true); }
    // The expanded folder rows, by path.
    static QStringList Expanded(const QTreeWidget& i_tree);

    // Every download entry in queue order: "user | remote folder | file |
    // size | level".
    static QStringList Downloads();

private:
    std::unique_ptr<TransfersTestWorld> mp_world;
    std::unique_ptr<ActionSetToolBar> mp_bar;
    std::unique_ptr<EventToolBar> mp_events;
    std::unique_ptr<SharesForm> mp_tabs;
};
