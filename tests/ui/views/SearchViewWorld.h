#pragma once

// The Search page in a test: the transfer manager's test world (server
// link, peer layer, transfers), the deferred invoker, the two tool bars,
// remembered sizes and the page, set up in the program's order (Init before
// the data file loads). Searches are typed as a user types them; answers
// are stored as the peer layer stores them and then announced.

#include "TransfersTestWorld.h"
#include "ViewRows.h"

#include "ui/views/SearchForm.h"

#include <memory>
#include <string>
#include <vector>

class ActionSetToolBar;
class DelayedInvoker;
class EventToolBar;
class QTreeWidget;
class SearchResultsForm;
class SizeManager;

namespace Ui {
class SearchForm;
}

class SearchViewWorld
{
public:
    // One file of an answer; a bitrate or length below 0 is not sent.
    struct File
    {
        std::string m_path;
        qint64 m_size = 1;
        int m_bitrate = -1;
        int m_seconds = -1;
        bool m_vbr = false;
    };

    // i_load false leaves the data-loaded step to the test (Load).
    explicit SearchViewWorld(bool i_load = true);
    ~SearchViewWorld();
    SearchViewWorld(const SearchViewWorld&) = delete;
    SearchViewWorld& operator=(const SearchViewWorld&) = delete;

    TransfersTestWorld& World() { return *mp_world; }
    SearchForm& View() { return *mp_view; }
    Ui::SearchForm* Form() const { return mp_view->Form(); }
    EventToolBar& EventBar() { return *mp_eventBar; }
    void Load(const QString& i_dataFile = QString());

    // Types the text into the search line and presses Return; the token of
    // the search sent.
    unsigned int Search(const QString& i_text);
    // What the wish-list searcher does for an entry.
    static unsigned int WishListSearch(const std::string& i_text);
    // The tab of a search, or null; its tree.
    static SearchResultsForm* Tab(unsigned int i_token);
    static QTreeWidget& Tree(unsigned int i_token);
    // A user's answer to the search, stored and announced as the peer layer
    // does; null when the search is gone.
    static ItemPtr Answer(unsigned int i_token, const std::string& i_user, const std::vector<File>& i_files,
                          bool i_free = true, int i_speed = 0, int i_queue = 0);
    // What focus on the widget does to the action bar (its set shown, its
    // keys set), and the bar's button texts.
    static QStringList Buttons(QWidget* ip_bound);
    // The event bar's button texts.
    QStringList Notices() const;
    // Items of the type in the store.
    static std::size_t Count(const char* ip_type);

private:
    std::unique_ptr<TransfersTestWorld> mp_world;
    std::unique_ptr<DelayedInvoker> mp_invoker;
    std::unique_ptr<ActionSetToolBar> mp_bar;
    std::unique_ptr<EventToolBar> mp_eventBar;
    std::unique_ptr<SizeManager> mp_sizes;
    std::unique_ptr<SearchForm> mp_view;
};
