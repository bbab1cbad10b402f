#pragma once

// A gateway for the port forwarder's tests: answers from a script that the
// test fills, records what it was asked and on which thread, and can hold
// a discovery until the test lets it go. Reaches no network.

#include "portmap/PortForwarder.h"
#include "portmap/UPnPGateway.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QThread>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct FakeGatewayScript
{
    // Answers.
    bool m_found = true;
    std::string m_problem = "nothing answered";
    std::string m_localAddress = "192.0.2.10";
    std::string m_gateway = "http://192.0.2.1:5000/rootDesc.xml";
    std::map<quint16, std::pair<int, std::string>> m_refusals;
    // When set, each discovery waits until the test releases the semaphore.
    bool m_holdDiscovery = false;
    QSemaphore m_release;
    QSemaphore m_discoveryStarted;
    // Released as each run's gateway is thrown away, i.e. the run is over.
    QSemaphore m_gatewayGone;

    // What was asked.
    int m_discoveries = 0;
    std::vector<std::pair<quint16, std::string>> m_mappings;
    QThread* mp_thread = nullptr;
    // Whether the run's stop flag was up when a held discovery was let go.
    bool m_stopSeenAfterHold = false;

    mutable QMutex m_mutex;

    int Discoveries() const
    {
        QMutexLocker l_lock(&m_mutex);
        return m_discoveries;
    }
    std::vector<std::pair<quint16, std::string>> Mappings() const
    {
        QMutexLocker l_lock(&m_mutex);
        return m_mappings;
    }
    QThread* Thread() const
    {
        QMutexLocker l_lock(&m_mutex);
        return mp_thread;
    }
};

class FakeGateway : public UPnPGateway
{
public:
    explicit FakeGateway(std::shared_ptr<FakeGatewayScript> ip_script) : mp_script(std::move(ip_script)) {}
    ~FakeGateway() override { mp_script->m_gatewayGone.release(); }

    static PortForwarder::GatewayFactory Factory(std::shared_ptr<FakeGatewayScript> ip_script)
    {
        return [ip_script]() -> std::unique_ptr<UPnPGateway> { return std::make_unique<FakeGateway>(ip_script); };
    }

    bool Discover(std::string& o_localAddress, std::string& o_gateway, std::string& o_problem) override
    {
        bool l_hold = false;
        {
            QMutexLocker l_lock(&mp_script->m_mutex);
            ++mp_script->m_discoveries;
            mp_script->mp_thread = QThread::currentThread();
            l_hold = mp_script->m_holdDiscovery;
        }
        mp_script->m_discoveryStarted.release();
        if (l_hold)
            mp_script->m_release.acquire();
        QMutexLocker l_lock(&mp_script->m_mutex);
        if (l_hold)
            mp_script->m_stopSeenAfterHold = StopRequested();
        if (!mp_script->m_found) {
            o_problem = mp_script->m_problem;
            return false;
        }
        o_localAddress = mp_script->m_localAddress;
        o_gateway = mp_script->m_gateway;
        return true;
    }

    int AddPortMapping(quint16 i_port, const std::string& i_localAddress, std::string& o_problem) override
    {
        QMutexLocker l_lock(&mp_script->m_mutex);
        mp_script->m_mappings.emplace_back(i_port, i_localAddress);
        auto l_refusal = mp_script->m_refusals.find(i_port);
        if (l_refusal == mp_script->m_refusals.end())
            return 0;
        o_problem = l_refusal->second.second;
        return l_refusal->second.first;
    }

private:
    std::shared_ptr<FakeGatewayScript> mp_script;
};
