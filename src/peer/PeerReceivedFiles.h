#pragma once

#include "core/io/FileInfo.h"
#include "core/io/Stream.h"

// File records as other users send them in listings and search replies.
// The general stream reader takes up to 131,072 attributes per file; no
// real file has more than a handful, and a listing of files that each claim
// the most is hundreds of megabytes once read. These readers stop at the
// first file that claims more than MaxAttributes.
namespace PeerReceivedFiles
{
constexpr unsigned int MaxAttributes = 16;

enum class Result {
    Read,
    Unreadable,         // cut short, or a count above the stream's limit
    TooManyAttributes,  // a file claims more than MaxAttributes
};

// One record: o_present false for an empty record (a lone 0 byte), which
// leaves o_file as it was.
Result ReadFile(InputStream& io_stream, FileInfo& o_file, bool& o_present);

// A whole listing: folder path to the files it holds. A folder named twice
// keeps its later files; empty records are left out.
Result ReadListing(InputStream& io_stream, FileInfoMap& o_listing);
}
