#include "peer/PeerOutgoingQueue.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"

#include <QTcpSocket>

using namespace PeerItems;

namespace
{
QDateTime OpenTime(ItemPtr i_connection)
{
    return QDateTime::fromString(Text(i_connection["connection_open_time"]), Qt::TextDate);
}

void Drop(ItemPtr i_entry)
{
    delete i_entry.AsObject<MemStream>();
    i_entry.Remove();
}
}

PeerOutgoingQueue::~PeerOutgoingQueue()
{
    if (Type* lp_entries = d.HasType("unsent_message")) {
        for (ItemPtr l_entry : lp_entries->GetItems())
            Drop(l_entry);
    }
}

ItemPtr PeerOutgoingQueue::ChooseConnection(ItemPtr i_user, const std::function<bool(QTcpSocket*)>& i_may)
{
    ItemSet l_connections = i_user.GetItems("peer_socket");
    if (i_may) {
        ItemSet l_allowed;
        for (Item* lp_connection : l_connections) {
            if (i_may(ItemPtr(lp_connection).AsObject<QTcpSocket>()))
                l_allowed.insert(lp_connection);
        }
        l_connections = l_allowed;
    }
    if (l_connections.empty())
        return {};
    if (l_connections.size() == 1) {
        Log(LogArea, 2, "Found one existing messaging connection to user", i_user);
        return l_connections;
    }
    Log(LogArea, 2,
        QString("Found %1 existing messaging connections to user, picking latest").arg(l_connections.size()), i_user);
    ItemPtr l_chosen;
    QDateTime l_chosenTime;
    for (Item* lp_connection : l_connections) {
        const QDateTime l_time = OpenTime(lp_connection);
        if (!l_chosen) {
            l_chosen = lp_connection;
            l_chosenTime = l_time;
            Log(LogArea, 3, QString("First connection opened %1").arg(l_time.toString(Qt::TextDate)), i_user);
        } else if (l_time.isValid() && (!l_chosenTime.isValid() || l_time > l_chosenTime)) {
            l_chosen = lp_connection;
            l_chosenTime = l_time;
            Log(LogArea, 3, QString("Found connection opened %1, exchanging").arg(l_time.toString(Qt::TextDate)), i_user);
        }
    }
    return l_chosen;
}

void PeerOutgoingQueue::Enqueue(ItemPtr i_user, const MemStream& i_message)
{
    Add(i_user, {i_message, TakeSendOrder(), PeerTimeStamp(), 0});
}

void PeerOutgoingQueue::PutBack(ItemPtr i_user, const std::vector<PeerQueuedMessage>& i_messages)
{
    for (const PeerQueuedMessage& l_message : i_messages)
        Add(i_user, l_message);
}

void PeerOutgoingQueue::Add(ItemPtr i_user, const PeerQueuedMessage& i_message)
{
    // The copy shares the caller's bytes, which the caller no longer changes.
    auto* lp_copy = new MemStream(i_message.m_message);
    ItemPtr l_entry = d.GetType("unsent_message")->GetItem(Value(lp_copy));
    i_user += l_entry;
    l_entry += d.GetType("send_order")->GetItem(i_message.m_sendOrder);
    l_entry += d.GetType("send_time")->GetItem(i_message.m_sendTime);
    if (i_message.m_sends > 0)
        l_entry += d.GetType("send_count")->GetItem(i_message.m_sends);
}

bool PeerOutgoingQueue::Flush(ItemPtr i_user, ItemPtr i_connection, const Sending& i_sending)
{
    ItemPtr l_connection = i_connection;
    if (!l_connection)
        return false;
    auto* lp_socket = l_connection.AsObject<QTcpSocket>();
    const bool l_obfuscated = l_connection.IsConnected("is_obfuscated");

    const ItemSet l_entries = i_user.GetItems("unsent_message");
    if (l_entries.empty())
        return false;
    const ItemList l_ordered = l_entries.SortNumericBy("send_order", true);
    Log(LogArea, 1,
        QString("Sending %1 pending peer messages to user %2").arg(l_entries.size()).arg(Text(i_user)), i_user);
    for (ItemPtr l_entry : l_ordered) {
        auto* lp_message = l_entry.AsObject<MemStream>();
        if (lp_message && IsStale(l_entry, i_sending.m_stale)) {
            Drop(l_entry);
            continue;
        }
        if (lp_message && !i_sending.m_write(lp_socket, *lp_message, l_obfuscated)) {
            // The rest waits for the user's next connection.
            CountFailedSend(l_entry, i_sending.m_maxSends);
            return true;
        }
        if (lp_message && i_sending.m_sent) {
            i_sending.m_sent(lp_socket, {*lp_message, l_entry["send_order"].AsInt(), l_entry["send_time"].AsString(),
                                         l_entry["send_count"].AsInt() + 1});
        }
        delete lp_message;
        l_entry.Remove();
    }
    return false;
}

bool PeerOutgoingQueue::IsStale(ItemPtr i_entry, const StaleTest& i_stale)
{
    auto* lp_message = i_entry.AsObject<MemStream>();
    return lp_message && i_stale && i_entry.IsConnected("send_count") && i_stale(*lp_message);
}

bool PeerOutgoingQueue::DropStale(ItemPtr i_user, const StaleTest& i_stale)
{
    for (ItemPtr l_entry : i_user.GetItems("unsent_message")) {
        if (IsStale(l_entry, i_stale))
            Drop(l_entry);
    }
    return i_user.IsConnected("unsent_message");
}

bool PeerOutgoingQueue::DropQueued(ItemPtr i_user, const StaleTest& i_unwanted)
{
    bool l_dropped = false;
    for (ItemPtr l_entry : i_user.GetItems("unsent_message")) {
        auto* lp_message = l_entry.AsObject<MemStream>();
        if (lp_message && i_unwanted(*lp_message)) {
            Drop(l_entry);
            l_dropped = true;
        }
    }
    return l_dropped;
}

bool PeerOutgoingQueue::Holds(ItemPtr i_user, const StaleTest& i_test)
{
    for (ItemPtr l_entry : i_user.GetItems("unsent_message")) {
        const auto* lp_message = l_entry.AsObject<MemStream>();
        if (lp_message && i_test(*lp_message))
            return true;
    }
    return false;
}

void PeerOutgoingQueue::CountFailedSend(ItemPtr i_entry, int i_maxSends)
{
    const int l_sends = i_entry["send_count"].AsInt() + 1;
    if (l_sends >= i_maxSends) {
        Log(LogArea, 1, QString("A peer message to user %1 went out %2 times on connections that went at once, dropping it")
                            .arg(Text(i_entry["user"]))
                            .arg(l_sends),
            i_entry["user"]);
        Drop(i_entry);
        return;
    }
    i_entry.Disconnect("send_count");
    i_entry += d.GetType("send_count")->GetItem(l_sends);
}

void PeerOutgoingQueue::Expire(const QDateTime& i_now, qint64 i_limitMs)
{
    for (ItemPtr l_entry : d.GetType("unsent_message")->GetItems()) {
        qint64 l_age = 0;
        // A stamp that cannot be read would keep the entry for ever.
        if (PeerStampAge(l_entry["send_time"].AsString(), i_now, l_age) && l_age <= i_limitMs)
            continue;
        Drop(l_entry);
    }
}
