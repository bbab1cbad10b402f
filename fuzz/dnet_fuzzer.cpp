// Plays the distributed network's neighbours against the manager: a parent
// and children on connections in memory, and the server with its
// messages 93, 102 and 130, while the server link is logged in. The input is
// a script of steps, each [u8 step][u16 length][bytes]:
//   0: the bytes come from the parent (the last connection offered as one)
//   1: the bytes come from the newest child
//   2: a connection to a parent candidate named by the bytes stands
//   3: a child named by the bytes connects
//   4, 5, 6: the server sends message 93, 102 or 130 with the bytes
//   7: half a minute passes (the bytes, as u32, add milliseconds)
//   8, 9: the parent's or the newest child's far end closes
// After each step, once posted events have run, the manager must hold
// together, beyond not crashing:
//   - at most ten children, each once, none of them the parent; without a
//     parent it is a root (level 0, root the own name) that takes no
//     children; at most ten attempts under way, never to itself;
//   - what the server was told last matches: no parent, accepting
//     children, and while it accepts them its level and root;
//   - every child got well-formed frames, the last level and root of which
//     are the manager's;
//   - no search of its own is handed to the shares.
// Each frame stream also passes the frame reader's check of pieces.
#include "support/FuzzSupport.h"
#include "support/MemoryServerLink.h"
#include "support/StoreDump.h"

#include "core/store/Data.h"
#include "dnet/DNetManager.h"
#include "server/ServerMessageReader.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>

namespace
{
const char* const g_ownName = "me";

enum Step : std::uint8_t {
    ParentBytes,
    ChildBytes,
    NewParent,
    NewChild,
    EmbeddedMessage,
    ParentCandidates,
    NetworkReset,
    HalfMinute,
    ParentCloses,
    ChildCloses,
    StepCount
};

// One "D" connection as the harness holds it.
struct Neighbour
{
    std::string m_name;
    // Owned by the manager once handed over.
    QPointer<MemorySocket> mp_socket;
    QByteArray m_received;
};

// What the server heard last, as far as it heard anything.
struct Told
{
    bool m_haveNoParent = false;
    bool m_acceptChildren = false;
    quint32 m_level = 0;
    std::string m_root;
};

class Harness
{
public:
    Harness()
    {
        StartFuzzApplication("dnet_fuzzer");
        FillLogHistory({"Distributed Network", "server"});
        mp_link = std::make_unique<MemoryServerLink>();
        // The link stays logged in from input to input; what a run adds to
        // the store (the candidates' users and addresses) goes after it, so
        // that every run starts from this store.
        mp_link->ResetStore();
        mp_link->Reach(Server::State::LoggedIn);
        mp_link->TakeSent();
        mp_fingerprint.emplace();
        m_startingStore = (*mp_fingerprint)();
    }

    void Run(const std::uint8_t* ip_data, std::size_t i_size)
    {
        m_told = Told();
        m_now = 1000000;
        mp_manager = std::make_unique<DNetManager>();
        mp_manager->SetClock([this] { return m_now; });
        mp_manager->SetConnectionRequester([](const std::string& i_user) {
            if (i_user == g_ownName)
                OracleFailed("asked for a connection to ourselves");
        });
        QObject::connect(mp_manager.get(), &DNetManager::DNetSearchRequest, mp_manager.get(),
                         [](std::string i_user, quint32, std::string) {
                             if (i_user == g_ownName)
                                 OracleFailed("our own search was handed to the shares");
                         });
        mp_manager->OnConnectedToServer();
        Settle();
        Check();

        std::size_t l_at = 0;
        while (l_at + 3 <= i_size) {
            const std::uint8_t l_step = ip_data[l_at] % StepCount;
            const std::size_t l_length = std::min<std::size_t>(ip_data[l_at + 1] | ip_data[l_at + 2] << 8, i_size - l_at - 3);
            const QByteArray l_bytes(reinterpret_cast<const char*>(ip_data) + l_at + 3, qsizetype(l_length));
            l_at += 3 + l_length;
            Do(l_step, l_bytes);
            Settle();
            Check();
        }

        // Nothing of a run stays: the manager deletes its sockets.
        mp_manager.reset();
        m_parent = Neighbour();
        m_children.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        mp_link->TakeSent();
        d.GetType("user")->GetItems().Remove();
        d.RemoveDisconnectedItems();
        if ((*mp_fingerprint)() != m_startingStore)
            OracleFailed("set-up: a run left more in the store than users", DumpStore());
    }

private:
    void Do(std::uint8_t i_step, const QByteArray& i_bytes)
    {
        switch (i_step) {
        case ParentBytes:
            Send(m_parent, i_bytes);
            break;
        case ChildBytes:
            if (!m_children.empty())
                Send(m_children.back(), i_bytes);
            break;
        case NewParent:
            m_parent = Connect(i_bytes.toStdString());
            mp_manager->OnDNetConnectionAccepted(m_parent.m_name, m_parent.mp_socket);
            break;
        case NewChild:
            m_children.push_back(Connect(i_bytes.toStdString()));
            mp_manager->OnDNetConnectionRequested(m_children.back().m_name, m_children.back().mp_socket);
            break;
        case EmbeddedMessage:
            mp_manager->OnServerMessage(Server::EmbeddedDistributedCode, i_bytes);
            break;
        case ParentCandidates:
            mp_manager->OnServerMessage(Server::ParentCandidatesCode, i_bytes);
            break;
        case NetworkReset:
            mp_manager->OnServerMessage(Server::DistributedResetCode, i_bytes);
            break;
        case HalfMinute: {
            quint32 l_milliseconds = 30000;
            ServerMessageReader(i_bytes).U32(l_milliseconds);
            m_now += l_milliseconds;
            mp_manager->EveryHalfMinute();
            break;
        }
        case ParentCloses:
            if (m_parent.mp_socket)
                m_parent.mp_socket->CloseFarEnd();
            break;
        case ChildCloses:
            if (!m_children.empty() && m_children.back().mp_socket)
                m_children.back().mp_socket->CloseFarEnd();
            break;
        }
    }

    static Neighbour Connect(const std::string& i_name)
    {
        Neighbour l_neighbour;
        l_neighbour.m_name = i_name;
        l_neighbour.mp_socket = new MemorySocket;
        return l_neighbour;
    }

    static void Send(Neighbour& io_neighbour, const QByteArray& i_bytes)
    {
        if (!io_neighbour.mp_socket)
            return;
        // The reader that the manager keeps for the link sees the same bytes.
        DNetFrameReader l_whole;
        DNetFrameReader l_pieces;
        bool l_error = false;
        ReadFramesBothWays(l_whole, l_pieces, i_bytes, int(i_bytes.size() % 7) + 1, l_error);
        io_neighbour.mp_socket->Receive(i_bytes);
    }

    // Runs what the manager left for the event loop (its first read of an
    // adopted socket, the deletion of sockets it let go), then collects what
    // it sent.
    void Settle()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (Neighbour* lp_neighbour : Neighbours()) {
            if (lp_neighbour->mp_socket)
                lp_neighbour->m_received.append(lp_neighbour->mp_socket->TakeWritten());
        }
        for (const ReadFrame& l_frame : mp_link->TakeSent())
            Hear(l_frame);
    }

    std::vector<Neighbour*> Neighbours()
    {
        std::vector<Neighbour*> l_all{&m_parent};
        for (Neighbour& l_child : m_children)
            l_all.push_back(&l_child);
        return l_all;
    }

    void Hear(const ReadFrame& i_frame)
    {
        ServerMessageReader l_reader(i_frame.m_payload);
        quint8 l_flag = 0;
        switch (i_frame.m_code) {
        case Server::HaveNoParentCode:
            l_reader.U8(l_flag);
            m_told.m_haveNoParent = l_flag != 0;
            break;
        case Server::AcceptChildrenCode:
            l_reader.U8(l_flag);
            m_told.m_acceptChildren = l_flag != 0;
            break;
        case Server::BranchLevelCode:
            l_reader.U32(m_told.m_level);
            break;
        case Server::BranchRootCode:
            l_reader.Str(m_told.m_root);
            break;
        default:
            return;
        }
        if (!l_reader.Ok() || !l_reader.AtEnd())
            OracleFailed("the server was sent a malformed message " + std::to_string(i_frame.m_code));
    }

    void Check()
    {
        const DNetManager& l_manager = *mp_manager;
        const std::vector<std::string> l_children = l_manager.ChildNames();
        const std::set<std::string> l_distinct(l_children.begin(), l_children.end());
        if (int(l_children.size()) > DNetManager::MaxChildren || l_distinct.size() != l_children.size())
            OracleFailed("more than ten children, or one twice");
        if (l_manager.HasParent() && l_distinct.count(l_manager.ParentName()))
            OracleFailed("the parent is a child too");
        if (!l_manager.HasParent() &&
            (l_manager.BranchLevel() != 0 || l_manager.BranchRoot() != g_ownName || l_manager.AcceptsChildren()))
            OracleFailed("without a parent, not a root that takes no children");
        if (l_manager.AttemptsUnderWay() > DNetManager::MaxAttempts)
            OracleFailed("more than ten attempts under way");

        if (m_told.m_haveNoParent != !l_manager.HasParent() || m_told.m_acceptChildren != l_manager.AcceptsChildren())
            OracleFailed("the server was told otherwise about the parent or the children");
        if (l_manager.AcceptsChildren() &&
            (m_told.m_level != quint32(l_manager.BranchLevel()) || m_told.m_root != l_manager.BranchRoot()))
            OracleFailed("the server was told another level or root");

        for (Neighbour& l_child : m_children) {
            if (!l_child.mp_socket || l_child.mp_socket->state() != QAbstractSocket::ConnectedState || !l_distinct.count(l_child.m_name))
                continue;
            CheckChildHeard(l_child, l_manager);
        }
    }

    static void CheckChildHeard(const Neighbour& i_child, const DNetManager& i_manager)
    {
        DNetFrameReader l_reader;
        l_reader.Append(i_child.m_received);
        std::optional<qint32> l_level;
        std::optional<std::string> l_root;
        for (;;) {
            quint8 l_code = 0;
            QByteArray l_payload;
            const FrameReader::Result l_result = l_reader.Next(l_code, l_payload);
            if (l_result == FrameReader::Result::Error || (l_result == FrameReader::Result::NeedMore && l_reader.Buffered() != 0))
                OracleFailed("a child got a broken frame");
            if (l_result == FrameReader::Result::NeedMore)
                break;
            qint32 l_newLevel = 0;
            std::string l_newRoot;
            DNetSearch l_search;
            if (l_code == DNetCode::BranchLevel && DNetMessages::ReadBranchLevel(l_payload, l_newLevel))
                l_level = l_newLevel;
            else if (l_code == DNetCode::BranchRoot && DNetMessages::ReadBranchRoot(l_payload, l_newRoot))
                l_root = l_newRoot;
            else if (l_code != DNetCode::Search || !DNetMessages::ReadSearch(l_payload, l_search))
                OracleFailed("a child got a message it cannot read: " + std::to_string(l_code));
        }
        if (l_level != i_manager.BranchLevel() || l_root != i_manager.BranchRoot())
            OracleFailed("a child was not told the level and root of its parent");
    }

    std::unique_ptr<MemoryServerLink> mp_link;
    std::unique_ptr<DNetManager> mp_manager;
    Neighbour m_parent;
    std::vector<Neighbour> m_children;
    Told m_told;
    qint64 m_now = 0;
    std::optional<StoreFingerprint> mp_fingerprint;
    std::uint64_t m_startingStore = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* ip_data, std::size_t i_size)
{
    return RunInput<Harness>(ip_data, i_size);
}
