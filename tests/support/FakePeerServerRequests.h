#pragma once

#include "peer/PeerEnvironment.h"

#include <string>
#include <vector>

// Stands in for the server link under the peer layer: records each request
// and hands out relayed-request tokens from 1 upwards, as the link does.
class FakePeerServerRequests : public PeerServerRequests
{
public:
    struct Relayed
    {
        std::string m_user;
        std::string m_type;
        unsigned int m_token;
    };
    struct CantConnect
    {
        unsigned int m_token;
        std::string m_user;
    };

    FakePeerServerRequests() { SetPeerServerRequests(this); }
    ~FakePeerServerRequests() override { SetPeerServerRequests(nullptr); }
    FakePeerServerRequests(const FakePeerServerRequests&) = delete;
    FakePeerServerRequests& operator=(const FakePeerServerRequests&) = delete;

    unsigned int SendIndirectConnectionRequest(std::string i_user, std::string i_connectionType) override
    {
        m_relayed.push_back({i_user, i_connectionType, m_nextToken});
        return m_nextToken++;
    }
    void GetUserAddress(std::string i_user) override { m_addressRequests.push_back(i_user); }
    void SendCantConnectToPeer(unsigned int i_req, std::string i_user) override
    {
        m_cantConnect.push_back({i_req, i_user});
    }
    void SetWaitPort(int i_port, int i_obfuscatedPort) override { m_waitPorts.push_back({i_port, i_obfuscatedPort}); }

    unsigned int m_nextToken = 1;
    std::vector<Relayed> m_relayed;
    std::vector<std::string> m_addressRequests;
    std::vector<CantConnect> m_cantConnect;
    std::vector<std::pair<int, int>> m_waitPorts;
};
