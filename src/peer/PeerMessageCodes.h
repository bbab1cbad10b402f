#pragma once

#include "core/io/MemStream.h"

#include <QString>
#include <QtGlobal>

// The codes of the peer messages this client reads or writes. A message body
// is the u32 code followed by the payload.
namespace PeerMessageCodes
{
enum Code : quint32 {
    GetSharedFileList = 4,
    SharedFileList = 5,
    FileSearchResult = 9,
    GetSharedFilesInFolder = 36,
    SharedFilesInFolder = 37,
    TransferRequest = 40,
    TransferResponse = 41,
    QueueUpload = 43,
    UploadPlaceInLine = 44,
    UploadFailed = 46,
    UploadDenied = 50,
    UploadPlaceInLineRequest = 51,
};

// The direction of a transfer request that offers to send the file to its
// receiver; the other direction asks the receiver to send it.
constexpr int DirectionUpload = 1;

// The name of a code for the log; a code without a name is its decimal
// number followed by " (unknown)".
QString Name(int i_code);

// The code in the first four bytes of a message body, whatever its read
// position; the bytes there are, read as zeros past its end.
quint32 Of(const MemStream& i_message);

// A transfer request that offers to send the file (DirectionUpload), read
// from the start of the body whatever its read position.
bool IsUploadOffer(const MemStream& i_message);
// The token of a transfer request, read as IsUploadOffer reads.
quint32 TransferToken(const MemStream& i_message);
}
