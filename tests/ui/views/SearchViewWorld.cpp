#include "SearchViewWorld.h"

#include "core/persist/DataSaver.h"
#include "core/runtime/DelayedInvoker.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/EventToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/views/SearchResultsForm.h"
#include "ui_SearchForm.h"

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <QWidgetAction>

#include <algorithm>

namespace
{
// The newest search: tokens count up.
unsigned int LastToken()
{
    unsigned int l_token = 0;
    for (Item* lp_request : d.GetType("search_request")->GetItems())
        l_token = std::max(l_token, ValueText::ToUInt(lp_request->m_value));
    return l_token;
}

ItemPtr Valued(const char* ip_type, const std::string& i_value)
{
    return d.GetType(ip_type)->GetItem(i_value);
}
}  // namespace

SearchViewWorld::SearchViewWorld(bool i_load)
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    mp_world = std::make_unique<TransfersTestWorld>(false);
    // The wish list's own types, as the main window declares them.
    Type* lp_wish = d.NewType("wish_list_item", true, false, true);
    lp_wish->RelateToType(d.NewType("wish_list_item_enabled", false, true, true), Many, One, false);
    dataSaver->AddSavedType("wish_list_item");
    dataSaver->AddSavedType("wish_list_item_enabled");
    mp_invoker = std::make_unique<DelayedInvoker>(nullptr);
    mp_bar = std::make_unique<ActionSetToolBar>();
    mp_eventBar = std::make_unique<EventToolBar>();
    mp_sizes = std::make_unique<SizeManager>();
    mp_view = std::make_unique<SearchForm>();
    mp_view->Init();
    if (i_load)
        Load();
}

SearchViewWorld::~SearchViewWorld()
{
    // The page goes before the services, as at the program's end.
    mp_view.reset();
    mp_sizes.reset();
    mp_eventBar.reset();
    mp_bar.reset();
    mp_invoker.reset();
    mp_world.reset();
}

void SearchViewWorld::Load(const QString& i_dataFile)
{
    if (i_dataFile.isEmpty())
        mp_world->Peer().Load();
    else
        mp_world->Load(i_dataFile);
}

unsigned int SearchViewWorld::Search(const QString& i_text)
{
    QLineEdit* lp_line = Form()->searchEdit;
    lp_line->setText(i_text);
    QTest::keyClick(lp_line, Qt::Key_Return);
    return LastToken();
}

unsigned int SearchViewWorld::WishListSearch(const std::string& i_text)
{
    return gp_server->FileSearch(i_text, true);
}

SearchResultsForm* SearchViewWorld::Tab(unsigned int i_token)
{
    return d.GetType("search_request")->HasItem(Value(i_token))["search_results_widget"].AsObject<SearchResultsForm>();
}

QTreeWidget& SearchViewWorld::Tree(unsigned int i_token)
{
    return *Tab(i_token)->searchResults();
}

ItemPtr SearchViewWorld::Answer(unsigned int i_token, const std::string& i_user, const std::vector<File>& i_files,
                                bool i_free, int i_speed, int i_queue)
{
    const ItemPtr l_request = d.GetType("search_request")->HasItem(Value(i_token));
    if (l_request.IsNull())
        return {};
    ItemPtr l_results = d.GetType("search_results")->NewItem();
    for (const File& l_file : i_files) {
        ItemPtr l_result = d.GetType("search_result")->NewItem();
        if (l_file.m_bitrate >= 0)
            l_result += Valued("bitrate", std::to_string(l_file.m_bitrate));
        if (l_file.m_seconds >= 0)
            l_result += Valued("length_seconds", std::to_string(l_file.m_seconds));
        if (l_file.m_bitrate >= 0)
            l_result += Valued("bitrate_mode", l_file.m_vbr ? "vbr" : "cbr");
        l_result += l_results;
        const RemoteFilePath l_path = SplitRemotePath(l_file.m_path);
        l_result += Valued("search_result_file_name", l_path.m_name);
        l_result += Valued("search_result_file_folder", l_path.m_folder);
        l_result += Valued("search_result_file_size", std::to_string(l_file.m_size));
    }
    l_results += l_request;
    l_results += d.GetType("user")->GetItem(i_user);
    l_results += Valued("search_results_user_available", i_free ? "yes" : "no");
    l_results += Valued("search_results_user_speed", std::to_string(i_speed));
    l_results += Valued("search_results_uploads_in_queue", std::to_string(i_queue));
    emit peerMessenger->SearchResults(l_results);
    return l_results;
}

QStringList SearchViewWorld::Buttons(QWidget* ip_bound)
{
    actionBar->OnApplicationFocusChanged(nullptr, ip_bound);
    QStringList l_texts;
    for (QAction* lp_action : actionBar->actions()) {
        if (!qobject_cast<QWidgetAction*>(lp_action) && !lp_action->text().isEmpty())
            l_texts << lp_action->text();
    }
    return l_texts;
}

QStringList SearchViewWorld::Notices() const
{
    QStringList l_texts;
    for (QAction* lp_action : mp_eventBar->actions())
        l_texts << lp_action->text();
    l_texts.removeAll(QString());
    return l_texts;
}

std::size_t SearchViewWorld::Count(const char* ip_type)
{
    return d.GetType(ip_type)->ItemCount();
}
