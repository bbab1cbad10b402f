#include "ui/views/SearchForm.h"

#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/EventToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/views/SearchResultsForm.h"
#include "ui/widgets/UIFunctions.h"
#include "ui_SearchForm.h"

#include <QIcon>
#include <QTreeWidget>

namespace
{
constexpr int WishListWidth = 200;

Type* Declare(const char* ip_name, bool i_primary)
{
    return d.NewType(ip_name, i_primary, false, true);
}

// The tab's texts of the commands whose state it shows.
void SetTabTexts(QWidget* ip_tab, bool i_wishListSearch)
{
    if (i_wishListSearch)
        actionBar->SetWidgetActionText(ip_tab, "add_remove_wishlist", QObject::tr("Remove from Wish List"));
    actionBar->SetWidgetActionText(ip_tab, "order_by_available", QObject::tr("Order by Available [on]"));
    actionBar->SetWidgetActionText(ip_tab, "order_by_fastest", QObject::tr("Order by Fastest"));
    actionBar->SetWidgetActionText(ip_tab, "expand_folders", QObject::tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(ip_tab, "expand_users", QObject::tr("Expand Users [on]"));
}
}  // namespace

SearchForm::SearchForm(QWidget* ip_parent) : QWidget(ip_parent), ui(new Ui::SearchForm)
{
    ui->setupUi(this);
    ui->wishList->setHeaderLabels({tr("Wish List Item")});
    connect(ui->searchEdit, &QLineEdit::returnPressed, this, &SearchForm::OnSearchEntered);
}

SearchForm::~SearchForm()
{
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.erase(this);
    delete ui;
}

void SearchForm::Init()
{
    connect(gp_server, &Server::SearchRequested, this, &SearchForm::OnSearchRequest);
    connect(peerMessenger, &PeerMessenger::SearchResults, this, &SearchForm::OnUserSearchResults);
    DeclareTypes();
    d.GetType("wish_list_item")->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&SearchForm::OnWishListItemRemoved));
    connect(ui->searchTabControl, &QTabWidget::tabCloseRequested, this, &SearchForm::OnTabCloseRequested);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SearchForm::OnActionBarTriggered);
    DeclareActions();
    SetUpWishList();
    // A download remembers the search it came from, across restarts.
    d.GetType("download_entry")->RelateToType(d.GetType("search_request_text"), Many, One, false);
    if (dataSaver) {
        dataSaver->AddSavedByConnectionType("search_request_text", "download_entry");
        dataSaver->m_dataLoadedEventHandlers.insert(this);
    }
}

void SearchForm::DeclareTypes()
{
    Type* lp_widget = Declare("search_results_widget", true);
    lp_widget->RelateToType(d.GetType("search_request"), One, Many, false);
    lp_widget->RelateToType(d.GetType("wish_list_item"), One, One, false);
    for (const char* lp_flag : {"expand_folders", "expand_users"})
        lp_widget->RelateToType(Declare(lp_flag, false), Many, One, false);
    Type* lp_userNode = Declare("search_results_user_node", false);
    Type* lp_folderNode = Declare("search_results_folder_node", false);
    Type* lp_fileNode = Declare("search_result_node", false);
    lp_widget->RelateToType(lp_userNode, One, Many, true);
    lp_userNode->RelateToType(d.GetType("user"), Many, One, false);
    lp_userNode->RelateToType(lp_folderNode, One, Many, true);
    lp_folderNode->RelateToType(d.GetType("search_result_file_folder"), Many, One, false);
    lp_fileNode->RelateToType(d.GetType("search_result"), One, One, false);
    lp_folderNode->RelateToType(lp_fileNode, One, Many, false);

    Type* lp_wishNode = Declare("wish_list_node", true);
    lp_wishNode->RelateToType(d.GetType("wish_list_item"), One, One, false);
    lp_wishNode->RelateToType(Declare("wish_list_node_checkbox", true), One, One, false);
}

void SearchForm::DeclareActions()
{
    const std::string l_transfer = ":/icons/transfer_icon";
    const std::string l_search = ":/icons/search_icon";
    const std::string l_wish = ":/icons/wishlist_icon";
    actionBar->AddSetAction("search_results", "download_search_results_file", "Download File", l_transfer, false);
    actionBar->AddSetAction("search_results", "download_search_results_folder", "Download Folder", l_transfer, false);
    actionBar->AddSetAction("search_results", "order_by_available", "Order by Available", l_search, false);
    actionBar->AddSetAction("search_results", "order_by_fastest", "Order by Fastest", l_search, false);
    actionBar->AddSetAction("search_results", "expand_folders", "Expand Folders", l_search, false);
    actionBar->AddSetAction("search_results", "expand_users", "Expand Users", l_search, false);
    actionBar->AddSetAction("search_results", "add_remove_wishlist", "Add to Wishlist", l_wish, false);
}

void SearchForm::DataLoaded()
{
    for (Item* lp_entry : d.GetType("wish_list_item")->GetItems())
        OnWishListItemAdded(lp_entry);
    QList<int> l_sizes = ui->searchSplitter->sizes();
    if (l_sizes.size() >= 2) {
        l_sizes[0] = width() - WishListWidth;
        l_sizes[1] = WishListWidth;
        ui->searchSplitter->setSizes(l_sizes);
    }
    if (sizeManager)
        sizeManager->RegisterSplitter(QStringLiteral("wish_list_splitter"), ui->searchSplitter, l_sizes);
}

void SearchForm::OnSearchEntered()
{
    // Sent as typed, also when empty; the tab opens inside the call.
    const std::string l_text = ui->searchEdit->text().toUtf8().toStdString();
    gp_server->FileSearch(l_text, false);
    ui->searchEdit->clear();
}

void SearchForm::OnSearchRequest(unsigned int i_req, std::string i_search, bool i_wishListSearch)
{
    if (!i_wishListSearch) {
        CreateSearchForm(i_req, i_search, false);
        return;
    }
    // A wish-list search opens its tab with its first answers; of the
    // entry's searches that no tab shows, only this newest one stays.
    ItemPtr l_request = d.GetType("search_request")->HasItem(Value(i_req));
    RemoveUnshownRequests(l_request["search_request_text"], l_request);
}

void SearchForm::CreateSearchForm(unsigned int i_req, std::string i_search, bool i_wishListSearch)
{
    ItemPtr l_request = d.GetType("search_request")->HasItem(Value(i_req));
    if (l_request.IsNull())
        return;
    ItemPtr l_entry;
    if (i_wishListSearch) {
        l_entry = d.GetType("wish_list_item")->HasItem(i_search);
        if (l_entry.IsNull())
            return;
        // Every repetition of an entry feeds the entry's one tab.
        if (ItemPtr l_formItem = l_entry["search_results_widget"]) {
            l_formItem += l_request;
            return;
        }
    }
    auto* lp_tab = new SearchResultsForm(this);
    const QString l_title = QString::fromUtf8(i_search);
    const QIcon l_icon(i_wishListSearch ? QStringLiteral(":/icons/wishlist_icon") : QStringLiteral(":/icons/search_icon"));
    ui->searchTabControl->addTab(lp_tab, l_icon, LiteralLabel(l_title));
    ItemPtr l_formItem = d.GetType("search_results_widget")->GetItem(Value(lp_tab));
    l_formItem += l_request;
    if (i_wishListSearch) {
        l_formItem += l_entry;
        if (eventToolBar)
            eventToolBar->AddEvent(l_title, QStringLiteral(":/icons/wishlist_icon"), lp_tab);
    }
    SetUpTab(lp_tab, i_wishListSearch);
    l_formItem += d.GetType("expand_folders")->GetItem("yes");
    l_formItem += d.GetType("expand_users")->GetItem("yes");
    lp_tab->SetSortingParamters(1, Qt::DescendingOrder);
    if (!i_wishListSearch)
        FocusWidget(lp_tab->searchResults());
    QTreeWidget* lp_tree = lp_tab->searchResults();
    connect(lp_tree, &QWidget::customContextMenuRequested, this, &SearchForm::OnSearchResultsContextMenuRequested);
    connect(lp_tab->filterEdit(), &QLineEdit::textChanged, this, &SearchForm::OnFilterTextChanged);
    if (sizeManager)
        sizeManager->RegisterTreeWidget(QStringLiteral("search_results"), lp_tree);
}

void SearchForm::SetUpTab(SearchResultsForm* ip_tab, bool i_wishListSearch)
{
    connect(ip_tab->searchResults(), &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnResultDoubleClicked);
    actionBar->RegisterWidget(ip_tab, QStringLiteral("search_results"));
    actionBar->AddWidgetKey(ip_tab, QStringLiteral("widget"), QString::fromLatin1(Value(ip_tab).m_text));
    SetTabTexts(ip_tab, i_wishListSearch);
}

// The tab goes with its rows, its requests and their results; a wish-list
// entry stays, and downloads keep the text of the search they came from.
void SearchForm::OnTabCloseRequested(int i_tabIndex)
{
    QWidget* lp_tab = ui->searchTabControl->widget(i_tabIndex);
    const ItemPtr l_formItem = FormItemOf(lp_tab);
    if (l_formItem.IsNull())
        return;
    const ItemSet l_requests = l_formItem.GetItems("search_request");
    const ItemSet l_userNodes = l_formItem.GetItems("search_results_user_node");
    const ItemSet l_folderNodes = l_userNodes.GetItems("search_results_folder_node");
    const ItemSet l_fileNodes = l_folderNodes.GetItems("search_result_node");
    l_formItem.Remove();
    // What the tab owned is removed here rather than by a collection of
    // the whole store, whose cost grows with everything else it holds.
    l_fileNodes.Remove();
    l_folderNodes.Remove();
    l_userNodes.Remove();
    ui->searchTabControl->removeTab(i_tabIndex);
    delete lp_tab;
    for (Item* lp_request : l_requests) {
        for (Item* lp_results : ItemPtr(lp_request).GetItems("search_results"))
            DropReply(lp_results);
        ItemPtr(lp_request).Remove();
    }
}

void SearchForm::RemoveUnshownRequests(ItemPtr i_text, ItemPtr i_keep)
{
    if (i_text.IsNull())
        return;
    for (Item* lp_request : i_text.GetItems("search_request")) {
        const ItemPtr l_request(lp_request);
        if (l_request == i_keep || !l_request.IsConnected("wishlist_search") ||
            l_request.IsConnected("search_results_widget"))
            continue;
        for (Item* lp_results : l_request.GetItems("search_results"))
            DropReply(lp_results);
        l_request.Remove();
    }
}

void SearchForm::DropReply(ItemPtr i_searchResults)
{
    i_searchResults.GetItems("search_result").Remove();
    i_searchResults.Remove();
}

SearchResultsForm* SearchForm::TabOf(ItemPtr i_formItem)
{
    return i_formItem.AsObject<SearchResultsForm>();
}

ItemPtr SearchForm::FormItemOf(QWidget* ip_tab)
{
    return ip_tab ? d.GetType("search_results_widget")->HasItem(Value(ip_tab)) : ItemPtr();
}

SearchResultsForm* SearchForm::CurrentTab() const
{
    return TabOf(FormItemOf(ui->searchTabControl->currentWidget()));
}

SearchResultsForm* SearchForm::KeyedTab() const
{
    const QString l_key = actionBar->GetKey(QStringLiteral("widget"));
    return TabOf(d.GetType("search_results_widget")->HasItem(l_key.toLatin1().toStdString()));
}

ItemPtr SearchForm::SearchTextOf(ItemPtr i_formItem)
{
    return i_formItem.GetItems("search_request").GetItems("search_request_text");
}
