#pragma once

// The surroundings a server link needs in a test: a fresh store, the timer
// service, a data saver, the settings and the neighbours' item types that the
// link writes into, a fake central server on the loopback, and a fake
// gateway for the port forwarder that the link makes, so that no UPnP
// discovery ever leaves the machine.

#include "FakeCentralServer.h"
#include "FakeGateway.h"

#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "server/Server.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Types the peer layer and the main window declare in the program.
inline void DeclareNeighbourTypes()
{
    Type* lp_user = d.GetType("user");
    Type* lp_request = d.NewType("peer_connection_request", true, true, false);
    Type* lp_requestId = d.NewType("peer_connection_request_id", false, false, true);
    Type* lp_connectionType = d.NewType("peer_connection_type", false, false, true);
    lp_request->RelateToType(lp_requestId, Many, One, false);
    lp_request->RelateToType(lp_user, Many, One, false);
    lp_request->RelateToType(lp_connectionType, Many, One, false);
    lp_user->RelateToType(d.NewType("user_address", false, false, true), Many, One, false);
    lp_user->RelateToType(d.NewType("user_port", false, false, true), Many, One, false);
    lp_user->RelateToType(d.NewType("user_obfuscated_port", false, false, true), Many, One, false);
    Type* lp_search = d.NewType("search_request", true, false, false);
    lp_search->RelateToType(d.NewType("search_request_text", false, false, true), Many, One, false);
    lp_search->RelateToType(d.NewType("wishlist_search", false, true, true), Many, One, false);
    Type* lp_wish = d.NewType("wish_list_item", true, false, true);
    lp_wish->RelateToType(d.NewType("wish_list_item_enabled", false, true, true), Many, One, false);
}

// Runs the receivers of a timer's timeout() now, as a tick would.
inline void Fire(QTimer& io_timer)
{
    QMetaObject::invokeMethod(&io_timer, "timeout", Qt::DirectConnection);
}

// The lines of the area logged after the given sequence number.
inline QStringList LogLinesSince(const QString& i_area, quint64 i_sequence)
{
    QStringList l_lines;
    for (const LogEntry& l_entry : GetLogHistory().AreaEntries(i_area)) {
        if (l_entry.m_sequence > i_sequence)
            l_lines << l_entry.m_line;
    }
    return l_lines;
}

struct ServerTestSetup
{
    ServerTestSetup()
    {
        d.Reset();
        SetLogFolder(m_logFolder.path());
        mp_timers = std::make_unique<TimerManager>();
        mp_saver = std::make_unique<DataSaver>();
        PortForwarder::SetGatewayFactory(FakeGateway::Factory(mp_gateway));
        mp_server = std::make_unique<Server>();
        mp_server->CreateData();
        Settings::DeclareTypes();
        DeclareNeighbourTypes();
        mp_server->SetAttemptTimeouts(3000, 3000);
        if (m_fake.Start())
            mp_server->SetServerAddress("127.0.0.1", m_fake.Port());
    }

    ~ServerTestSetup()
    {
        mp_server.reset();
        mp_saver.reset();
        mp_timers.reset();
        d.Reset();
    }

    // Logs in as the user and waits until the link is logged in.
    bool LogIn(const std::string& i_user = "alice", const std::string& i_password = "secret")
    {
        Settings::Set("username", i_user);
        Settings::Set("password", i_password);
        mp_server->Connect();
        return QTest::qWaitFor([this]() { return mp_server->IsConnected(); }, 5000);
    }

    Server& Link() { return *mp_server; }

    QTemporaryDir m_logFolder;
    std::shared_ptr<FakeGatewayScript> mp_gateway = std::make_shared<FakeGatewayScript>();
    FakeCentralServer m_fake;
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
};
