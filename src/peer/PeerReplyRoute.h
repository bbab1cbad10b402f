#pragma once

#include "core/io/MemStream.h"

#include <QtGlobal>

#include <string>

class QTcpSocket;

// Where a reply goes: on the connection its request came on. Anyone may
// take a user's name, and a user may reach us from another address than the
// server gives; the peer that asked is the one waiting on that connection,
// and nothing needs looking up to answer it.
//
// The services answer a folder, transfer or queue request while the request
// is handled (its signal is delivered directly), so the route stands for as
// long as a request's handling lasts: a message to the asking user that
// answers that kind of request (by its code) takes it. Anything else sent
// meanwhile (an offer of ours, say) goes as any message to the user goes.
// A browse reply is made later; its handler keeps the route itself.
class PeerReplyRoute
{
public:
    // Restores the route that stood before, once the handling ends.
    class Scope
    {
    public:
        Scope(PeerReplyRoute& io_route, QTcpSocket* ip_socket, const std::string& i_user, quint32 i_request);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        PeerReplyRoute& m_route;
        QTcpSocket* mp_socket;
        std::string m_user;
        quint32 m_request;
    };

    // Whether a message of code i_reply answers a request of code
    // i_request.
    static bool Answers(quint32 i_request, quint32 i_reply);

    // The connection the request being handled came on, if it is the user's
    // and the message answers it; null otherwise.
    QTcpSocket* RouteOf(const std::string& i_user, const MemStream& i_message) const;
    // The connection the request being handled came on; null when none is.
    QTcpSocket* Asking() const { return mp_socket; }

private:
    QTcpSocket* mp_socket = nullptr;
    std::string m_user;
    quint32 m_request = 0;
};
