#pragma once

#include <QObject>
#include <QTimer>
#include <QString>
#include <QtGlobal>

#include <array>
#include <memory>
#include <optional>
#include <vector>

// The hostile side of a run at the client's connection bound: connections
// to the client's plain port, each bound to the loopback address its kind
// gives it, the first ones (Connections, or ManyConnections for many)
// opened at OpenedPerSecond, each opened again at once when the client
// closes or refuses it. Each sends an introduction; then a silent one sends
// nothing, a keep-alive one a message every KeepaliveMs.
//   - fill: Connections silent ones, each from a network of its own, so
//     that no network holds two: 127.2.N.2 for N from 0 to 255, then
//     127.3.N.2, 127.4.N.2 and so on. Room for an honest peer can then only
//     come from a connection's idle age, never from its network's share;
//   - keepalive: Connections keep-alive ones from 127.0.0.2;
//   - churn: Connections silent ones from 127.0.0.2;
//   - pressure: the keepalive kind's, and once they are opened
//     PressureLoops silent ones from the same address, all at once;
//   - spread: Connections keep-alive ones over SpreadAddresses addresses of
//     one network, 127.0.3.2 and up;
//   - many: ManyPerNetwork keep-alive ones from each of ManyNetworks
//     networks of their own, 127.6.N.2 for N from 0, as many as the bound
//     holds;
//   - relay: the keepalive kind's; the hostile user whose relayed requests
//     come beside them is RelayHostileUser;
//   - relaynets: none; its hostile users, each of a network of its own,
//     are RelayHostileUser's too;
//   - shared: SharedPerNetwork keep-alive ones from each of SharedNetworks
//     networks of their own, 127.8.N.2 for N from 0, as many as the bound
//     holds;
//   - namesake, claims: the shared kind's; their crowds are BoundCrowd's;
//   - filefill: none; its crowd is BoundCrowd's.
class BoundHostile : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        Fill,
        Keepalive,
        Churn,
        Pressure,
        Spread,
        Many,
        Relay,
        RelayNets,
        Shared,
        Namesake,
        Claims,
        FileFill
    };
    // The kinds' names, in the order of Kind.
    static constexpr std::array<const char*, 12> KindNames{"fill",     "keepalive", "churn",  "pressure",
                                                           "spread",   "many",      "relay",  "relaynets",
                                                           "shared",   "namesake",  "claims", "filefill"};
    static std::optional<Kind> KindNamed(const QString& i_name);

    static constexpr int Connections = 780;
    static constexpr int ManyNetworks = 96;
    static constexpr int ManyPerNetwork = 8;
    static constexpr int ManyConnections = ManyNetworks * ManyPerNetwork;
    static constexpr int SharedNetworks = 192;
    static constexpr int SharedPerNetwork = 4;
    static constexpr int SharedConnections = SharedNetworks * SharedPerNetwork;
    static constexpr int SpreadAddresses = 13;
    static constexpr int PressureLoops = 300;
    static constexpr int OpenedPerSecond = 100;
    static constexpr int KeepaliveMs = 29500;

    BoundHostile(Kind i_kind, quint16 i_port);
    ~BoundHostile() override;
    BoundHostile(const BoundHostile&) = delete;
    BoundHostile& operator=(const BoundHostile&) = delete;

    void Start();
    // Connections opened so far, reopened ones included.
    qint64 Opened() const { return m_opened; }
    // Connections that stand now.
    int Connected() const;

private:
    struct Slot;

    void OpenNext();
    void Open(Slot& io_slot);

    quint16 m_port;
    // The connections of a kind, pressure's loops aside.
    static std::size_t PacedOf(Kind i_kind);

    // How many of the slots open at OpenedPerSecond; the rest (pressure's
    // loops) open at once after them.
    std::size_t m_paced = 0;
    std::vector<std::unique_ptr<Slot>> m_slots;
    QTimer m_opener;
    std::size_t m_next = 0;
    qint64 m_opened = 0;
};
