#pragma once

#include "core/io/MemStream.h"

#include <QPointer>
#include <QTcpSocket>
#include <QtGlobal>

#include <deque>
#include <map>
#include <string>
#include <vector>

// Keeps the answers to a user in the order of the user's requests when an
// answer is made later than the request is handled (a browse reply is
// compressed off the GUI thread). Such an answer reserves its place; every
// message to that user sent meanwhile waits behind it, and goes once all
// that comes before it is ready.
//
// A reply keeps the connection its request came on with it (PeerReplyRoute),
// null for a message that goes as any message to its user goes. An answer
// whose place was reserved is a reply, whether its connection still stands
// or not.
//
// What a user can make us keep is bounded: at most MaxWaiting messages and
// places, and at most MaxWaitingBytes of waiting messages, per user.
class PeerReplyOrder
{
public:
    static constexpr std::size_t MaxWaiting = 1000;
    static constexpr qint64 MaxWaitingBytes = 16 * 1024 * 1024;

    // Reserves a place for an answer to the user; false when the user
    // already has MaxWaiting messages and places waiting.
    bool Reserve(const std::string& i_user, quint64& o_ticket);

    enum class Hold {
        SendNow,  // nothing waits for the user: the message goes at once
        Kept,     // the message waits behind an answer being made
        Dropped,  // the user's waiting messages are at their bound
    };
    // Keeps a copy of the message when something for the user is waiting.
    Hold HoldIfWaiting(const std::string& i_user, const MemStream& i_message, QTcpSocket* ip_route = nullptr);

    // A message free to go, and the connection it answers on (null when it
    // answers on none, or that connection went).
    struct Ready
    {
        MemStream m_message;
        QPointer<QTcpSocket> m_route;
        // It answers a request that came on a connection (null now if that
        // connection went).
        bool m_reply = false;
    };
    // Fills a reserved place (an empty body: nothing is to be sent there)
    // and gives the messages now free to go, in order. An unknown place
    // gives nothing.
    std::vector<Ready> Fill(const std::string& i_user, quint64 i_ticket, const MemStream& i_body,
                            QTcpSocket* ip_route = nullptr);

    // Whether something for the user waits behind an answer being made.
    bool Holds(const std::string& i_user) const { return m_users.contains(i_user); }

private:
    struct Entry
    {
        quint64 m_ticket = 0;  // 0: a message, ready from the start
        bool m_ready = false;
        MemStream m_message;
        QPointer<QTcpSocket> m_route;
        bool m_reply = false;
    };
    struct Waiting
    {
        std::deque<Entry> m_entries;
        qint64 m_bytes = 0;
    };

    quint64 m_nextTicket = 1;
    std::map<std::string, Waiting> m_users;
};
