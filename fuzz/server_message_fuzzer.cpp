// Feeds arbitrary bytes to the server link as the central server could send
// them: the server's frame reader cuts them into messages and the link's
// message handler reads each one, while the link is logging in or logged in
// (the first byte chooses; the link reaches that state over a connection in
// memory, as it does with a server, and keeps it for the next input if that
// wants the same state).
// Beyond not crashing:
//   - the frame reader reads the same frames whether the bytes come at once
//     or in pieces;
//   - only a login answer changes the link's state;
//   - a message that the handler ignores (unreadable, unknown, or a login
//     answer outside a login) changes nothing: the store's dump, the link's
//     state and its signals (but one, see CountSignals) stay as they were;
//   - whatever the link answers is made of well-formed frames.
// The first byte: bit 0 chooses logged in (else logging in), bits 1-3 the
// first piece size of the frame reader's check.
#include "support/FuzzSupport.h"
#include "support/MemoryServerLink.h"
#include "support/StoreDump.h"

#include "core/store/Data.h"
#include "server/ServerMessageHandler.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace
{
// Users, rooms and flags for the messages to find, and for the work after a
// login (joining saved rooms, asking after tracked users and pending
// addresses).
void AddBaseline()
{
    Type* lp_user = d.GetType("user");
    Type* lp_room = d.GetType("room");
    ItemPtr l_lobby = lp_room->GetItem("lobby");
    l_lobby += d.GetType("in_room")->GetGlobalNullItem();
    l_lobby += d.GetType("user_count")->GetItem("2");
    l_lobby += lp_user->GetItem("alice");
    l_lobby += lp_user->GetItem("bob");
    lp_user->GetItem("carol") += d.GetType("is_online")->GetGlobalNullItem();
    lp_user->GetItem("carol") += d.GetType("is_privileged")->GetGlobalNullItem();
    lp_user->GetItem("dave") += d.GetType("is_tracked")->GetGlobalNullItem();
    lp_user->GetItem("erin").NewItem("user_address_request");
    lp_room->GetItem("jazz") += d.GetType("room_autojoin")->GetGlobalNullItem();
    lp_user->GetItem("bob").NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("friends");
}

class Harness
{
public:
    Harness()
    {
        StartFuzzApplication("server_message_fuzzer");
        FillLogHistory({"server"});
        mp_link = std::make_unique<MemoryServerLink>();
        mp_handler = std::make_unique<ServerMessageHandler>(mp_link->Link());
        CountSignals();
    }

    void Run(const std::uint8_t* ip_data, std::size_t i_size)
    {
        if (i_size == 0)
            return;
        const bool l_loggedIn = ip_data[0] & 1;
        const int l_firstPiece = 1 + ((ip_data[0] >> 1) & 7);
        const QByteArray l_bytes(reinterpret_cast<const char*>(ip_data) + 1, qsizetype(i_size - 1));

        mp_link->ResetStore();
        AddBaseline();
        mp_link->Reach(l_loggedIn ? Server::State::LoggedIn : Server::State::LoggingIn);
        mp_link->TakeSent();
        // The same types each time.
        if (mp_fingerprint)
            mp_fingerprint->Rebind();
        else
            mp_fingerprint.emplace();
        m_lastFingerprint.reset();

        ServerFrameReader l_whole;
        ServerFrameReader l_pieces;
        bool l_error = false;
        for (const ReadFrame& l_frame : ReadFramesBothWays(l_whole, l_pieces, l_bytes, l_firstPiece, l_error)) {
            HandleOne(l_frame);
            // A refused login closes the connection: the rest of the bytes
            // are never read.
            if (mp_link->Link().GetState() == Server::State::Disconnected)
                break;
        }
        mp_link->TakeSent();
        // Nothing of a run stays in the store: the next run declares the
        // types anew. The connection stays while the next run wants the same
        // state; otherwise the server hangs up then.
        d.Reset();
    }

private:
    void HandleOne(const ReadFrame& i_frame)
    {
        // The fingerprint after an ignored message is the one before the
        // next.
        const std::uint64_t l_before =
            m_lastFingerprint ? *std::exchange(m_lastFingerprint, std::nullopt) : (*mp_fingerprint)();
        const Server::State l_state = mp_link->Link().GetState();
        m_signals = 0;
        m_log.Clear();
        mp_handler->Handle(i_frame.m_code, i_frame.m_payload);
        const std::string l_message = "message " + std::to_string(i_frame.m_code);
        if (i_frame.m_code != Server::LoginCode && mp_link->Link().GetState() != l_state)
            OracleFailed(l_message + ", not a login answer, changed the link's state");
        if (!m_log.Saw("server", {"ignored", "skipped"}))
            return;
        if (m_lastFingerprint.emplace((*mp_fingerprint)()) != l_before)
            OracleFailed("an ignored " + l_message + " changed the store", "the store after it:\n" + DumpStore());
        if (mp_link->Link().GetState() != l_state)
            OracleFailed("an ignored " + l_message + " changed the link's state");
        if (m_signals != 0)
            OracleFailed("an ignored " + l_message + " was signalled " + std::to_string(m_signals) + " times");
    }

    template <typename... Args>
    void Count(void (Server::*ip_signal)(Args...))
    {
        QObject::connect(&mp_link->Link(), ip_signal, &mp_link->Link(), [this](Args...) { ++m_signals; });
    }

    // Every signal but the answer to an added user: its name and flag are
    // enough for it, and it is given even when the rest of the message is
    // broken (the link's tests hold it to that).
    void CountSignals()
    {
        Count(&Server::Connecting);
        Count(&Server::Connected);
        Count(&Server::Disconnected);
        Count(&Server::ConnectionFailed);
        Count(&Server::PrivateChat);
        Count(&Server::ReceivedOwnPrivilegesStatus);
        Count(&Server::SearchRequested);
        Count(&Server::RoomChat);
        Count(&Server::ReceivedUserStats);
        Count(&Server::IndirectPeerConnectionFailure);
        Count(&Server::DistributedNetworkMessage);
        Count(&Server::WishListIntervalReceived);
    }

    std::unique_ptr<MemoryServerLink> mp_link;
    std::unique_ptr<ServerMessageHandler> mp_handler;
    LogWatch m_log;
    int m_signals = 0;
    std::optional<StoreFingerprint> mp_fingerprint;
    std::optional<std::uint64_t> m_lastFingerprint;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* ip_data, std::size_t i_size)
{
    return RunInput<Harness>(ip_data, i_size);
}
