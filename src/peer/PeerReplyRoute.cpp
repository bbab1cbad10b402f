#include "peer/PeerReplyRoute.h"

#include "peer/PeerMessageCodes.h"

PeerReplyRoute::Scope::Scope(PeerReplyRoute& io_route, QTcpSocket* ip_socket, const std::string& i_user,
                             quint32 i_request)
    : m_route(io_route)
    , mp_socket(io_route.mp_socket)
    , m_user(io_route.m_user)
    , m_request(io_route.m_request)
{
    io_route.mp_socket = ip_socket;
    io_route.m_user = i_user;
    io_route.m_request = i_request;
}

PeerReplyRoute::Scope::~Scope()
{
    m_route.mp_socket = mp_socket;
    m_route.m_user = std::move(m_user);
    m_route.m_request = m_request;
}

bool PeerReplyRoute::Answers(quint32 i_request, quint32 i_reply)
{
    namespace Codes = PeerMessageCodes;
    switch (i_request) {
    case Codes::GetSharedFileList: return i_reply == Codes::SharedFileList;
    case Codes::GetSharedFilesInFolder: return i_reply == Codes::SharedFilesInFolder;
    case Codes::TransferRequest: return i_reply == Codes::TransferResponse;
    // A queued file is refused, or fails, under its name.
    case Codes::QueueUpload: return i_reply == Codes::UploadDenied || i_reply == Codes::UploadFailed;
    default: return false;
    }
}

QTcpSocket* PeerReplyRoute::RouteOf(const std::string& i_user, const MemStream& i_message) const
{
    if (!mp_socket || i_user != m_user || !Answers(m_request, PeerMessageCodes::Of(i_message)))
        return nullptr;
    return mp_socket;
}
