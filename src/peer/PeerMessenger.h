#pragma once

#include "core/io/FileInfo.h"
#include "core/io/MemStream.h"
#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "peer/PeerActivityOrder.h"
#include "peer/PeerAllowanceShare.h"
#include "peer/PeerAttemptLanes.h"
#include "peer/PeerBoundRules.h"
#include "peer/PeerBrowseWatch.h"
#include "peer/PeerConnectionBudget.h"
#include "peer/PeerFileWaits.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerFrameReader.h"
#include "peer/PeerIdleWatch.h"
#include "peer/PeerLogNotes.h"
#include "peer/PeerNetworkShare.h"
#include "peer/PeerOutgoingQueue.h"
#include "peer/PeerProbation.h"
#include "peer/PeerReplyOrder.h"
#include "peer/PeerReplyRoute.h"
#include "peer/PeerSearchBound.h"

#include <QAbstractSocket>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTcpSocket;

// The peer layer: listens on a plain and an obfuscated port, reaches other
// users directly and through the server at once, introduces each connection
// with its first message, frames and masks peer messages, queues messages for
// users not yet connected, hands file and distributed-network connections to
// their services, and expires what goes stale. Everything runs on the GUI
// thread; its state lives in the item store.
class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // A socket's receive state, and whether a later turn of the event loop
    // is to go on reading it.
    struct SocketBufferInfo : PeerSocketBufferInfo
    {
        bool m_readDeferred = false;
        // Every byte the reader took off the socket.
        qint64 m_bytesTaken = 0;
        // Names this wait for a transfer token, for its timer.
        quint64 m_tokenWait = 0;
        // A counted line stands for the disposal of the refused connection.
        bool m_disposeQuietly = false;
    };

    // Reading is fair between connections: one read of a socket handles at
    // most FramesPerTurn frames, or frames for at most ReadBudgetMs, and
    // leaves the rest to a later turn, so one busy peer holds neither the
    // other peers nor anything else the event loop has to do.
    static constexpr int FramesPerTurn = 16;
    static constexpr int ReadBudgetMs = 5;

    // The most a connection to a peer may hold unsent. A peer that stops
    // reading while we go on writing (answering its browse requests, say)
    // would otherwise have us keep every byte.
    static constexpr qint64 MaxUnsentBytes = 16 * 1024 * 1024;
    // Unsent bytes up to which a message is handed to the system at once.
    static constexpr qint64 FlushAtOnceBytes = 64 * 1024;
    // How long a listener rests after it failed to accept.
    static constexpr int AcceptPauseMs = 1000;
    // A messaging connection silent this long may be closed to make room
    // for a new one when the connections are at their bound.
    static constexpr qint64 IdleEnoughToCloseMs = 30000;
    // How long a connection we sent on, and have heard nothing on since,
    // counts as carrying a reply at the bound: a peer acts on a listing or
    // a transfer request within moments.
    static constexpr qint64 AnswerGraceMs = PeerBoundRules::AnswerGraceMs;
    // Replaces IdleEnoughToCloseMs, for tests that cannot wait that long.
    void SetIdleEnoughToCloseMs(qint64 i_ms) { m_idleEnoughToCloseMs = i_ms; }
    // How long an address asked for is waited for before what waits for it
    // goes without it. The server answers within moments; the wait ends
    // well inside the half minute an upload may take to set up, so that an
    // offer held for the look-up still goes out (direct and relayed) in
    // time to be answered. Its end lets the server link ask again at once.
    static constexpr qint64 AddressAskMs = 10000;
    // Replaces AddressAskMs, for tests that cannot wait that long.
    void SetAddressAskMs(qint64 i_ms) { m_addressAskMs = i_ms; }
    // Replaces the connection bound (0 restores it), for tests that cannot
    // open hundreds of connections.
    void SetConnectionBound(std::size_t i_bound) { m_connections.SetLimit(i_bound); }
    // Connections taken from the listeners in one turn of the event loop at
    // most: the next turn reads what they brought before more are taken, so
    // that the bound of connections waiting to introduce themselves
    // (PeerIdleWatch::AcceptedLimit) never closes one before it was read.
    // Half the bound, as the turn that reads them may take another batch
    // first.
    static constexpr int AcceptsPerTurn = int(PeerIdleWatch::AcceptedLimit / 2);
    // Connections refused in one turn at most, and the rest after a turn
    // that refused any. A crowd refused at the bound may connect again as
    // soon as it is refused, and the system's queue holds its connections in
    // front of everyone else's: refusing them at once reaches a peer from
    // another network within a few turns, and the rest bounds what a crowd
    // that reconnects as fast as the loopback allows costs.
    static constexpr int RefusalsPerTurn = 64;
    static constexpr int RefusedRestMs = 50;
    // The listeners' queue of connections the system completes before they
    // are accepted. A crowd that reconnects as soon as it is refused would
    // keep a short queue full, and the system drops other peers' attempts
    // while it is: they would retry only seconds later.
    static constexpr int ListenBacklog = 1024;
    // A newcomer at the bound is heard out before room is made for it
    // (PeerBoundRules says what it may then be kept for). They share the
    // allowance above the bound, at most MaxHeardOut places, a network its
    // share of them (PeerAllowanceShare: a silent one gives its place when
    // more come), and HeardOutPerTurn of a refused network are taken in one
    // turn, the rest refused at once, so that each is read before it could
    // be the oldest. The share is large on purpose: a crowd refused at once
    // reconnects at once, and with a small share it takes every turn's, so
    // that an honest file connection would seldom be heard.
    static constexpr std::size_t MaxHeardOut = PeerConnectionBudget::MaxAllowance;
    static constexpr int HeardOutPerTurn = int(MaxHeardOut / 2);

    // Needs the item store, the data saver, the timer service and the server
    // link (with its type "user") to exist.
    PeerMessenger();
    ~PeerMessenger() override;
    PeerMessenger(const PeerMessenger&) = delete;
    PeerMessenger& operator=(const PeerMessenger&) = delete;

    // Applies the port settings and opens both listeners.
    void DataLoaded() override;

    // Sends a peer message (code and payload) to a user on a messaging
    // connection, or queues it and opens one. A reply to a request the user
    // sent us goes on the connection the request came on, while it stands
    // (PeerReplyRoute).
    void SendMessage(std::string i_user, MemStream& i_message);
    // Whether our offer to the user under the token still waits, never
    // sent, for a connection to the user.
    bool OfferUnsent(const std::string& i_user, quint32 i_token) const;
    // Our offer to the user under the token is no longer wanted (its upload
    // left the state that waits for the answer): a copy still queued for the
    // user never goes.
    void WithdrawOffer(const std::string& i_user, quint32 i_token);
    // Opens a file connection to the user.
    void RequestFileConnectionToUser(std::string i_user);
    // Opens a distributed-network connection to the user.
    void RequestDNetConnection(std::string i_user);
    // Tells whether we have work with a user (a download of ours from them,
    // say): at the connection bound one connection of theirs is kept, and
    // connections to them count as work of ours (PeerBoundRules).
    void SetWorkCheck(PeerBoundRules::WorkCheck i_hasWorkWith) { m_rules.SetWorkCheck(std::move(i_hasWorkWith)); }
    // Tells whether a transfer of ours waits for the user's file connection
    // with a token: at the bound only such a file connection is kept.
    void SetFileTokenCheck(PeerBoundRules::TokenCheck i_check) { m_rules.SetTokenCheck(std::move(i_check)); }
    // Tells whether a transfer of ours waits for a file connection of the
    // user's: at the bound any other file connection is refused at once.
    void SetFileWaitCheck(PeerBoundRules::WorkCheck i_check) { m_rules.SetFileWaitCheck(std::move(i_check)); }
    // Tells whether our offer to the user under the token still awaits its
    // answer: a copy of an offer kept to go again is dropped once it does
    // not.
    void SetOfferCheck(PeerBoundRules::TokenCheck i_check) { m_offerCheck = std::move(i_check); }

    // The name of a peer message code for the log.
    static QString MessageCodeToString(int i_code);

    // Asks the user for the whole share; it arrives later as UserShare.
    void GetUserSharedFiles(std::string i_user);

    // Transfer negotiation, for the transfer manager: each writer sends one
    // message through SendMessage and cannot fail.

    // Offers to send the file under a new token from the setting
    // "transfer_req_counter", and returns the token.
    unsigned int RequestUpload(std::string i_user, std::string i_fileName, qint64 i_fileSize);
    // Accepts an offer; the size goes along only when l_sendFileSize is set.
    void AcceptTransferRequest(std::string i_user, unsigned int i_req, bool l_sendFileSize, qint64 l_fileSize);
    void DenyTransferRequest(std::string i_user, unsigned int i_req, std::string i_reason);
    // Asks the user to queue an upload of the file (folder, "\", name).
    void QueueDownload(std::string i_user, std::string i_file);
    void DenyUpload(std::string i_user, std::string i_file, std::string i_reason);

public slots:
    void OnNewConnection();
    void OnNewObfuscatedConnection();
    void OnConnectedToServer();
    void OnSocketReadyToRead();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectResponseSocketConnected();
    void OnConnectToPeerSocketConnected();
    void OnConnectToPeerSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectPeerConnectionFailure(uint i_req);
    void EveryHalfMinute();

signals:
    void SearchResults(ItemPtr i_searchResults);
    void FileConnectionRequested(std::string i_user, QTcpSocket* ip_socket, uint i_requestID);
    // A receiver may take the listing over: nothing reads it after.
    void UserShare(std::string i_userName, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);
    void FileTransferRequested(std::string i_user, int i_direction, uint i_req, std::string i_file, qint64 i_fileSize);
    void QueueUploadRequested(std::string i_user, std::string i_file);
    void FileConnectionAccepted(std::string i_user, QTcpSocket* ip_socket);
    void FileTransferResponse(std::string i_user, uint i_req, bool i_accepted, bool i_receivedFileSize,
                              qint64 i_fileSize, std::string i_denialReason);
    void DNetConnectionRequested(std::string i_user, QTcpSocket* ip_socket);
    void DNetConnectionAccepted(std::string i_user, QTcpSocket* ip_socket);
    void UploadFailed(std::string i_user, std::string i_file);
    void UploadDenied(std::string i_user, std::string i_file, std::string i_reason);
    void SharedFilesInFolderRequested(std::string i_user, quint32 i_req, std::string i_folder);
    void DownloadPlaceInLine(std::string i_user, std::string i_file, int i_place);
    // A file connection asked for with RequestFileConnectionToUser failed
    // for good: the server named no address for the user, or the direct
    // attempt and the relayed request both failed (or expired). Never for
    // a request that connected. Emitted from the event loop, and only while
    // no new file connection to the user is asked for.
    void FileConnectionFailed(std::string i_user);

private:
    void ReleaseOpenConnections();
    // Reaching a user.
    void ConnectToUser(std::string i_user, const char* ip_connectionType);
    int GetUserPort(ItemPtr i_userItem, bool& o_obfuscated);
    void DisposeOfPeerConnectionRequest(ItemPtr i_connectionRequest);
    // Removes a request that has neither a direct socket, nor a relayed
    // request, nor a user's address still to come.
    void InspectPeerConnectionRequest(ItemPtr i_connectionRequest);
    // Removes a request that failed for good; a file connection's failure
    // is reported (FileConnectionFailed).
    void RemoveFailedRequest(ItemPtr i_connectionRequest);
    // A connection of the type to the user is asked for and not yet made.
    static bool AsksForConnection(const std::string& i_user, const char* ip_connectionType);
    static bool WaitsForAddress(ItemPtr i_connectionRequest);
    // Our relayed request of the token, while it stands (its attempt may
    // have got a direct connection meanwhile): a connection from any
    // address that brings the token answers it. Null otherwise.
    static ItemPtr AnswerableRelayed(quint32 i_token);
    void OnUserAddress(Item* ip_userItem);
    // The server told the user's address: with no authentic connection of
    // the user yet, the newest from that address becomes it.
    void AdoptConnectionFromAddress(ItemPtr i_user);
    void StartDirectAttempt(ItemPtr i_request, ItemPtr i_user, ItemPtr i_connectionType);
    void FailDirectAttempt(QTcpSocket* ip_socket);

    // Accepted connections and relayed requests. Accepting takes what waits
    // in the listeners, the connection that has waited longest first, while
    // there is room or room can be made; room goes to waiting attempts of
    // ours first. At the bound a newcomer is heard out, and room is made for
    // it only for what it then says (PeerBoundRules). A connection left
    // waiting stops its listener until it is
    // taken: the toolkit accepts no more while one is pending, so that each
    // listener holds one at most and the one whose connection waited longest
    // has the next room, whichever port is busier.
    //
    // Every connection a listener holds is looked at when it comes, and
    // stays only while accepting is held (the turn timer runs and its end
    // looks again) or while no room can be made (paused: the room timer runs
    // for the moment the connection silent longest may be closed, and every
    // connection that goes or becomes a messaging connection looks again).
    void AcceptWaiting();
    // AcceptWaiting from the event loop, once however often it is asked.
    void AcceptWaitingLater();
    // Runs the call from the event loop, once however often it is asked
    // before then; the flag says that it is queued.
    void OnceLater(bool& io_queued, std::function<void()> i_call);
    // The listener whose waiting connection was seen first; null when none
    // waits.
    QTcpServer* LongestWaiting(bool& o_obfuscated);
    void TakeConnection(QTcpSocket* ip_socket, bool i_obfuscated, const QDateTime& i_now);
    // Watches a taken connection until it introduces itself.
    void Introduce(QTcpSocket* ip_socket, bool i_obfuscated, const QDateTime& i_now);
    // Takes a newcomer to hear it out; false when every place of the
    // allowance is held by one that has spoken or, for a newcomer of a
    // network that room would not be made for (i_refusedNetwork), when this
    // turn heard out its share of them.
    bool TakeToHearOut(QTcpSocket* ip_socket, bool i_obfuscated, bool i_refusedNetwork, const QDateTime& i_now);
    // Reads at once what a newcomer heard out brought, as far as the system
    // holds it already.
    void HearNow(QTcpSocket* ip_socket);
    // Holders read, at most, before one gives its place to a newcomer.
    static constexpr int ReadsBeforeGiving = 4;
    // A newcomer heard out said what it is (the first message read): true
    // when it is kept, or waits for its transfer token; false when it is
    // refused (the caller takes it down).
    bool EndHearing(QTcpSocket* ip_socket, const PeerFirstMessage::Parsed& i_first);
    // A file connection heard out sent its token: true when it is kept.
    bool EndTokenWait(QTcpSocket* ip_socket, const std::string& i_user, quint32 i_token);
    // A claim kept: room as for work of ours, or its place of the allowance.
    void KeepClaimed(QTcpSocket* ip_socket, const QDateTime& i_now);
    // A file connection heard out at the bound has TokenWaitAtBoundMs to
    // send its token.
    void TimeTokenWait(QTcpSocket* ip_socket);
    // Reads what a taken connection brought while it waited, and takes it
    // down if it went meanwhile. Null, or a socket no longer ours: nothing.
    void CatchUp(QTcpSocket* ip_socket);
    // Closes a connection no room can be made for at once: its network
    // holds (nearly) the most connections.
    void Refuse(QTcpSocket* ip_socket, const QDateTime& i_now);
    // The refusal's line, once a minute per network.
    void NoteRefusal(quint32 i_address, const QDateTime& i_now);
    // Accepting waits for the turn timer: this turn took AcceptsPerTurn or
    // refused RefusalsPerTurn, or accepting rests after a turn that refused.
    bool AcceptingHeld() const;
    // A connection is handled now: starts the turn timer unless it runs.
    void StartTurn();
    void OnTurnEnd();
    // Whether MakeRoom could find room for some connection.
    bool CanMakeRoom(const QDateTime& i_now) const;
    // Whether MakeRoom would find room for a peer of the address now.
    bool MayTake(quint32 i_taker, const QDateTime& i_now) const;
    // Room for one more connection with the address (a peer's, or the one
    // an attempt of ours goes to), by the rules of PeerBoundRules: there
    // is, or a connection was closed for it. i_ours: work of ours, which
    // counts in no network.
    bool MakeRoom(quint32 i_taker, const QDateTime& i_now, bool i_ours = false);
    // How a messaging connection holds on when room is made: what the
    // messenger knows of it, judged by PeerBoundRules::HoldOf.
    PeerNetworkShare::Hold HoldOf(QTcpSocket* ip_socket, qint64 i_nowMs) const;
    bool HasWorkWith(const std::string& i_user) const;
    // The server gave the address as the user's.
    static bool IsUsersAddress(const std::string& i_user, quint32 i_address);
    // The server gave the address as that of a user we have work with: a
    // newcomer from there is heard at once, whatever its network holds,
    // for it may bring a file of ours or answer us.
    bool ExpectedFrom(quint32 i_address) const;
    // The messaging connection silent longest that may be closed for room,
    // and its last activity.
    QTcpSocket* ClosableOldest(const QDateTime& i_now, qint64& o_lastActivity) const;
    // The same, if it has been silent long enough to close.
    QTcpSocket* IdlestConnection(const QDateTime& i_now) const;
    // The file connection taken below the bound that gives its place first
    // (PeerBoundRules::FileWaitGives); null when none does.
    QTcpSocket* FileWaitGiver(qint64 i_nowMs) const;
    // A file connection taken below the bound ended its wait for its token:
    // it no longer counts in its network. Nothing for any other.
    void EndFileWait(QTcpSocket* ip_socket);
    // "the network of <address> holds ..." for the bound's lines.
    QString NetworkHolds(quint32 i_address) const;
    // Takes a connection down to make room.
    void CloseForRoom(QTcpSocket* ip_socket);
    // A connection waits and no room can be made: sets the room timer.
    void PauseListeners(const QDateTime& i_now);
    // Sets the room timer for the moment the messaging connection silent
    // longest may be closed, or the oldest file connection waiting for its
    // token may give its place, whichever comes first; stops it when there
    // is neither.
    void WatchForRoom(const QDateTime& i_now);
    // A waiting connection is taken, or none waits.
    void EndPause(const QDateTime& i_now);
    void OnRoomTimer();
    // A counted connection went: waiting attempts start, and accepting
    // resumes.
    void OnPeerConnectionGone();
    // A listener that failed to accept pauses for AcceptPauseMs.
    void OnAcceptError(QTcpServer& io_listener);
    void OnPeerConnectionRequest(Item* ip_request);
    void OnPeerConnectionRequestRemoved(Item* ip_request);
    void StartConnectionBack(Item* ip_request);

    // Reads the socket's frames within the budget of one turn.
    void ReadFrames(QTcpSocket* ip_socket);
    // The peer's bytes on the socket that reached us: those read, and those
    // that wait to be.
    qint64 BytesReceived(QTcpSocket* ip_socket) const;
    // Frames. false when the connection is not open, when the write failed
    // or took the connection down, or when it left a messaging connection
    // with more unsent than it may hold and the connection was taken down.
    // op_went, when given, tells the first two apart from the last: the
    // connection was gone, or went while written to.
    bool SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate, bool* op_went = nullptr);

    // The first message.
    bool HandleFirstMessage(QTcpSocket* ip_socket, ItemPtr i_uninitializedSocket, MemStream& i_message);
    // A newcomer heard out at the bound was refused: counted in a line once
    // a minute, which stands for its disposal.
    void CountRefusedHeard();
    // A connection whose first message is refused: the counted line stands
    // for it, and its reader takes it down with no lines of its own.
    void DisposeQuietly(QTcpSocket* ip_socket);
    // Refuses an answer to a relayed request that is not ours, or no longer
    // live: counted in a line once a minute, as the bound's are.
    void RefuseAnswer(QTcpSocket* ip_socket);
    // i_authentic: we opened it, it answered our token, or it came from the
    // user's known address (PeerBoundRules' protection).
    void MakePeerSocket(QTcpSocket* ip_socket, const std::string& i_user, bool i_obfuscated, bool i_authentic);
    void WaitForTransferToken(QTcpSocket* ip_socket, const std::string& i_user);
    void AbandonSocket(QTcpSocket* ip_socket);

    // Received messages. Each handler gets the message read up to just
    // after its code, and the connection's user; false means the message
    // could not be read and the connection is to go.
    bool HandleSharedFileListRequest(ItemPtr i_user);
    // A message went out on the connection: a request for the user's share
    // is watched on it.
    void NoteSent(const std::string& i_user, QTcpSocket* ip_socket, const MemStream& i_message);
    // The connection went: our requests for shares it carried go again,
    // once per ask, unless they wait to go again already.
    void AskAgainForSharesLost(QTcpSocket* ip_socket);
    bool HandleSharedFileList(MemStream& io_message, ItemPtr i_user);
    bool HandleSharedFilesInFolderRequest(MemStream& io_message, ItemPtr i_user);
    bool HandleSearchReply(MemStream& io_message, ItemPtr i_user);
    // A search's results go with its request: its count goes too.
    void OnSearchRequestRemoved(Item* ip_request);
    bool HandleTransferRequest(MemStream& io_message, ItemPtr i_user);
    bool HandleTransferResponse(MemStream& io_message, ItemPtr i_user);
    bool HandleQueueUpload(MemStream& io_message, ItemPtr i_user);
    bool HandleUploadPlaceInLine(MemStream& io_message, ItemPtr i_user);
    bool HandleUploadFailed(MemStream& io_message, ItemPtr i_user);
    bool HandleUploadDenied(MemStream& io_message, ItemPtr i_user);
    // Inflates the compressed rest of a message into o_payload. false when
    // nothing is to be read from it and the message counts as handled: the
    // payload inflates too far, or memory ran out.
    bool InflatePayload(MemStream& i_message, unsigned int i_code, ItemPtr i_user, MemStream& o_payload);
    // Logs a listing or search reply whose files claim more attributes than
    // a file has; false, so that its connection closes.
    bool RefuseAttributeBomb(unsigned int i_code, ItemPtr i_user);

    // The outgoing queue.
    void SendUnsentMessages(std::string i_user);
    // The messaging connection messages to the user go on: the newest
    // authentic one (PeerBoundRules); with none, one from the address the
    // server gave for the user; while no address came and the server can
    // be asked, none; else (the server knows no address, or cannot be
    // asked) the one opened last. Null when none.
    ItemPtr ConnectionFor(ItemPtr i_user) const;
    // No authentic connection of the user stands, the server gave no
    // address yet, and it can be asked.
    bool AddressToAsk(ItemPtr i_user) const;
    // Messages wait for the user: asks the server for the address when
    // AddressToAsk, else opens a messaging connection.
    void ReachUser(ItemPtr i_user);
    // The address asked for came: the messages go on the user's own
    // connection, or on one we open.
    void SendAfterAddress(ItemPtr i_user);
    // Messages wait for the user: they go on the user's connection now, or
    // the user is reached (ReachUser).
    void DeliverHeld(ItemPtr i_user);
    // Look-ups that waited their wait (i_all: every one, the server link
    // went) count as no address: the messages that waited for them go. Sets
    // the look-up timer for the next one.
    void EndAddressWaits(qint64 i_nowMs, bool i_all = false);
    void OnServerLost();
    // Users whose look-up went unanswered and for whom nothing waits any
    // more are looked up again when next wanted.
    void ForgetUnansweredLookUps();
    // Sets the look-up timer for the moment the oldest look-up's wait ends,
    // or stops it when none waits.
    void WatchAddressWaits(qint64 i_nowMs);
    // The user's messaging connection from the address opened last; null
    // when none.
    static ItemPtr LatestFrom(ItemPtr i_user, quint32 i_address);
    // Sends on the connection of the reply's route while it stands, else on
    // the user's messaging connection, or queues and connects; held
    // messages of the user go first. Nothing waits behind a reply being
    // made in front of the message any more. A reply (i_reply) whose route
    // went goes only on an authentic connection of the user that stands,
    // and one whose connection goes while it is written is not sent again.
    void SendNow(const std::string& i_user, MemStream& i_message, QTcpSocket* ip_route = nullptr,
                 bool i_reply = false);
    // An authentic messaging connection of the user stands.
    bool AuthenticStands(ItemPtr i_user) const;
    // Drops a reply of the code to the user whose asking connection went.
    void DropReply(ItemPtr i_user, int i_code);
    // The route's messaging connection, if it still stands for the user.
    static ItemPtr RouteStanding(QTcpSocket* ip_route, ItemPtr i_user);
    // A browse reply made after its request was handled: it goes out on the
    // connection that asked, then what waited behind it.
    void OnBrowseReplyMade(const std::string& i_user, quint64 i_ticket, const MemStream& i_body,
                           QTcpSocket* ip_asking);
    // The peer ended a messaging connection: the requests it kept on
    // probation (PeerProbation) go back to the head of the user's queue, and
    // the user's next connection, made for them if need be, carries them.
    void PutBackUnproven(QTcpSocket* ip_socket);
    void ResendPutBack(const std::string& i_user);
    void ResendPutBackLater(const std::string& i_user);
    // Which of the user's queued messages that went out before are stale.
    PeerOutgoingQueue::StaleTest StaleTestFor(const std::string& i_user) const;

    // Every counter of lines a crowd could have written many times a
    // second: the sweep writes what is due of each, the shut-down what is
    // left.
    std::vector<PeerLogCounter*> CountedLines();

    // Disposal and time-outs.
    // i_logged false: a counted line stands for the disposal, which writes
    // none of its own.
    void DisposeOfSocket(QTcpSocket* ip_socket, bool i_logged = true);
    void DisposeOfSocketInner(QTcpSocket* ip_socket, bool i_logged = true);
    void OnPeerSocketItemAdded(Item* ip_socketItem);
    void OnPeerSocketItemRemoved(Item* ip_socketItem);
    void ExpireRelayedRequests(const QDateTime& i_now);
    // Requests left waiting for an address that never came.
    void ExpireAddressWaits(const QDateTime& i_now);
    void ExpireDirectAttempts(const QDateTime& i_now);
    void ExpireConnectionsBack(const QDateTime& i_now);
    void ExpireIdleConnections(const QDateTime& i_now);
    void ExpireSilentConnections(const QDateTime& i_now);

    // Starts an outgoing socket whose records and signals are in place. An
    // address or port of 0 never reaches the network: i_onFailure runs from
    // the event loop instead, as a failed connection would. An attempt
    // that may not start at once waits its turn in its lane
    // (PeerAttemptLanes).
    void StartConnecting(QTcpSocket* ip_socket, quint32 i_address, int i_port, PeerAttemptLanes::Lane i_lane,
                         void (PeerMessenger::*ip_onFailure)(QTcpSocket*));
    void BeginConnecting(PeerAttemptLanes::Lane i_lane, QTcpSocket* ip_socket, quint32 i_address, quint16 i_port);
    // Starts waiting attempts as far as the bound has room or room can be
    // made for their networks (MakeRoom), before the listeners are served.
    // Runs from the event loop only: making room closes connections.
    void StartWaitingAttempts(const QDateTime& i_now);
    void StartWaitingAttemptsLater();
    // Begins a waiting attempt of the lane if it still stands and room can
    // be made for it.
    PeerAttemptLanes::Outcome StartWaitingAttempt(PeerAttemptLanes::Lane i_lane,
                                                  const PeerAttemptLanes::Attempt& i_attempt, const QDateTime& i_now);
    // PeerBoundRules::IsWorkOfOurs for the attempt's user.
    bool IsWorkOfOurs(PeerAttemptLanes::Lane i_lane, QTcpSocket* ip_socket) const;
    // Ends a connection back that gave its place to another network.
    void GiveUpConnectionBack(QTcpSocket* ip_socket, const QDateTime& i_now);
    // Runs the failure of an attempt from the event loop, as a failed
    // connection would, if the socket still exists then.
    void FailLater(QTcpSocket* ip_socket, void (PeerMessenger::*ip_onFailure)(QTcpSocket*));
    // Fails an attempt of either kind that never started.
    void FailAttempt(QTcpSocket* ip_socket);
    void FailConnectionBack(QTcpSocket* ip_socket);

protected:
    // One complete frame body read from a socket: the connection's first
    // message, or a code and its payload. false when the message could not
    // be read; the reader then disposes of the socket. Reachable from a
    // subclass so that a harness can feed frames without a network.
    bool HandleMessage(QTcpSocket* ip_socket, MemStream i_message);

private:
    QTcpServer m_server;
    QTcpServer m_obfuscatedServer;
    // After the listeners, so that it goes before the sockets they own.
    PeerConnectionBudget m_connections{[this] { OnPeerConnectionGone(); }};
    // Newcomers heard out and claims kept, above the bound (the
    // allowance), and who holds its places by network.
    PeerConnectionBudget m_heardOut{nullptr};
    PeerAllowanceShare m_allowanceShare;
    quint64 m_tokenWaits = 0;
    PeerBoundRules m_rules;
    PeerBoundRules::TokenCheck m_offerCheck;
    int m_heardOutThisTurn = 0;
    // Our outgoing attempts, and whose turn it is to connect.
    PeerAttemptLanes m_lanes;
    bool m_attemptsQueued = false;
    bool m_startingAttempts = false;
    // An attempt of ours waits and no room could be made for it.
    bool m_attemptsWaitForRoom = false;
    // A connection waits in a listener and no room can be made for it.
    bool m_listenersPaused = false;
    // Each listener's waiting connection in the order they were first
    // seen; 0 when none waits.
    quint64 m_plainWaitingSince = 0;
    quint64 m_obfuscatedWaitingSince = 0;
    quint64 m_waitOrder = 0;
    // Connections taken and refused since the turn timer (zero interval, or
    // RefusedRestMs after a turn that refused any) was started; it fires
    // once the event loop has polled the sockets again.
    int m_takenThisTurn = 0;
    int m_refusedThisTurn = 0;
    bool m_turnResting = false;
    QTimer m_turnTimer;
    bool m_accepting = false;
    bool m_acceptQueued = false;
    // Messaging connections by remote network, and by their last activity.
    PeerNetworkShare m_networkShare;
    PeerActivityOrder m_activity;
    // File connections taken below the bound that wait for their token.
    PeerFileWaits m_fileWaits;
    // IdleEnoughToCloseMs unless a test replaced it.
    qint64 m_idleEnoughToCloseMs = IdleEnoughToCloseMs;
    // Single shot, while paused or an attempt waits for room, at the moment
    // the messaging connection silent longest becomes idle enough to make
    // room.
    QTimer m_roomTimer;
    // Lines a crowd could have written many times a second. The half-minute
    // sweep writes what each PeerLogCounter counted since its last line: a
    // new one joins its list (EveryHalfMinute).
    PeerLogNotes m_refusalNotes;
    PeerLogNotes m_giveUpNotes;
    PeerLogCounter m_pausedLines;
    PeerLogCounter m_resumedLines;
    PeerLogCounter m_idleClosedLines;
    PeerLogCounter m_silentClosedLines;
    PeerLogNotes m_attemptWaitNotes;
    PeerLogCounter m_droppedAttemptLines;
    PeerLogCounter m_givenUpAttemptLines;
    PeerLogCounter m_tokenLateLines;
    PeerLogCounter m_fileWaitClosedLines;
    PeerLogCounter m_fileWaitExpiredLines;
    PeerLogCounter m_acceptErrorLines;
    PeerLogCounter m_droppedReplyLines;
    PeerLogCounter m_refusedAnswerLines;
    // Connections closed for their first message, by what was wrong with
    // it: refused at the bound once heard out, no direction, unreadable, a
    // connection type we do not know.
    PeerLogCounter m_refusedHeardLines;
    PeerLogCounter m_noDirectionLines;
    PeerLogCounter m_unreadableFirstLines;
    PeerLogCounter m_unknownTypeLines;
    std::map<QTcpSocket*, SocketBufferInfo> m_socketBufferInfoMap;
    // Messages waiting for a messaging connection, and their send order.
    PeerOutgoingQueue m_outgoingQueue;
    // Requests sent on new messaging connections not yet shown to be alive.
    PeerProbation m_probation;
    // Messages to users that wait behind a browse reply being made.
    PeerReplyOrder m_replyOrder;
    // Silent connections that no item times.
    PeerIdleWatch m_idleWatch;
    // Relayed requests whose connection back is due from the event loop.
    std::set<Item*> m_pendingConnectionsBack;
    // Users whose address we asked for messages that wait, and when.
    std::unordered_map<std::string, qint64> m_addressAsked;
    // The same look-ups in the order they were asked; one answered, or asked
    // again, meanwhile is passed over when it comes first.
    std::deque<std::pair<qint64, std::string>> m_addressAskOrder;
    qint64 m_addressAskMs = AddressAskMs;
    // Single shot, while a look-up waits, at the moment the oldest one's
    // wait ends.
    QTimer m_addressWaitTimer;
    // Users whose look-up went unanswered while messages wait for them.
    std::unordered_set<std::string> m_addressUnanswered;
    // The connection of the request being handled, for its reply.
    PeerReplyRoute m_replyRoute;
    // Users asked for their whole share and not yet answered.
    std::set<std::string> m_sharesAskedFor;
    // The connections that carried those requests.
    PeerBrowseWatch m_browseWatch;
    // How many results each search holds.
    PeerSearchBound m_searchBound;
};

extern PeerMessenger* peerMessenger;
// Set once the messenger's destruction has begun; socket disposal does
// nothing from then on.
extern bool g_peerMessengerDeleted;
