#pragma once

#include <QPointer>
#include <QTcpSocket>
#include <QtGlobal>

#include <cstddef>
#include <deque>
#include <functional>
#include <unordered_map>

// Who holds the places of the allowance (the newcomers heard out above the
// connection bound, and claims kept there), by remote network (PeerNetwork),
// so that no network holds more than its share: a crowd from one network,
// silent or speaking, then never holds the place an honest newcomer from
// elsewhere needs.
//
// - A network holds at most Share() places, a quarter of the allowance
//   (15 of 60). Its newcomer beyond that takes the place of its own network's
//   oldest silent holder, or is refused.
// - With the allowance full, a newcomer within its network's share takes the
//   place of the oldest silent holder, whatever its network, or is refused
//   when no place is silent.
// - A holder that has spoken (a file connection awaiting its token, a claim
//   kept) never gives its place; the share bounds how many of them one
//   network has.
//
// The caller says which holders still hold a place (Live) and which of them
// have not spoken (Silent); holders that no longer hold one are forgotten
// as they are met. Every decision looks at a bounded number of records: the
// places and, at most, as many records again of holders that left.
class PeerAllowanceShare
{
public:
    using Test = std::function<bool(QTcpSocket*)>;

    // The most places one network holds, of an allowance of i_allowance.
    static std::size_t Share(std::size_t i_allowance);

    // A newcomer from the address wants a place, with i_held of the
    // i_allowance places held now. false: refused. true: it may take one,
    // after o_giver (when not null) gave up its place.
    bool Place(quint32 i_address, std::size_t i_allowance, std::size_t i_held, const Test& i_live,
               const Test& i_silent, QTcpSocket*& o_giver);
    // The newcomer took a place.
    void Took(QTcpSocket* ip_socket, quint32 i_address);
    // Records kept, also of holders that left and were not met since.
    std::size_t Records() const { return m_records; }

private:
    struct Holder
    {
        QPointer<QTcpSocket> m_socket;
        quint64 m_order = 0;
    };
    struct Network
    {
        // Oldest first.
        std::deque<Holder> m_holders;
    };
    struct Look
    {
        std::size_t m_live = 0;
        QTcpSocket* mp_oldestSilent = nullptr;
        quint64 m_silentOrder = 0;
    };

    // Forgets the network's holders that left; its live places and oldest
    // silent holder.
    Look Clean(Network& io_network, const Test& i_live, const Test& i_silent);
    void ForgetLeft(Network& io_network, const Test& i_live);
    // Forgets every holder that left, when the records grew to twice what
    // the places need.
    void CleanAll(std::size_t i_allowance, const Test& i_live);

    std::unordered_map<quint32, Network> m_networks;
    std::size_t m_records = 0;
    quint64 m_nextOrder = 0;
};
