#pragma once

#include <QtGlobal>

// A listening port on a loopback address that never accepts: a socket that
// listens with the smallest backlog and is never accepted from, whose queue
// one connection of its own fills at once. The kernel then drops every
// further connection request unanswered, so a peer's connect to it hangs
// until the peer gives up, as towards an address that swallows packets,
// instead of being refused at once.
class NeverAcceptingPort
{
public:
    // Binds the address (host order), port of the system's choosing; Port()
    // is 0 when that failed.
    explicit NeverAcceptingPort(quint32 i_address);
    ~NeverAcceptingPort();
    NeverAcceptingPort(const NeverAcceptingPort&) = delete;
    NeverAcceptingPort& operator=(const NeverAcceptingPort&) = delete;

    quint16 Port() const { return m_port; }
    // Whether a connect to the port is still unanswered after i_waitMs
    // (neither connected nor refused); runs the event loop meanwhile.
    bool ConnectHangs(int i_waitMs) const;

private:
    quint32 m_address;
    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};
