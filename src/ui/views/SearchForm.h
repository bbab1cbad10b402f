#pragma once

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <string>

class FilterParser;
class QTreeWidgetItem;
class SearchResultsForm;

namespace Ui {
class SearchForm;
}

// The Search page: the query line, one results tab per search and the wish
// list beside them.
//
// A search typed here goes to the server link; its tab opens when the link
// announces the request. Answers arrive from the peer layer as stored
// replies and become rows of user, folder and file under the tab, filtered
// by the tab's filter line and ordered a second after a burst. Wish-list
// searches are sent by the wish-list searcher; their tab opens with their
// first answers while the entry is enabled, and every later repetition of
// the entry feeds that one tab.
//
// Nothing of a search outlives the tab that shows it or the wish-list entry
// that made it: closing a tab removes its requests with their results, a
// reply the page does not show is removed, and of an entry's requests that
// have no tab only the newest is kept.
//
// Every tab, row and wish-list row is an item of a view-only type whose
// value is the object's address. Init once before the data file loads;
// GUI thread only.
class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    static constexpr int SortDelayMs = 1000;

    explicit SearchForm(QWidget* ip_parent = nullptr);
    ~SearchForm() override;

    void Init();
    void DataLoaded() override;

    Ui::SearchForm* Form() const { return ui; }

    // Opens the tab of a search, or ties a repeated wish-list search to the
    // tab its entry has.
    void CreateSearchForm(unsigned int i_req, std::string i_search, bool i_wishListSearch);
    // The rows of one result in the tab of that widget item.
    void OnSearchResult(ItemPtr i_formItem, ItemPtr i_searchResult);
    // The user row of any row of a results tree, or null.
    QTreeWidgetItem* GetNodeUserNode(QTreeWidgetItem* ip_node);

    // Store handlers (public: the store calls them through handlers).
    void OnWishListItemAdded(Item* ip_item);
    void OnWishListItemRemoved(Item* ip_item);

public slots:
    void OnSearchRequest(unsigned int i_req, std::string i_search, bool i_wishListSearch);
    void OnSearchEntered();
    void OnTabCloseRequested(int i_tabIndex);
    void OnResultDoubleClicked(QTreeWidgetItem* ip_result, int i_column);
    void OnActionBarTriggered(std::string i_action);
    void OnUserSearchResults(ItemPtr i_searchResults);
    void OnSearchResultsContextMenuRequested(QPoint i_point);
    void OnFilterTextChanged(QString i_text);
    void OnWishListItemCheckStateChanged(int i_state);

private:
    void DeclareTypes();
    void DeclareActions();
    void SetUpWishList();
    void SetUpTab(SearchResultsForm* ip_tab, bool i_wishListSearch);

    // The results tab of a "search_results_widget" item, and the reverse.
    static SearchResultsForm* TabOf(ItemPtr i_formItem);
    static ItemPtr FormItemOf(QWidget* ip_tab);
    // The current page of the tab control as a results tab, or null.
    SearchResultsForm* CurrentTab() const;
    // The tab the action bar's "widget" key names, or null.
    SearchResultsForm* KeyedTab() const;
    // The search text item of a tab (that of its first request).
    static ItemPtr SearchTextOf(ItemPtr i_formItem);

    // The rows of one result, shown or hidden by the filter given (parsed
    // once per reply).
    void AddResultRows(ItemPtr i_formItem, ItemPtr i_searchResult, const FilterParser& i_filter);
    // A reply no tab shows goes, with its results.
    static void DropReply(ItemPtr i_searchResults);
    // The entry's wish-list requests that no tab shows, but i_keep.
    static void RemoveUnshownRequests(ItemPtr i_text, ItemPtr i_keep);

    // Commands on results.
    void QueueResults(const ItemSet& i_results, ItemPtr i_searchText, bool i_sortByName);
    void DownloadSelectedFiles();
    void DownloadSelectedFolders();
    void OrderTab(bool i_byAvailability);
    void ToggleExpansion(const char* ip_type, bool i_users);
    void AddOrRemoveWishList();
    void RemoveSelectedWishListItems();
    void CheckAllWishListItems(bool i_checked);

    Ui::SearchForm* ui;
};
