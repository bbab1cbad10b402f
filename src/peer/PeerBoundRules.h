#pragma once

#include "peer/PeerAttemptLanes.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerNetworkShare.h"

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>

class QTcpSocket;

// The rules of the connection bound, in one place: read this first.
//
// The bound (PeerConnectionBudget) counts every peer connection that holds a
// descriptor. Below it every newcomer is taken. At it, what a peer says of
// itself buys nothing until it matches something we wait for:
//
// - Hearing out. A newcomer at the bound is heard out before any room is
//   made for it: it takes a place of the allowance, a fixed number of places
//   above the bound that all newcomers share (Allowance()), a network at
//   most a quarter of them (PeerAllowanceShare).
//   - A newcomer from a network that no room would be made for
//     (PeerMessenger::MayTake) is of a refused network, unless it comes
//     from the address the server gave for a user we have work with
//     (PeerMessenger::ExpectedFrom): at most PeerMessenger::HeardOutPerTurn
//     of refused networks, all together, are taken in one turn, the rest
//     refused at once. Any other is read at once when it brought its
//     introduction.
//   - A holder that has not spoken yet gives its place when more come: with
//     the newcomer's network at its share, that network's oldest silent
//     holder; else, with the allowance full, the oldest silent holder of
//     any network. With no such holder the newcomer is refused. Before a
//     holder gives, what it brought is read (for one newcomer,
//     PeerMessenger::ReadsBeforeGiving holders at most): one that spoke
//     meanwhile keeps its place (or went, refused for what it said), and
//     the next is looked at.
//   - A holder that has spoken (a file connection awaiting its token, a
//     claim kept) never gives its place.
// - What its first message earns (OfIntroduction):
//   - the answer to a relayed request of ours, by the token alone, while
//     the request lives (tokens are random, so they cannot be guessed),
//     from whatever address (PeerMessenger::AnswerableRelayed): kept, as
//     work of ours;
//   - a file connection: refused, unless a download of ours waits for a
//     file connection of the user it names. Then it waits, at most
//     TokenWaitAtBoundMs, for its transfer token, and is kept as work of
//     ours only when the token names a transfer of ours that waits for that
//     user's file connection (KeepsToken);
//   - a messaging connection of a user we have work with, from the address
//     the server gave for that user: kept, as work of ours;
//   - any other messaging connection: room by the network share's rules
//     (PeerNetworkShare), or refused;
//   - anything else: refused.
//   What is kept takes room (work of ours counts in no network, so the
//   network that holds the most gives for it), or else stays in its place
//   of the allowance. So the peer layer never holds more than the bound and
//   the allowance together, whatever peers claim.
// - Work with a user (HasWorkWith): a browse of ours awaiting its answer,
//   for BrowseWorkMs at most; a download of ours queued or running; an
//   upload holding a slot (the transfer manager's check). Queued uploads are
//   not work: anyone can queue them.
// - Who holds on when room is made (HoldOf), asked of each candidate:
//   - one connection per user is protected while we have work with the
//     user: the newest authentic one, that is one we opened, one that
//     answered our token, or one accepted from the user's known address. A
//     newer authentic connection of the user takes the protection over, so
//     that a user whose old connection died unseen reaches us again; a
//     namesake from elsewhere takes nothing. The protected one never goes;
//   - one that carries what we sent such a user and got no answer to yet
//     (our message within AnswerGraceMs, nothing heard since; what had
//     reached us from the peer when we sent, read only after, is not heard
//     since) never goes either, whichever connection of the user's it is;
//   - one that carries a reply goes last, and only from a network of more
//     than PeerNetworkShare::KeptReplies: bytes unsent, a browse reply being
//     made, our message sent within AnswerGraceMs with nothing heard since,
//     or a request of the peer's not yet answered (AnswerOwedMs at most);
//   - any other may go.
// - Where what we send a user goes:
//   - a reply to a request the user sent us (a listing, a folder, the
//     answer to a transfer or queue request) goes on the connection the
//     request came on, while it stands, with nothing looked up
//     (PeerReplyRoute): the peer that asked gets it, wherever it connects
//     from. Once that connection went, the reply goes only on the user's
//     protected connection while one stands, and is dropped otherwise: a
//     namesake's request must not have us reach the user it named;
//   - anything else (PeerMessenger::ConnectionFor) goes on the user's
//     protected connection, else on one from the address the server gave
//     for the user; with neither we open our own. A namesake from
//     elsewhere is sent nothing: while the server has not told the address
//     yet, and can be asked, what we send waits for it, at most
//     PeerMessenger::AddressAskMs (its own timer, well inside an upload's
//     set-up time); a look-up left unanswered that long (or lost with the
//     server link) counts as no address, and what waited goes on a
//     connection we open or on the user's answer to our relayed request;
//   - whatever waits for the user goes first, in order: a later message
//     never overtakes it.
// - A file connection taken below the bound that waits for its token has
//   carried nothing yet. Below the bound it waits as long as any accepted
//   connection waits for its first message, so that a slow link keeps its
//   transfer; at the bound it is a holder like a silent newcomer
//   (FileWaitGives): it gives its place first, the oldest first, unless a
//   download of ours waits for its user's file connection and it has waited
//   TokenWaitAtBoundMs or less. Those waiting count in their network's
//   share (PeerNetworkShare::AddWaiting).
// - Who gives: such a file connection, else the idle connection silent
//   longest (PeerMessenger's IdleEnoughToCloseMs), else the network that
//   holds the most (PeerNetworkShare). Our own attempts: a file connection
//   of ours, or one to a user we have work with, is work of ours
//   (IsWorkOfOurs).
class PeerBoundRules
{
public:
    static constexpr qint64 BrowseWorkMs = 120000;
    // At the bound, a file connection for a download of ours holds its place
    // of the allowance this long for its token. The uploader writes the
    // token apart from its introduction: on a slow link, with a delayed
    // acknowledgement or a segment sent again, it comes a second or more
    // later. A file connection taken below the bound holds its place this
    // long, at the bound, for a download of ours (FileWaitGives).
    static constexpr qint64 TokenWaitAtBoundMs = 5000;
    static constexpr qint64 AnswerGraceMs = 5000;
    // A request the transfer manager or the shares answer takes a turn of
    // the event loop; one left unanswered (a queued upload without a slot)
    // stops counting after this.
    static constexpr qint64 AnswerOwedMs = 30000;

    // Places above the bound for newcomers heard out and claims kept, out
    // of the descriptors the bound leaves to the rest of the client.
    static std::size_t Allowance();

    using WorkCheck = std::function<bool(const std::string&)>;
    using TokenCheck = std::function<bool(const std::string&, quint32)>;
    // Whether the transfer manager has work with a user.
    void SetWorkCheck(WorkCheck i_check) { m_workCheck = std::move(i_check); }
    // Whether a transfer of ours waits for the user's file connection with
    // the token.
    void SetTokenCheck(TokenCheck i_check) { m_tokenCheck = std::move(i_check); }
    // Whether a transfer of ours waits for a file connection of the user's,
    // whatever its token.
    void SetFileWaitCheck(WorkCheck i_check) { m_fileWaitCheck = std::move(i_check); }

    // Work with a user.
    void BrowseAsked(const std::string& i_user, qint64 i_nowMs);
    void BrowseAnswered(const std::string& i_user);
    bool HasWorkWith(const std::string& i_user, qint64 i_nowMs) const;
    // Forgets the browses that stopped being work.
    void Sweep(qint64 i_nowMs);

    // What a newcomer heard out says, and what we know of it.
    struct Newcomer
    {
        PeerFirstMessage::Parsed m_first;
        // The token is that of a relayed request of ours.
        bool m_answersOurRequest = false;
        // It comes from the address the server gave for the named user.
        bool m_fromUsersAddress = false;
    };
    enum class Claim
    {
        Refuse,
        // A messaging connection: room as any peer's, by its network.
        AsPeer,
        // A file connection: its token decides (KeepsToken).
        AwaitToken,
        // Work of ours: room as for our own connections.
        Keep
    };
    Claim OfIntroduction(const Newcomer& i_newcomer, qint64 i_nowMs) const;
    bool KeepsToken(const std::string& i_user, quint32 i_token) const;
    // Whether a file connection taken below the bound, that has waited
    // i_waitedMs for its token, gives its place when room is made.
    bool FileWaitGives(const std::string& i_user, qint64 i_waitedMs) const;

    // A messaging connection of the user began; an authentic one takes the
    // user's protection.
    void Introduced(QTcpSocket* ip_socket, const std::string& i_user, bool i_authentic);
    // A request came on the connection / we wrote on it.
    void RequestCame(QTcpSocket* ip_socket, qint64 i_nowMs);
    void Answered(QTcpSocket* ip_socket);
    // The connection went.
    void Gone(QTcpSocket* ip_socket);
    bool Protects(QTcpSocket* ip_socket) const;
    // The user's newest authentic messaging connection; null when none.
    QTcpSocket* AuthenticOf(const std::string& i_user) const;

    // What the messenger knows of a connection as room is made.
    struct Carrying
    {
        bool m_unsent = false;
        bool m_replyBeingMade = false;
        bool m_awaitsPeer = false;
    };
    PeerNetworkShare::Hold HoldOf(QTcpSocket* ip_socket, const std::string& i_user, const Carrying& i_carrying,
                                  qint64 i_nowMs) const;
    bool IsWorkOfOurs(PeerAttemptLanes::Lane i_lane, const std::string& i_user, qint64 i_nowMs) const;

private:
    WorkCheck m_workCheck;
    TokenCheck m_tokenCheck;
    WorkCheck m_fileWaitCheck;
    std::unordered_map<std::string, qint64> m_browses;
    // The protected connection of each user, and the other way round.
    std::unordered_map<std::string, QTcpSocket*> m_protected;
    std::unordered_map<QTcpSocket*, std::string> m_protectedUser;
    // When the oldest unanswered request came on a connection.
    std::unordered_map<QTcpSocket*, qint64> m_owed;
};
