#pragma once

#include "core/io/MemStream.h"
#include "core/store/Data.h"

#include <QDateTime>

#include <functional>
#include <limits>
#include <string>
#include <vector>

class QTcpSocket;

// A message as the queue holds it: its bytes, its place in the queue, when
// it was queued, and on how many connections it went out.
struct PeerQueuedMessage
{
    MemStream m_message;
    int m_sendOrder = 0;
    std::string m_sendTime;
    int m_sends = 0;
};

// Messages that wait for a messaging connection to their user. Each one is an
// "unsent_message" item valued by the address of a heap copy of the message,
// connected to its user, its place in the queue ("send_order"), the time it
// was queued ("send_time") and, once it went out on a connection that failed
// and came back, how often it went out ("send_count"); the queue owns the
// copies.
class PeerOutgoingQueue
{
public:
    // Writes one frame; false when the write failed.
    using Writer = std::function<bool(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate)>;
    // Told of each message written, with m_sends counting this time.
    using SentNote = std::function<void(QTcpSocket* ip_socket, const PeerQueuedMessage& i_sent)>;
    // Whether a message that went out before is no longer wanted (an offer
    // answered meanwhile).
    using StaleTest = std::function<bool(const MemStream& i_message)>;
    // How a flush writes, and what it drops.
    struct Sending
    {
        Writer m_write;
        SentNote m_sent;
        // A message that went out this many times on connections that went
        // is dropped rather than counted once more.
        int m_maxSends = std::numeric_limits<int>::max();
        // A message that went out before and is stale is dropped unsent.
        StaleTest m_stale;
    };

    PeerOutgoingQueue() = default;
    // Frees every message still waiting: at shut-down nobody sends them.
    ~PeerOutgoingQueue();
    PeerOutgoingQueue(const PeerOutgoingQueue&) = delete;
    PeerOutgoingQueue& operator=(const PeerOutgoingQueue&) = delete;

    // The user's messaging connection to send on, of those i_may lets (all
    // when it is empty): the only one, or of several the one opened last (to
    // the second; the first met wins ties). Null when there is none.
    static ItemPtr ChooseConnection(ItemPtr i_user, const std::function<bool(QTcpSocket*)>& i_may = {});

    // Keeps a copy of the message for the user, behind every message queued
    // before.
    void Enqueue(ItemPtr i_user, const MemStream& i_message);

    // Sends the user's queued messages, oldest first, on the messaging
    // connection given (nothing when it is null). Stops at the first write
    // that fails, and tells so: the connection went while it was written
    // to, and the peer may have taken the message with it. That entry
    // counts the send and stays queued, unless it has now gone out
    // m_maxSends times; those after it stay queued as they are.
    bool Flush(ItemPtr i_user, ItemPtr i_connection, const Sending& i_sending);

    // Drops the user's messages that went out before and are stale; whether
    // any message is left.
    static bool DropStale(ItemPtr i_user, const StaleTest& i_stale);
    // Drops the user's messages the test names, sent before or not; whether
    // it dropped any.
    static bool DropQueued(ItemPtr i_user, const StaleTest& i_unwanted);
    // Whether a message the test names waits for the user.
    static bool Holds(ItemPtr i_user, const StaleTest& i_test);

    // Queues messages again that went out on a connection that failed, with
    // their places and times: ahead of what was queued after them, and
    // expiring when they would have.
    void PutBack(ItemPtr i_user, const std::vector<PeerQueuedMessage>& i_messages);

    // A place for a message that goes out without waiting in the queue.
    int TakeSendOrder() { return m_sendOrder++; }

    // Drops every entry queued more than i_limitMs before i_now.
    static void Expire(const QDateTime& i_now, qint64 i_limitMs);

    // The send order the next queued message gets.
    int m_sendOrder = 0;

private:
    void Add(ItemPtr i_user, const PeerQueuedMessage& i_message);
    // The entry went out once more on a connection that went.
    static void CountFailedSend(ItemPtr i_entry, int i_maxSends);
    static bool IsStale(ItemPtr i_entry, const StaleTest& i_stale);
};
