#pragma once

#include <string>
#include <unordered_map>
#include <vector>

class QTcpSocket;

// Our requests for users' whole shares, from the ask until the listing
// comes: which messaging connection carried each. A peer drops a listing
// whose asking connection went before it was sent, and waits for us to ask
// again; so a request whose connection goes before its listing came goes
// again, once per ask, so that a peer that resets every connection costs one
// more request, not one a connection.
//
// What is kept is bounded by the users asked for and not yet answered (one
// record each); a lost connection costs the requests it carried.
class PeerBrowseWatch
{
public:
    // The user is asked for the share (again): a loss may send the request
    // once more.
    void Asked(const std::string& i_user);
    // The user's listing came: nothing more is watched for the user.
    void Answered(const std::string& i_user);
    // Our request to the user went out on the connection. Nothing when the
    // user was not asked.
    void Carried(const std::string& i_user, QTcpSocket* ip_socket);
    // The connection went: the users whose request it carried last, each
    // now carried by none.
    std::vector<std::string> Lost(QTcpSocket* ip_socket);
    // true once per ask: the user's request may go again.
    bool TakeResend(const std::string& i_user);

private:
    struct Ask
    {
        QTcpSocket* mp_carrier = nullptr;
        bool m_resent = false;
    };

    void Uncarry(const std::string& i_user, QTcpSocket* ip_carrier);

    std::unordered_map<std::string, Ask> m_asks;
    // The same asks by the connection that carried them.
    std::unordered_multimap<QTcpSocket*, std::string> m_byCarrier;
};
