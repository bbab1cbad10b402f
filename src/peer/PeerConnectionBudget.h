#pragma once

#include <cstddef>
#include <functional>
#include <memory>

class QTcpSocket;

// The peer connections that hold a descriptor, against the most the process
// may have. Every connection counts, introduced or not, ours or accepted,
// until it is released or its socket object goes, also after it was handed
// to the transfer or network services. The bound leaves room under the
// descriptor limit for files, the data file, the logs, the server link and
// the toolkit, and stays below 1,024 whatever the limit: descriptors of
// 1,024 and more break the select() of the port-mapping library.
class PeerConnectionBudget
{
public:
    // i_onRelease runs (on the GUI thread, from the event loop) after a
    // counted connection went.
    explicit PeerConnectionBudget(std::function<void()> i_onRelease);
    ~PeerConnectionBudget();
    PeerConnectionBudget(const PeerConnectionBudget&) = delete;
    PeerConnectionBudget& operator=(const PeerConnectionBudget&) = delete;

    // The bound for a soft descriptor limit: the smaller of the limit and
    // 1,024, less a quarter of it (at least 64), and at least half of it.
    static std::size_t BoundFor(std::size_t i_softLimit);
    // The bound under the process's present soft limit.
    static std::size_t Bound();
    // The places above the bound that newcomers heard out and the claims
    // kept for what they said may take (see PeerBoundRules): a quarter of
    // what the bound leaves to the rest of the client, MaxAllowance at most.
    // A few under 64, as each listener also holds one connection it
    // accepted before we take it.
    static constexpr std::size_t MaxAllowance = 60;
    static std::size_t AllowanceFor(std::size_t i_softLimit);
    static std::size_t Allowance();

    // Counts the socket until Release or its destruction.
    void Track(QTcpSocket* ip_socket);
    // The socket was closed; no longer counted. Nothing when it was not.
    void Release(QTcpSocket* ip_socket);
    std::size_t Count() const;
    bool Counts(const QTcpSocket* ip_socket) const;
    // Bound(), or what SetLimit put in its place.
    std::size_t Limit() const { return m_limit != 0 ? m_limit : Bound(); }
    bool HasRoom() const { return Count() < Limit(); }
    // Replaces Bound() for this budget (0 restores it), for tests that
    // cannot open hundreds of connections.
    void SetLimit(std::size_t i_limit) { m_limit = i_limit; }

    // The count, shared with the counted sockets.
    struct State;

private:
    std::shared_ptr<State> mp_state;
    std::size_t m_limit = 0;
};
