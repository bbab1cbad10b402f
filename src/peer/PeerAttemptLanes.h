#pragma once

#include "peer/PeerAttemptQueue.h"

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

class QTcpSocket;

// Who connects next, of our outgoing attempts. Three lanes, each a
// PeerAttemptQueue with places of its own, in this order: our file
// connections, our other connections (messages, the distributed network),
// and the connections back that others asked the server to relay. What
// others ask for never takes the places of our own work.
//
// - A place under the connection bound goes to the first lane with attempts
//   waiting: a pass offers the file lane's attempts first, then the other
//   two, each lane's in its own turn order. It runs before any newcomer in
//   the listeners is served.
// - An attempt starts at once only when nothing waits before it: its lane
//   has none waiting, and no lane up to its own has one left for want of
//   room. Otherwise it waits for the next pass.
// - In the connection-back lane, when every place is taken and a network
//   with nothing connecting waits, the network with the most connecting
//   (two or more) gives its oldest attempt, which ends as a failed one: a
//   few networks whose ports never answer then hold places only as long as
//   nobody else waits, and a hostile needs about as many networks as the
//   lane has places to hold it. Our own lanes keep what they started.
class PeerAttemptLanes
{
public:
    enum class Lane
    {
        File,
        Own,
        ConnectionBack
    };
    static constexpr std::size_t LaneCount = 3;

    using Attempt = PeerAttemptQueue::Attempt;
    using Outcome = PeerAttemptQueue::Outcome;

    PeerAttemptQueue& Queue(Lane i_lane) { return m_lanes[std::size_t(i_lane)]; }

    // Whether an attempt to the address may begin at once (the caller also
    // needs room under the connection bound).
    bool MayStartNow(Lane i_lane, quint32 i_address);
    // Queues an attempt; the sockets of those dropped to keep the lane
    // within its bound (the caller fails them).
    std::vector<QTcpSocket*> Wait(Lane i_lane, const Attempt& i_attempt);
    void Started(Lane i_lane, QTcpSocket* ip_socket, quint32 i_address);

    struct Pass
    {
        // Begins the attempt as far as room can be made for it.
        std::function<Outcome(Lane, const Attempt&)> m_start;
        // Ends a connection back that gave its place to a newcomer network.
        std::function<void(QTcpSocket*)> m_giveUp;
    };
    // Offers the waiting attempts, lane by lane. true when an attempt was
    // left for want of room: the caller looks again when room comes.
    bool StartWaiting(const Pass& i_pass);

private:
    std::array<PeerAttemptQueue, LaneCount> m_lanes;
    // Whether the last pass left an attempt of the lane for want of room.
    std::array<bool, LaneCount> m_leftForRoom{};
};
