#include "FakeCentralServer.h"

#include "WireBytes.h"

#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <ctime>

namespace {

// Message codes of the server protocol.
enum : quint32 {
    Login = 1,
    SetWaitPort = 2,
    GetPeerAddress = 3,
    AddUser = 5,
    GetUserStatus = 7,
    SayChatroom = 13,
    JoinRoom = 14,
    LeaveRoom = 15,
    UserJoinedRoom = 16,
    UserLeftRoom = 17,
    ConnectToPeer = 18,
    MessageUser = 22,
    MessageAcked = 23,
    FileSearch = 26,
    SharedFoldersFiles = 35,
    GetUserStats = 36,
    RoomList = 64,
    HaveNoParent = 71,
    CheckPrivileges = 92,
    EmbeddedDistributed = 93,
    AcceptChildren = 100,
    ParentCandidates = 102,
    SendUploadSpeed = 121,
    BranchLevel = 126,
    BranchRoot = 127,
    DistributedReset = 130,
    CantConnectToPeer = 1001,
};

}  // namespace

FakeCentralServer::FakeCentralServer(QObject* ip_parent) : QObject(ip_parent)
{
    connect(&m_listener, &QTcpServer::newConnection, this, &FakeCentralServer::OnNewConnection);
}

FakeCentralServer::~FakeCentralServer()
{
    Stop();
}

bool FakeCentralServer::Start(const QHostAddress& i_address)
{
    return m_listener.listen(i_address, 0);
}

quint16 FakeCentralServer::Port() const
{
    return m_listener.serverPort();
}

void FakeCentralServer::Stop()
{
    m_listener.close();
    // Every client goes at once: nobody is left to hear that the others
    // left their rooms, but they must leave them all the same. Members put
    // in with AddRoomMember have no client and stay.
    for (const Client& l_client : m_clients) {
        if (!l_client.m_loggedIn)
            continue;
        for (auto& [l_room, l_members] : m_rooms)
            l_members.erase(l_client.m_user);
    }
    while (!m_clients.empty()) {
        QTcpSocket* lp_socket = m_clients.front().mp_socket;
        disconnect(lp_socket, nullptr, this, nullptr);
        lp_socket->abort();
        lp_socket->deleteLater();
        m_clients.pop_front();
    }
}

std::set<std::string> FakeCentralServer::RoomMembers(const std::string& i_room) const
{
    auto l_it = m_rooms.find(i_room);
    return l_it == m_rooms.end() ? std::set<std::string>() : l_it->second;
}

bool FakeCentralServer::IsLoggedIn(const std::string& i_user) const
{
    for (const Client& l_client : m_clients) {
        if (l_client.m_loggedIn && l_client.m_user == i_user)
            return true;
    }
    return false;
}

QList<FakeCentralServer::Message> FakeCentralServer::Received(quint32 i_code) const
{
    QList<Message> l_messages;
    for (const Message& l_message : m_received) {
        if (l_message.m_code == i_code)
            l_messages.append(l_message);
    }
    return l_messages;
}

bool FakeCentralServer::WaitFor(quint32 i_code, int i_count, int i_timeoutMs)
{
    return QTest::qWaitFor([&]() { return CountOf(i_code) >= i_count; }, i_timeoutMs);
}

FakeCentralServer::Client* FakeCentralServer::FindClient(QTcpSocket* ip_socket)
{
    for (Client& l_client : m_clients) {
        if (l_client.mp_socket == ip_socket)
            return &l_client;
    }
    return nullptr;
}

FakeCentralServer::Client* FakeCentralServer::FindUser(const std::string& i_user)
{
    for (Client& l_client : m_clients) {
        if (l_client.m_loggedIn && l_client.m_user == i_user)
            return &l_client;
    }
    return nullptr;
}

const FakeCentralServer::Client* FakeCentralServer::FindUser(const std::string& i_user) const
{
    for (const Client& l_client : m_clients) {
        if (l_client.m_loggedIn && l_client.m_user == i_user)
            return &l_client;
    }
    return nullptr;
}

void FakeCentralServer::WriteFrame(Client& io_client, quint32 i_code, const QByteArray& i_payload)
{
    io_client.mp_socket->write(WireWriter::Frame(i_code, i_payload));
}

bool FakeCentralServer::Send(const std::string& i_user, quint32 i_code, const QByteArray& i_payload)
{
    Client* lp_client = FindUser(i_user);
    if (!lp_client)
        return false;
    WriteFrame(*lp_client, i_code, i_payload);
    return true;
}

bool FakeCentralServer::SendRaw(const std::string& i_user, const QByteArray& i_bytes)
{
    Client* lp_client = FindUser(i_user);
    if (!lp_client)
        return false;
    lp_client->mp_socket->write(i_bytes);
    return true;
}

bool FakeCentralServer::SendToLatest(quint32 i_code, const QByteArray& i_payload)
{
    return SendRawToLatest(WireWriter::Frame(i_code, i_payload));
}

bool FakeCentralServer::SendRawToLatest(const QByteArray& i_bytes)
{
    if (m_clients.empty())
        return false;
    m_clients.back().mp_socket->write(i_bytes);
    return true;
}

void FakeCentralServer::DropClient(const std::string& i_user)
{
    Client* lp_client = i_user.empty() ? (m_clients.empty() ? nullptr : &m_clients.back()) : FindUser(i_user);
    if (lp_client)
        lp_client->mp_socket->disconnectFromHost();
}

void FakeCentralServer::OnNewConnection()
{
    while (QTcpSocket* lp_socket = m_listener.nextPendingConnection()) {
        Client l_client;
        l_client.mp_socket = lp_socket;
        bool l_isIPv4 = false;
        const quint32 l_address = lp_socket->peerAddress().toIPv4Address(&l_isIPv4);
        if (l_isIPv4)
            l_client.m_address = l_address;
        m_clients.push_back(l_client);
        ++m_connectionCount;
        connect(lp_socket, &QTcpSocket::readyRead, this, [this, lp_socket]() { OnReadyRead(lp_socket); });
        connect(lp_socket, &QTcpSocket::disconnected, this, [this, lp_socket]() { OnDisconnected(lp_socket); });
        emit ClientConnected();
    }
}

void FakeCentralServer::OnDisconnected(QTcpSocket* ip_socket)
{
    for (auto l_it = m_clients.begin(); l_it != m_clients.end(); ++l_it) {
        if (l_it->mp_socket != ip_socket)
            continue;
        const std::string l_user = l_it->m_loggedIn ? l_it->m_user : std::string();
        m_clients.erase(l_it);
        ip_socket->deleteLater();
        // A user without a connection leaves every room.
        if (!l_user.empty() && !FindUser(l_user)) {
            NotifyWatchers(l_user, 0);
            for (auto& [l_room, l_members] : m_rooms) {
                if (l_members.erase(l_user) == 0)
                    continue;
                for (const std::string& l_member : l_members) {
                    if (Client* lp_other = FindUser(l_member))
                        WriteFrame(*lp_other, UserLeftRoom, WireWriter().Str(l_room).Str(l_user));
                }
            }
        }
        return;
    }
}

void FakeCentralServer::OnReadyRead(QTcpSocket* ip_socket)
{
    Client* lp_client = FindClient(ip_socket);
    if (!lp_client)
        return;
    lp_client->m_buffer.append(ip_socket->readAll());
    for (;;) {
        QByteArray& l_buffer = lp_client->m_buffer;
        if (l_buffer.size() < 8)
            return;
        const quint32 l_length = qFromLittleEndian<quint32>(l_buffer.constData());
        if (l_length < 4 || l_length > 64u * 1024u * 1024u) {
            ip_socket->abort();
            return;
        }
        if (static_cast<quint64>(l_buffer.size()) < quint64(l_length) + 4)
            return;
        const quint32 l_code = qFromLittleEndian<quint32>(l_buffer.constData() + 4);
        const QByteArray l_payload = l_buffer.mid(8, static_cast<qsizetype>(l_length) - 4);
        l_buffer.remove(0, static_cast<qsizetype>(l_length) + 4);
        m_received.append(Message{lp_client->m_user, l_code, l_payload});
        emit MessageReceived(QString::fromStdString(lp_client->m_user), l_code, l_payload);
        // A receiver of the signal may have dropped this client.
        lp_client = FindClient(ip_socket);
        if (!lp_client)
            return;
        Handle(*lp_client, l_code, l_payload);
        lp_client = FindClient(ip_socket);
        if (!lp_client)
            return;
    }
}

void FakeCentralServer::Handle(Client& io_client, quint32 i_code, const QByteArray& i_payload)
{
    WireReader l_reader(i_payload);
    if (i_code == Login) {
        HandleLogin(io_client, i_payload);
        return;
    }
    if (!io_client.m_loggedIn)
        return;
    switch (i_code) {
    case SetWaitPort:
        io_client.m_port = l_reader.U32();
        l_reader.U32();
        io_client.m_obfuscatedPort = l_reader.U32();
        break;
    case GetPeerAddress: AnswerAddress(io_client, l_reader.Str()); break;
    case AddUser: {
        const std::string l_user = l_reader.Str();
        m_watchers[l_user].insert(io_client.m_user);
        AnswerAddUser(io_client, l_user);
        break;
    }
    case GetUserStatus: {
        const std::string l_user = l_reader.Str();
        m_watchers[l_user].insert(io_client.m_user);
        AnswerStatus(io_client, l_user);
        break;
    }
    case SayChatroom: {
        const std::string l_room = l_reader.Str();
        const std::string l_text = l_reader.Str();
        if (!l_reader.Ok() || !RoomMembers(l_room).count(io_client.m_user))
            break;
        for (const std::string& l_member : RoomMembers(l_room)) {
            if (Client* lp_member = FindUser(l_member))
                WriteFrame(*lp_member, SayChatroom, WireWriter().Str(l_room).Str(io_client.m_user).Str(l_text));
        }
        break;
    }
    case JoinRoom: HandleJoin(io_client, l_reader.Str()); break;
    case LeaveRoom: HandleLeave(io_client, l_reader.Str()); break;
    case ConnectToPeer: HandleConnectToPeer(io_client, i_payload); break;
    case MessageUser: HandlePrivateChat(io_client, i_payload); break;
    case MessageAcked: m_acknowledgedMessageIds.insert(l_reader.U32()); break;
    case SharedFoldersFiles:
        io_client.m_folders = l_reader.I32();
        io_client.m_files = l_reader.I32();
        break;
    case GetUserStats: AnswerStats(io_client, l_reader.Str()); break;
    case RoomList: AnswerRoomList(io_client); break;
    case CheckPrivileges: WriteFrame(io_client, CheckPrivileges, WireWriter().U32(m_privilegeSeconds)); break;
    case SendUploadSpeed: io_client.m_speed = l_reader.I32(); break;
    case FileSearch: PassSearchToRoots(io_client, i_payload); break;
    case HaveNoParent:
    case AcceptChildren:
    case BranchLevel:
    case BranchRoot:
        HandleDistributedState(io_client, i_code, i_payload);
        break;
    case CantConnectToPeer: {
        const quint32 l_token = l_reader.U32();
        const std::string l_user = l_reader.Str();
        if (Client* lp_target = FindUser(l_user))
            WriteFrame(*lp_target, CantConnectToPeer, WireWriter().U32(l_token));
        break;
    }
    default:
        break;
    }
}

void FakeCentralServer::HandleLogin(Client& io_client, const QByteArray& i_payload)
{
    WireReader l_reader(i_payload);
    const std::string l_user = l_reader.Str();
    l_reader.Str();
    l_reader.U32();
    const std::string l_digest = l_reader.Str();
    l_reader.U32();
    if (!l_reader.Ok() || io_client.m_loggedIn || m_silentLogin)
        return;
    auto l_userRefusal = m_userRefusals.find(l_user);
    const std::string l_reason = l_userRefusal != m_userRefusals.end() ? l_userRefusal->second : m_refusal;
    if (!l_reason.empty()) {
        WriteFrame(io_client, Login, WireWriter().U8(0).Str(l_reason));
        return;
    }
    const bool l_wasOnline = IsLoggedIn(l_user);
    io_client.m_user = l_user;
    io_client.m_loggedIn = true;
    WriteFrame(io_client, Login, WireWriter().U8(1).Str("Welcome").U32(io_client.m_address).Str(l_digest).U8(0));
    if (!l_wasOnline)
        NotifyWatchers(l_user, 2);
    auto l_pending = m_offlineChat.find(l_user);
    if (l_pending != m_offlineChat.end()) {
        for (const auto& [l_from, l_text] : l_pending->second)
            DeliverPrivateChat(io_client, l_from, l_text, false);
        m_offlineChat.erase(l_pending);
    }
}

FakeCentralServer::KnownUser FakeCentralServer::FiguresOf(const std::string& i_user) const
{
    auto l_known = m_knownUsers.find(i_user);
    KnownUser l_info = l_known != m_knownUsers.end() ? l_known->second : KnownUser();
    for (const Client& l_client : m_clients) {
        if (l_client.m_loggedIn && l_client.m_user == i_user) {
            l_info.m_status = 2;
            l_info.m_averageSpeed = l_client.m_speed;
            l_info.m_files = l_client.m_files;
            l_info.m_folders = l_client.m_folders;
            l_info.m_address = l_client.m_address;
            l_info.m_port = l_client.m_port;
            l_info.m_obfuscatedPort = l_client.m_obfuscatedPort;
        }
    }
    return l_info;
}

void FakeCentralServer::AnswerAddUser(Client& io_client, const std::string& i_user)
{
    const bool l_exists = m_knownUsers.count(i_user) || IsLoggedIn(i_user);
    WireWriter l_answer;
    l_answer.Str(i_user).U8(l_exists ? 1 : 0);
    if (l_exists) {
        const KnownUser l_info = FiguresOf(i_user);
        l_answer.U32(l_info.m_status).I32(l_info.m_averageSpeed).I64(l_info.m_downloadCount).I32(l_info.m_files)
            .I32(l_info.m_folders).Str(l_info.m_countryCode);
    }
    WriteFrame(io_client, AddUser, l_answer);
}

void FakeCentralServer::AnswerAddress(Client& io_client, const std::string& i_user)
{
    if (m_unansweredAddresses.count(i_user))
        return;
    const KnownUser l_info = FiguresOf(i_user);
    WriteFrame(io_client, GetPeerAddress,
               WireWriter().Str(i_user).U32(l_info.m_address).U32(l_info.m_port).U32(1).U32(l_info.m_obfuscatedPort));
}

void FakeCentralServer::AnswerStatus(Client& io_client, const std::string& i_user)
{
    const quint32 l_status = IsLoggedIn(i_user) ? 2 : (m_knownUsers.count(i_user) ? FiguresOf(i_user).m_status : 0);
    WriteFrame(io_client, GetUserStatus, WireWriter().Str(i_user).U32(l_status).U8(0));
}

void FakeCentralServer::NotifyWatchers(const std::string& i_user, quint32 i_status)
{
    auto l_watchers = m_watchers.find(i_user);
    if (l_watchers == m_watchers.end())
        return;
    const QByteArray l_payload = WireWriter().Str(i_user).U32(i_status).U8(0);
    for (const std::string& l_watcher : l_watchers->second) {
        if (Client* lp_watcher = FindUser(l_watcher))
            WriteFrame(*lp_watcher, GetUserStatus, l_payload);
    }
}

void FakeCentralServer::AnswerStats(Client& io_client, const std::string& i_user)
{
    const KnownUser l_info = FiguresOf(i_user);
    WriteFrame(io_client, GetUserStats,
               WireWriter().Str(i_user).I32(l_info.m_averageSpeed).I64(l_info.m_downloadCount).I32(l_info.m_files).I32(l_info.m_folders));
}

void FakeCentralServer::AnswerRoomList(Client& io_client)
{
    WireWriter l_names;
    WireWriter l_counts;
    l_names.U32(static_cast<quint32>(m_rooms.size()));
    l_counts.U32(static_cast<quint32>(m_rooms.size()));
    for (const auto& [l_room, l_members] : m_rooms) {
        l_names.Str(l_room);
        l_counts.U32(static_cast<quint32>(l_members.size()));
    }
    WriteFrame(io_client, RoomList, WireWriter().Raw(l_names).Raw(l_counts));
}

void FakeCentralServer::AppendMemberFigures(const std::string& i_user, QByteArray& io_payload) const
{
    const KnownUser l_info = FiguresOf(i_user);
    io_payload.append(WireWriter().U32(l_info.m_status).I32(l_info.m_averageSpeed).I64(l_info.m_downloadCount)
                          .I32(l_info.m_files).I32(l_info.m_folders).U32(l_info.m_slotsFull).Str(l_info.m_countryCode));
}

void FakeCentralServer::HandleJoin(Client& io_client, const std::string& i_room)
{
    std::set<std::string>& l_members = m_rooms[i_room];
    const bool l_new = l_members.insert(io_client.m_user).second;
    WireWriter l_users, l_statuses, l_stats, l_slots, l_countries;
    const quint32 l_count = static_cast<quint32>(l_members.size());
    l_users.U32(l_count);
    l_statuses.U32(l_count);
    l_stats.U32(l_count);
    l_slots.U32(l_count);
    l_countries.U32(l_count);
    for (const std::string& l_member : l_members) {
        const KnownUser l_info = FiguresOf(l_member);
        l_users.Str(l_member);
        l_statuses.U32(l_info.m_status);
        l_stats.I32(l_info.m_averageSpeed).I64(l_info.m_downloadCount).I32(l_info.m_files).I32(l_info.m_folders);
        l_slots.U32(l_info.m_slotsFull);
        l_countries.Str(l_info.m_countryCode);
    }
    WriteFrame(io_client, JoinRoom, WireWriter().Str(i_room).Raw(l_users).Raw(l_statuses).Raw(l_stats).Raw(l_slots).Raw(l_countries));
    if (!l_new)
        return;
    QByteArray l_joined = WireWriter().Str(i_room).Str(io_client.m_user);
    AppendMemberFigures(io_client.m_user, l_joined);
    for (const std::string& l_member : l_members) {
        Client* lp_member = FindUser(l_member);
        if (lp_member && lp_member != &io_client)
            WriteFrame(*lp_member, UserJoinedRoom, l_joined);
    }
}

void FakeCentralServer::HandleLeave(Client& io_client, const std::string& i_room)
{
    auto l_room = m_rooms.find(i_room);
    if (l_room == m_rooms.end() || l_room->second.erase(io_client.m_user) == 0)
        return;
    WriteFrame(io_client, LeaveRoom, WireWriter().Str(i_room));
    for (const std::string& l_member : l_room->second) {
        if (Client* lp_member = FindUser(l_member))
            WriteFrame(*lp_member, UserLeftRoom, WireWriter().Str(i_room).Str(io_client.m_user));
    }
}

void FakeCentralServer::HandleConnectToPeer(Client& io_client, const QByteArray& i_payload)
{
    WireReader l_reader(i_payload);
    const quint32 l_token = l_reader.U32();
    const std::string l_user = l_reader.Str();
    const std::string l_type = l_reader.Str();
    if (!l_reader.Ok())
        return;
    const QByteArray l_relayed = ConnectToPeerPayload(io_client.m_user, l_type, io_client.m_address, io_client.m_port,
                                                      l_token, io_client.m_obfuscatedPort);
    Client* lp_target = FindUser(l_user);
    if (!lp_target) {
        if (!m_silentOnAbsentRelays)
            WriteFrame(io_client, CantConnectToPeer, WireWriter().U32(l_token));
        if (m_knownUsers.count(l_user))
            emit RelayedToKnownUser(QString::fromStdString(l_user), l_relayed);
        return;
    }
    WriteFrame(*lp_target, ConnectToPeer, l_relayed);
}

bool FakeCentralServer::RelayConnectRequest(const std::string& i_to, const std::string& i_from, const std::string& i_type,
                                            quint32 i_token)
{
    const KnownUser l_from = FiguresOf(i_from);
    return Send(i_to, ConnectToPeer,
                ConnectToPeerPayload(i_from, i_type, l_from.m_address, l_from.m_port, i_token, l_from.m_obfuscatedPort));
}

QByteArray FakeCentralServer::ConnectToPeerPayload(const std::string& i_from, const std::string& i_type, quint32 i_address,
                                                   quint32 i_port, quint32 i_token, quint32 i_obfuscatedPort)
{
    return WireWriter().Str(i_from).Str(i_type).U32(i_address).U32(i_port).U32(i_token).U8(0).U32(1).U32(i_obfuscatedPort);
}

void FakeCentralServer::HandlePrivateChat(Client& io_client, const QByteArray& i_payload)
{
    WireReader l_reader(i_payload);
    const std::string l_user = l_reader.Str();
    const std::string l_text = l_reader.Str();
    if (!l_reader.Ok())
        return;
    if (Client* lp_target = FindUser(l_user))
        DeliverPrivateChat(*lp_target, io_client.m_user, l_text, true);
    else
        m_offlineChat[l_user].emplace_back(io_client.m_user, l_text);
}

void FakeCentralServer::DeliverPrivateChat(Client& io_target, const std::string& i_from, const std::string& i_text, bool i_new)
{
    const quint32 l_time = static_cast<quint32>(std::time(nullptr));
    WriteFrame(io_target, MessageUser, WireWriter().U32(m_nextMessageId++).U32(l_time).Str(i_from).Str(i_text).U8(i_new ? 1 : 0));
}

bool FakeCentralServer::SendParentCandidates(const std::string& i_user, const std::vector<ParentCandidate>& i_candidates)
{
    WireWriter l_payload;
    l_payload.U32(static_cast<quint32>(i_candidates.size()));
    for (const ParentCandidate& l_candidate : i_candidates)
        l_payload.Str(l_candidate.m_user).U32(l_candidate.m_address).U32(l_candidate.m_port);
    return Send(i_user, ParentCandidates, l_payload);
}

bool FakeCentralServer::SendEmbeddedSearch(const std::string& i_user, const std::string& i_from, quint32 i_token,
                                           const std::string& i_query)
{
    return Send(i_user, EmbeddedDistributed, WireWriter().U8(3).U32(0).Str(i_from).U32(i_token).Str(i_query));
}

bool FakeCentralServer::SendDistributedReset(const std::string& i_user)
{
    return Send(i_user, DistributedReset, QByteArray());
}

FakeCentralServer::DistributedState FakeCentralServer::DistributedStateOf(const std::string& i_user) const
{
    const Client* lp_client = FindUser(i_user);
    return lp_client ? lp_client->m_distributed : DistributedState();
}

void FakeCentralServer::HandleDistributedState(Client& io_client, quint32 i_code, const QByteArray& i_payload)
{
    WireReader l_reader(i_payload);
    DistributedState& l_state = io_client.m_distributed;
    switch (i_code) {
    case HaveNoParent: {
        const quint8 l_flag = l_reader.U8();
        if (!l_reader.Ok())
            return;
        l_state.m_haveNoParentReported = true;
        l_state.m_haveNoParent = l_flag != 0;
        if (l_state.m_haveNoParent)
            OfferParents(io_client);
        break;
    }
    case AcceptChildren: {
        const quint8 l_flag = l_reader.U8();
        if (!l_reader.Ok())
            return;
        l_state.m_acceptChildrenReported = true;
        l_state.m_acceptChildren = l_flag != 0;
        break;
    }
    case BranchLevel: {
        const quint32 l_level = l_reader.U32();
        if (!l_reader.Ok())
            return;
        l_state.m_branchLevelReported = true;
        l_state.m_branchLevel = l_level;
        break;
    }
    case BranchRoot: {
        const std::string l_root = l_reader.Str();
        if (!l_reader.Ok())
            return;
        l_state.m_branchRootReported = true;
        l_state.m_branchRoot = l_root;
        break;
    }
    default:
        break;
    }
}

void FakeCentralServer::OfferParents(Client& io_client)
{
    std::vector<ParentCandidate> l_candidates;
    for (const auto& [l_user, l_info] : m_knownUsers) {
        if (l_info.m_acceptsChildren && l_user != io_client.m_user)
            l_candidates.push_back(ParentCandidate{l_user, l_info.m_address, l_info.m_port});
    }
    for (const Client& l_client : m_clients) {
        if (l_client.m_loggedIn && &l_client != &io_client && l_client.m_distributed.m_acceptChildren)
            l_candidates.push_back(ParentCandidate{l_client.m_user, l_client.m_address, l_client.m_port});
    }
    if (l_candidates.empty())
        return;
    WireWriter l_payload;
    l_payload.U32(static_cast<quint32>(l_candidates.size()));
    for (const ParentCandidate& l_candidate : l_candidates)
        l_payload.Str(l_candidate.m_user).U32(l_candidate.m_address).U32(l_candidate.m_port);
    WriteFrame(io_client, ParentCandidates, l_payload);
}

void FakeCentralServer::PassSearchToRoots(const Client& i_from, const QByteArray& i_payload)
{
    WireReader l_reader(i_payload);
    const quint32 l_token = l_reader.U32();
    const std::string l_query = l_reader.Str();
    if (!l_reader.Ok())
        return;
    const QByteArray l_embedded = WireWriter().U8(3).U32(0).Str(i_from.m_user).U32(l_token).Str(l_query);
    for (Client& l_client : m_clients) {
        if (l_client.m_loggedIn && l_client.m_distributed.m_haveNoParent)
            WriteFrame(l_client, EmbeddedDistributed, l_embedded);
    }
}
