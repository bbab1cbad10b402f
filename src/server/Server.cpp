#include "server/Server.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "core/util/Md5.h"
#include "portmap/PortForwarder.h"
#include "server/ServerAddress.h"
#include "server/ServerFrameReader.h"
#include "server/ServerMessageHandler.h"
#include "server/ServerMessageWriter.h"

#include <QTcpSocket>

#include <initializer_list>

Server* gp_server = nullptr;

Server::Server()
    : m_host(QString::fromLatin1(g_serverHost)),
      m_port(g_serverPort),
      mp_frameReader(std::make_unique<ServerFrameReader>()),
      mp_messageHandler(std::make_unique<ServerMessageHandler>(*this)),
      mp_portForwarder(std::make_unique<PortForwarder>())
{
    gp_server = this;
    // Tests of the whole program point it at a fake central server on a
    // network of their own: KSTR_SERVER_ADDRESS=host:port. Anything else in
    // the variable is ignored.
    const QString l_override = qEnvironmentVariable("KSTR_SERVER_ADDRESS");
    const qsizetype l_colon = l_override.lastIndexOf(QLatin1Char(':'));
    bool l_portRead = false;
    const uint l_port = l_override.mid(l_colon + 1).toUInt(&l_portRead);
    if (l_colon > 0 && l_portRead && l_port > 0 && l_port <= 65535) {
        m_host = l_override.left(l_colon);
        m_port = static_cast<quint16>(l_port);
    }
    m_monotonicClock.start();
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &Server::OnConnectTimeout);
    if (timerManager) {
        connect(&timerManager->m_everyHalfMinute, &QTimer::timeout, this, &Server::OnHalfMinuteTick);
        connect(&timerManager->m_everyHour, &QTimer::timeout, this, &Server::OnHourTick);
    }
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.insert(this);
}

Server::~Server()
{
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.erase(this);
    DropConnection();
    if (gp_server == this)
        gp_server = nullptr;
}

void Server::DataLoaded()
{
    Settings::SetDefault("use_upnp", "yes");
}

void Server::SetServerAddress(const QString& i_host, quint16 i_port)
{
    m_host = i_host;
    m_port = i_port;
}

void Server::SetAttemptTimeouts(int i_connectMs, int i_loginMs)
{
    m_connectTimeoutMs = i_connectMs;
    m_loginTimeoutMs = i_loginMs;
}

void Server::SetPortForwarder(std::unique_ptr<PortForwarderInterface> ip_portForwarder)
{
    mp_portForwarder = std::move(ip_portForwarder);
}

bool Server::IsConnected() const
{
    return m_state == State::LoggedIn;
}

bool Server::IsAbruptlyDisconnected() const
{
    return m_abruptlyDisconnected;
}

bool Server::StartConnecting()
{
    if (m_state != State::Disconnected || Settings::Get("username").empty())
        return false;
    m_state = State::Connecting;
    emit Connecting();
    // A receiver may have cancelled everything already.
    return m_state == State::Connecting;
}

void Server::Connect()
{
    if (!StartConnecting())
        return;
    OpenSocket();
    if (Settings::IsYes("use_upnp"))
        StartPortForwarding();
}

void Server::ConnectOver(QTcpSocket* ip_socket)
{
    if (!StartConnecting()) {
        delete ip_socket;
        return;
    }
    DropConnection();
    Attach(ip_socket);
    OnSocketConnected();
}

void Server::Disconnect()
{
    // The user's word also ends the retries after an abrupt loss, between
    // attempts as much as during one.
    m_abruptlyDisconnected = false;
    if (m_state == State::Disconnected)
        return;
    DropConnection();
    m_state = State::Disconnected;
    emit Disconnected();
    ClearOnlineUsers();
}

void Server::OpenSocket()
{
    DropConnection();
    Attach(new QTcpSocket);
    m_connectTimer.start(m_connectTimeoutMs);
    mp_socket->connectToHost(m_host, m_port);
}

void Server::Attach(QTcpSocket* ip_socket)
{
    mp_socket = ip_socket;
    mp_socket->setParent(this);
    connect(mp_socket, &QTcpSocket::connected, this, &Server::OnSocketConnected);
    connect(mp_socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyRead);
    connect(mp_socket, &QTcpSocket::disconnected, this, &Server::OnSocketLost);
    connect(mp_socket, &QTcpSocket::errorOccurred, this, &Server::OnSocketLost);
}

void Server::DropConnection()
{
    m_connectTimer.stop();
    mp_frameReader->Clear();
    ++m_connectionId;
    if (!mp_socket)
        return;
    QTcpSocket* lp_socket = mp_socket;
    mp_socket = nullptr;
    disconnect(lp_socket, nullptr, this, nullptr);
    lp_socket->flush();
    lp_socket->abort();
    // Possibly inside one of the socket's own signals: delete it later.
    lp_socket->deleteLater();
}

void Server::OnSocketConnected()
{
    if (m_state != State::Connecting)
        return;
    m_state = State::LoggingIn;
    // A server that vanishes without closing the connection (a dropped
    // route, a dead NAT entry) is otherwise never noticed while it is quiet.
    mp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Requests are small: none waits for the acknowledgement of the last.
    mp_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    SendLogin();
    // The abrupt state stays until the server answers the login: a server
    // that is restarting may accept connections and drop them unanswered.
    m_connectTimer.start(m_loginTimeoutMs);
}

void Server::SendLogin()
{
    const std::string l_user = Settings::Get("username");
    const std::string l_password = Settings::Get("password");
    ServerMessageWriter l_writer;
    l_writer.Str(l_user).Str(l_password).U32(LoginVersion).Str(Md5HexDigest(l_user + l_password)).U32(LoginMinorVersion);
    SendMessage(LoginCode, l_writer.Payload(), true);
}

void Server::OnLoginAccepted()
{
    m_connectTimer.stop();
    m_state = State::LoggedIn;
    m_abruptlyDisconnected = false;
    Log("server", 1, "Logged in");
    emit Connected();
    if (m_state == State::LoggedIn)
        AfterLoginWork();
}

void Server::OnLoginRefused(const std::string& i_reason)
{
    Log("server", 1, QString("Login refused: %1").arg(QString::fromStdString(i_reason)));
    DropConnection();
    m_state = State::Disconnected;
    // Retrying a refused login would only be refused again.
    m_abruptlyDisconnected = false;
    emit ConnectionFailed(i_reason);
}

void Server::OnConnectTimeout()
{
    if (m_state != State::Connecting && m_state != State::LoggingIn)
        return;
    Log("server", 1, m_state == State::Connecting ? "Connection attempt timed out" : "Login timed out");
    HandleLoss();
}

void Server::OnSocketLost()
{
    HandleLoss();
}

void Server::HandleLoss()
{
    const State l_state = m_state;
    if (l_state == State::Disconnected)
        return;
    DropConnection();
    m_state = State::Disconnected;
    if (l_state == State::LoggedIn) {
        Log("server", 1, "Connection to the server lost");
        m_abruptlyDisconnected = true;
    } else {
        emit ConnectionFailed("socket error");
    }
    emit Disconnected();
    ClearOnlineUsers();
}

void Server::OnSocketReadyRead()
{
    if (!mp_socket)
        return;
    const quint64 l_connectionId = m_connectionId;
    mp_frameReader->Append(mp_socket->readAll());
    quint32 l_code = 0;
    QByteArray l_payload;
    // A handler may disconnect or reconnect; then the rest belongs to a
    // stream that is gone.
    while (l_connectionId == m_connectionId) {
        const ServerFrameReader::Result l_result = mp_frameReader->Next(l_code, l_payload);
        if (l_result == ServerFrameReader::Result::NeedMore)
            return;
        if (l_result == ServerFrameReader::Result::Error) {
            Log("server", 1, "Impossible frame length from the server: protocol error, connection closed");
            HandleLoss();
            return;
        }
        HandleMessage(l_code, l_payload);
    }
}

void Server::HandleMessage(quint32 i_code, const QByteArray& i_payload)
{
    mp_messageHandler->Handle(i_code, i_payload);
}

void Server::AfterLoginWork()
{
    const ItemList l_rooms = d.GetType("room_autojoin")->GetItems().GetItems("room").SortAlphabetic(true);
    for (ItemPtr l_room : l_rooms)
        EnterRoom(l_room.AsString());
    const ItemList l_tracked = d.GetType("is_tracked")->GetItems().GetItems("user").SortAlphabetic(true);
    for (ItemPtr l_user : l_tracked)
        AddUser(l_user.AsString());
    const ItemList l_pending = d.GetType("user_address_request")->GetItems().GetItems("user").SortAlphabetic(true);
    for (ItemPtr l_user : l_pending) {
        SendMessage(GetUserAddressCode, ServerMessageWriter().Str(l_user.AsString()).Payload());
        m_addressAskedAt[l_user.AsString()] = NowMs();
    }
    if (Settings::IsYes("use_upnp"))
        StartPortForwarding();
}

void Server::SetUserStatus(ItemPtr i_user, bool i_online)
{
    i_user.Disconnect(i_online ? "is_offline" : "is_online");
    i_user += d.GetType(i_online ? "is_online" : "is_offline")->GetGlobalNullItem();
}

void Server::SetUserAddress(ItemPtr i_user, quint32 i_address, quint32 i_port, quint32 i_obfuscatedPort)
{
    for (const char* lp_part : {"user_address", "user_port", "user_obfuscated_port"})
        i_user.Disconnect(lp_part);
    i_user += d.GetType("user_port")->GetItem(Value(i_port));
    i_user += d.GetType("user_obfuscated_port")->GetItem(Value(i_obfuscatedPort));
    i_user += d.GetType("user_address")->GetItem(Value(i_address));
}

void Server::ClearOnlineUsers()
{
    // Without the server nobody's status is known, whatever it was: the
    // next login's answers tell it again.
    for (const char* lp_status : {"is_online", "is_offline"}) {
        for (ItemPtr l_flag : d.GetType(lp_status)->GetItems())
            l_flag.Disconnect("user");
    }
}

void Server::StartPortForwarding()
{
    if (mp_portForwarder)
        mp_portForwarder->Init();
}

void Server::OnHalfMinuteTick()
{
    if (m_abruptlyDisconnected && m_state == State::Disconnected)
        Connect();
}

void Server::OnHourTick()
{
    if (Settings::IsYes("use_upnp"))
        StartPortForwarding();
}

void Server::SendMessage(quint32 i_code, const QByteArray& i_payload, bool i_force)
{
    if (!i_force && m_state != State::LoggedIn)
        return;
    if (!mp_socket)
        return;
    mp_socket->write(ServerMessageWriter::Frame(i_code, i_payload));
}
