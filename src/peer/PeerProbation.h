#pragma once

#include "peer/PeerOutgoingQueue.h"

#include <QTimer>
#include <QtGlobal>

#include <map>
#include <set>
#include <utility>
#include <vector>

class QTcpSocket;

// A new messaging connection is on probation until it has shown that it is
// alive: the peer's first message on it, or GraceMs without the connection
// ending. A peer at its own bound may read our introduction and what came
// after it, then reset the connection and forget it all; the socket took the
// bytes, so nothing else tells that they are lost. While a connection is on
// probation a copy of each request sent on it that does no harm when it
// comes twice is kept here; if the connection ends first, the caller puts
// the copies back in the user's queue for the next connection.
//
// What is kept is bounded: MaxKeptBytes per connection, and a message goes
// out on MaxSends connections at most, so that a peer that resets every
// connection costs a few attempts, not a connection a round trip until the
// queue expires. Copies are held by value; whatever is still kept goes with
// the object.
class PeerProbation
{
public:
    // A peer that gives up a new connection does so as soon as it has read
    // the introduction: a round trip and a turn of its event loop, well
    // under a second even on a slow link. A connection standing after a
    // few seconds was kept; waiting longer would only hold the copies longer
    // and repeat requests a slow peer had taken.
    static constexpr qint64 GraceMs = 2500;
    // Requests are small (a browse request is four bytes, a queued file a
    // path): a megabyte holds thousands of them. Counted by the memory the
    // copies hold.
    static constexpr qint64 MaxKeptBytes = 1024 * 1024;
    static constexpr int MaxSends = 3;

    // Requests that do no harm when they come twice: the whole share, a
    // folder's contents, a file to queue, a queued file's place in line,
    // and our offer to send a file (a transfer request of the upload
    // direction; the transfer manager takes one answer under its token and
    // ignores the rest). Answers and replies are not repeated: an answer
    // lost goes with what it answers, whose asker asks again, and one that
    // came twice might answer a later request of theirs. The code alone
    // does not tell our offer from a request to be sent a file: the
    // direction does.
    static bool Repeatable(const MemStream& i_message);

    PeerProbation();
    PeerProbation(const PeerProbation&) = delete;
    PeerProbation& operator=(const PeerProbation&) = delete;

    // The connection has just become a messaging connection: its probation
    // starts now (the peer layer's clock).
    void Begin(QTcpSocket* ip_socket);
    bool OnProbation(QTcpSocket* ip_socket) const;
    // A message went out on the connection; m_sends counts this time. A
    // copy is kept while the connection is on probation, the message is
    // repeatable, it went out fewer than MaxSends times and the
    // connection's copies stay within MaxKeptBytes.
    void Sent(QTcpSocket* ip_socket, const PeerQueuedMessage& i_message);
    // The connection showed that it is alive: its copies go.
    void Pass(QTcpSocket* ip_socket);
    // The connection ended: its probation ends too. The copies, in the
    // order they were sent, if it was still on probation; none otherwise.
    std::vector<PeerQueuedMessage> End(QTcpSocket* ip_socket);

private:
    struct Trial
    {
        qint64 m_untilMs = 0;
        qint64 m_bytes = 0;
        std::vector<PeerQueuedMessage> m_kept;
    };

    // Whether the grace that ends at i_untilMs is over at i_nowMs. A grace
    // that ends further ahead than GraceMs (the clock went back) is over.
    static bool Over(qint64 i_untilMs, qint64 i_nowMs);
    void Forget(std::map<QTcpSocket*, Trial>::iterator i_trial);
    // Ends every probation whose grace is over, and sets the timer for the
    // next one.
    void OnTimer();
    void Arm(qint64 i_nowMs);

    std::map<QTcpSocket*, Trial> m_trials;
    // The same connections by the end of their grace.
    std::set<std::pair<qint64, QTcpSocket*>> m_byEnd;
    QTimer m_timer;
};
