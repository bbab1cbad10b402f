#pragma once

#include "peer/PeerMessenger.h"

#include <QTcpSocket>

#include <string>
#include <vector>

// Takes the sockets the messenger hands over, as the transfer and
// distributed-network services would, and deletes them at the end.
struct PeerSignalCatcher
{
    struct HandOver
    {
        std::string m_signal;
        std::string m_user;
        QTcpSocket* mp_socket;
        uint m_token;
    };

    explicit PeerSignalCatcher(PeerMessenger& io_messenger)
    {
        auto l_take = [this](const char* ip_signal) {
            return [this, ip_signal](std::string i_user, QTcpSocket* ip_socket) {
                m_handOvers.push_back({ip_signal, i_user, ip_socket, 0});
            };
        };
        QObject::connect(&io_messenger, &PeerMessenger::FileConnectionAccepted, l_take("FileConnectionAccepted"));
        QObject::connect(&io_messenger, &PeerMessenger::DNetConnectionAccepted, l_take("DNetConnectionAccepted"));
        QObject::connect(&io_messenger, &PeerMessenger::DNetConnectionRequested, l_take("DNetConnectionRequested"));
        QObject::connect(&io_messenger, &PeerMessenger::FileConnectionRequested,
                         [this](std::string i_user, QTcpSocket* ip_socket, uint i_token) {
                             m_handOvers.push_back({"FileConnectionRequested", i_user, ip_socket, i_token});
                         });
    }
    ~PeerSignalCatcher()
    {
        for (const HandOver& l_handOver : m_handOvers)
            delete l_handOver.mp_socket;
    }
    PeerSignalCatcher(const PeerSignalCatcher&) = delete;
    PeerSignalCatcher& operator=(const PeerSignalCatcher&) = delete;

    std::vector<HandOver> m_handOvers;
};
