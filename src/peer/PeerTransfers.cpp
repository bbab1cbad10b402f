// Transfer negotiation on messaging connections: offers under a token,
// answers to them, queue requests, refusals, failures and places in line.
// The transfer manager decides; these only carry its messages.
#include "peer/PeerMessenger.h"

#include "core/persist/Settings.h"
#include "peer/PeerMessageCodes.h"

namespace
{
MemStream Start(PeerMessageCodes::Code i_code)
{
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(i_code));
    return l_message;
}
}

unsigned int PeerMessenger::RequestUpload(std::string i_user, std::string i_fileName, qint64 i_fileSize)
{
    // The counter is saved with the settings, so tokens go on across runs;
    // it wraps at 32 bits. Moved on even when the offer can only be queued.
    const unsigned int l_token = Settings::GetUInt("transfer_req_counter");
    Settings::Set("transfer_req_counter", ToString(l_token + 1u));

    MemStream l_message = Start(PeerMessageCodes::TransferRequest);
    // Offers from this client always send the file to the peer.
    l_message.Write(PeerMessageCodes::DirectionUpload);
    l_message.Write(l_token);
    l_message.Write(i_fileName);
    l_message.Write(i_fileSize);
    SendMessage(i_user, l_message);
    return l_token;
}

void PeerMessenger::AcceptTransferRequest(std::string i_user, unsigned int i_req, bool l_sendFileSize, qint64 l_fileSize)
{
    MemStream l_message = Start(PeerMessageCodes::TransferResponse);
    l_message.Write(i_req);
    l_message.Write(quint8(1));
    if (l_sendFileSize)
        l_message.Write(l_fileSize);
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyTransferRequest(std::string i_user, unsigned int i_req, std::string i_reason)
{
    MemStream l_message = Start(PeerMessageCodes::TransferResponse);
    l_message.Write(i_req);
    l_message.Write(quint8(0));
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

void PeerMessenger::QueueDownload(std::string i_user, std::string i_file)
{
    MemStream l_message = Start(PeerMessageCodes::QueueUpload);
    l_message.Write(i_file);
    SendMessage(i_user, l_message);
}

void PeerMessenger::DenyUpload(std::string i_user, std::string i_file, std::string i_reason)
{
    MemStream l_message = Start(PeerMessageCodes::UploadDenied);
    l_message.Write(i_file);
    l_message.Write(i_reason);
    SendMessage(i_user, l_message);
}

// The handlers check no field's value: matching tokens and files is the
// transfer manager's business.

bool PeerMessenger::HandleTransferRequest(MemStream& io_message, ItemPtr i_user)
{
    int l_direction = 0;
    unsigned int l_token = 0;
    std::string l_file;
    if (!io_message.Read(l_direction) || !io_message.Read(l_token) || !io_message.Read(l_file))
        return false;
    // Only an offer to send us the file carries its size.
    qint64 l_size = 0;
    if (l_direction == PeerMessageCodes::DirectionUpload && !io_message.Read(l_size))
        return false;
    emit FileTransferRequested(i_user.AsString(), l_direction, l_token, l_file, l_size);
    return true;
}

bool PeerMessenger::HandleTransferResponse(MemStream& io_message, ItemPtr i_user)
{
    unsigned int l_token = 0;
    quint8 l_allowed = 0;
    if (!io_message.Read(l_token) || !io_message.Read(l_allowed))
        return false;
    if (l_allowed == 0) {
        std::string l_reason;
        if (!io_message.Read(l_reason))
            return false;
        emit FileTransferResponse(i_user.AsString(), l_token, false, false, 0, l_reason);
        return true;
    }
    // The size of an accept is optional; fewer than 8 bytes are no size.
    qint64 l_size = 0;
    const bool l_receivedFileSize = io_message.Read(l_size);
    emit FileTransferResponse(i_user.AsString(), l_token, true, l_receivedFileSize, l_size, "");
    return true;
}

bool PeerMessenger::HandleQueueUpload(MemStream& io_message, ItemPtr i_user)
{
    std::string l_file;
    if (!io_message.Read(l_file))
        return false;
    emit QueueUploadRequested(i_user.AsString(), l_file);
    return true;
}

bool PeerMessenger::HandleUploadPlaceInLine(MemStream& io_message, ItemPtr i_user)
{
    std::string l_file;
    int l_place = 0;
    if (!io_message.Read(l_file) || !io_message.Read(l_place))
        return false;
    emit DownloadPlaceInLine(i_user.AsString(), l_file, l_place);
    return true;
}

bool PeerMessenger::HandleUploadFailed(MemStream& io_message, ItemPtr i_user)
{
    std::string l_file;
    if (!io_message.Read(l_file))
        return false;
    emit UploadFailed(i_user.AsString(), l_file);
    return true;
}

bool PeerMessenger::HandleUploadDenied(MemStream& io_message, ItemPtr i_user)
{
    std::string l_file;
    std::string l_reason;
    if (!io_message.Read(l_file) || !io_message.Read(l_reason))
        return false;
    emit UploadDenied(i_user.AsString(), l_file, l_reason);
    return true;
}
