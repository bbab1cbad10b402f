#pragma once

#include <QtGlobal>

// A listening port on a loopback address that never accepts: it listens with
// the smallest backlog and is never accepted from. Once its one place in the
// system's queue is taken (Fill), the kernel drops every further connection
// request unanswered, so a connect to it hangs until its side gives up, as
// towards an address that swallows packets, instead of being refused.
class SilentListener
{
public:
    // i_address: a loopback address in host order; the port is of the
    // system's choosing, 0 when the listener could not be made.
    explicit SilentListener(quint32 i_address = 0x7F000001);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    quint16 Port() const { return m_port; }
    quint32 Address() const { return m_address; }
    // Takes the one place in the queue with a connection of its own.
    bool Fill();
    // Whether a connect to the port is still unanswered after i_waitMs
    // (neither connected nor refused); runs the event loop meanwhile.
    bool ConnectHangs(int i_waitMs) const;

private:
    int m_fd;
    int m_filler = -1;
    quint32 m_address;
    quint16 m_port = 0;
};
