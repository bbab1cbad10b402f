#include "peer/PeerMessageCodes.h"

#include <QtEndian>

#include <cstring>

namespace PeerMessageCodes
{
QString Name(int i_code)
{
    switch (i_code) {
    case 1: return "PM_SAY";
    case 4: return "PM_GET_SHARED_FILE_LIST";
    case 5: return "PM_SHARED_FILE_LIST";
    case 8: return "PM_FILE_SEARCH_REQUEST";
    case 9: return "PM_FILE_SEARCH_RESULT";
    case 10: return "PM_INVITE_USER_TO_ROOM";
    case 14: return "PM_CANCELLED_QUEUED_TRANSFER";
    case 15: return "PM_USER_INFO_REQUEST";
    case 16: return "PM_USER_INFO_REPLY";
    case 33: return "PM_SEND_CONNECT_TOKEN";
    case 34: return "PM_MOVE_DOWNLOAD_TO_TOP";
    case 36: return "PM_GET_SHARED_FILES_IN_FOLDER";
    case 37: return "PM_SHARED_FILES_IN_FOLDER";
    case 40: return "PM_TRANSFER_REQUEST";
    case 41: return "PM_TRANSFER_RESPONSE";
    case 42: return "PM_PLACEHOLD_UPLOAD";
    case 43: return "PM_QUEUE_UPLOAD";
    case 44: return "PM_UPLOAD_PLACE_IN_LINE";
    case 46: return "PM_UPLOAD_FAILED";
    case 47: return "PM_EXACT_FILE_SEARCH_REQUEST";
    case 48: return "PM_QUEUED_DOWNLOADS";
    case 49: return "PM_INDIRECT_FILE_SEARCH_REQUEST";
    case 50: return "PM_UPLOAD_DENIED";
    case 51: return "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
    case 52: return "PM_NOTHING";
    default: return QString("%1 (unknown)").arg(i_code);
    }
}

namespace
{
// The u32 at the byte offset of the body; bytes past its end read as zeros.
quint32 U32At(const MemStream& i_message, int i_offset)
{
    const MemStream::Buffer& l_buffer = *i_message.mp_buffer;
    unsigned char l_bytes[4] = {0, 0, 0, 0};
    const int l_available = qBound(0, l_buffer.m_writeIndex - i_offset, 4);
    if (l_available > 0)
        std::memcpy(l_bytes, l_buffer.mp_buffer + i_offset, static_cast<size_t>(l_available));
    return qFromLittleEndian<quint32>(l_bytes);
}
}  // namespace

quint32 Of(const MemStream& i_message)
{
    return U32At(i_message, 0);
}

bool IsUploadOffer(const MemStream& i_message)
{
    return Of(i_message) == TransferRequest && U32At(i_message, 4) == quint32(DirectionUpload);
}

quint32 TransferToken(const MemStream& i_message)
{
    return U32At(i_message, 8);
}
}
