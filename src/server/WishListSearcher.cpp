#include "server/WishListSearcher.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "server/Server.h"

#include <limits>

WishListSearcher* wishListSearcher = nullptr;

WishListSearcher::WishListSearcher(QObject* ip_parent) : QObject(ip_parent)
{
    wishListSearcher = this;
    connect(&m_timer, &QTimer::timeout, this, &WishListSearcher::OnTimer);
    if (gp_server)
        connect(gp_server, &Server::WishListIntervalReceived, this, &WishListSearcher::SetInterval);
}

WishListSearcher::~WishListSearcher()
{
    // The server link is gone by now: nothing here may reach it.
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

void WishListSearcher::SetInterval(unsigned int i_seconds)
{
    // A zero interval would fire without pause; take it as "no searches".
    if (i_seconds == 0) {
        m_timer.stop();
        return;
    }
    const unsigned int l_maxSeconds = static_cast<unsigned int>(std::numeric_limits<int>::max() / 1000);
    m_timer.start(static_cast<int>(qMin(i_seconds, l_maxSeconds)) * 1000);
}

void WishListSearcher::OnTimer()
{
    // Offline, the search would be dropped while its request item stayed.
    if (!gp_server || !gp_server->IsConnected())
        return;
    const ItemList l_entries = d.GetType("wish_list_item")->GetItems().Connected("wish_list_item_enabled").SortAlphabetic(true);
    if (l_entries.empty())
        return;
    unsigned int l_index = ValueText::ToUInt(Settings::GetVolatile("wish_list_search_index"));
    if (l_index >= l_entries.size())
        l_index = 0;
    const std::string l_text = l_entries[l_index].AsString();
    Settings::SetVolatile("wish_list_search_index", ToString(l_index + 1));
    gp_server->FileSearch(l_text, true);
    Log("Wish List", 1, QString("Sent wish list search: %1").arg(QString::fromStdString(l_text)));
}
