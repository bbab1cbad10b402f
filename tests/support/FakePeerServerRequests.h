#pragma once

#include "peer/PeerEnvironment.h"

#include <deque>
#include <string>
#include <vector>

// Stands in for the server link under the peer layer: records each request
// and hands out relayed-request tokens as the link does, drawn at random and
// never one the peer layer says is in use. A test that needs known tokens
// lists candidates; those are offered first, and one in use is passed over.
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

    unsigned int SendIndirectConnectionRequest(std::string i_user, std::string i_connectionType,
                                               const RelayToken::InUse& i_inUse) override
    {
        const unsigned int l_token = RelayToken::Draw(i_inUse, [this] { return NextCandidate(); });
        m_relayed.push_back({i_user, i_connectionType, l_token});
        return l_token;
    }
    void GetUserAddress(std::string i_user) override { m_addressRequests.push_back(i_user); }
    // Every look-up is recorded as it is made: there is no wait to end.
    void AddressWaitEnded(const std::string&) override {}
    bool CanAskAddress() const override { return m_canAskAddress; }
    void SendCantConnectToPeer(unsigned int i_req, std::string i_user) override
    {
        m_cantConnect.push_back({i_req, i_user});
    }
    void SetWaitPort(int i_port, int i_obfuscatedPort) override { m_waitPorts.push_back({i_port, i_obfuscatedPort}); }

    // As a link that is logged in, so that a user's address is looked up
    // before what we start goes out, unless a test says otherwise.
    bool m_canAskAddress = true;
    std::deque<unsigned int> m_candidates;
    std::vector<Relayed> m_relayed;
    std::vector<std::string> m_addressRequests;
    std::vector<CantConnect> m_cantConnect;
    std::vector<std::pair<int, int>> m_waitPorts;

private:
    // Once the listed ones are used up, the rest come from the strong source.
    quint32 NextCandidate()
    {
        if (m_candidates.empty())
            return RelayToken::Draw({});
        const unsigned int l_next = m_candidates.front();
        m_candidates.pop_front();
        return l_next;
    }
};
