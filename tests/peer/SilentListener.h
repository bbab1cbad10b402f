#pragma once

#include "RawClient.h"

#include <QtGlobal>

// A listener on a loopback address that never accepts. Once its one place in
// the system's queue is taken (Fill), connections to it stay half-open,
// connecting, until their side gives up.
class SilentListener
{
public:
    // i_address: a loopback address in host order.
    explicit SilentListener(quint32 i_address = 0x7F000001);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    // 0 when it could not listen.
    quint16 Port() const { return m_port; }
    quint32 Address() const { return m_address; }
    // Takes the one place in the queue with a connection of its own.
    bool Fill();

private:
    int m_fd;
    quint32 m_address;
    quint16 m_port = 0;
    RawClient m_filler;
};
