#include "peer/PeerAttemptLanes.h"

bool PeerAttemptLanes::MayStartNow(Lane i_lane, quint32 i_address)
{
    for (std::size_t l_before = 0; l_before <= std::size_t(i_lane); ++l_before) {
        if (m_leftForRoom[l_before] && m_lanes[l_before].Waiting() > 0)
            return false;
    }
    return Queue(i_lane).MayStartNow(i_address);
}

std::vector<QTcpSocket*> PeerAttemptLanes::Wait(Lane i_lane, const Attempt& i_attempt)
{
    return Queue(i_lane).Wait(i_attempt);
}

void PeerAttemptLanes::Started(Lane i_lane, QTcpSocket* ip_socket, quint32 i_address)
{
    Queue(i_lane).Started(ip_socket, i_address);
}

bool PeerAttemptLanes::StartWaiting(const Pass& i_pass)
{
    bool l_leftForRoom = false;
    for (std::size_t l_index = 0; l_index < LaneCount; ++l_index) {
        const Lane l_lane = Lane(l_index);
        auto l_start = [&](const Attempt& i_attempt) { return i_pass.m_start(l_lane, i_attempt); };
        PeerAttemptQueue& l_queue = m_lanes[l_index];
        bool l_left = l_queue.StartWaiting(l_start);
        if (l_lane == Lane::ConnectionBack) {
            // Each place given starts a newcomer network's attempt, unless
            // no room can be made for it: then giving more would only end
            // attempts.
            while (!l_left) {
                QTcpSocket* lp_given = l_queue.TakePlaceForNewcomer();
                if (!lp_given)
                    break;
                i_pass.m_giveUp(lp_given);
                l_left = l_queue.StartWaiting(l_start);
            }
        }
        m_leftForRoom[l_index] = l_left;
        l_leftForRoom = l_leftForRoom || l_left;
    }
    return l_leftForRoom;
}
