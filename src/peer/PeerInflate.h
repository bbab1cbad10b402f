#pragma once

#include "core/io/MemStream.h"

#include <QtGlobal>

// Compressed payloads of peer messages (a share listing, a search reply): the
// rest of the frame after the code is one zlib stream with no length of its
// own. Bytes after the end of the stream are ignored.
namespace PeerInflate
{
// The most a payload may inflate to. A frame is at most 1 MiB, and deflate
// reaches ratios near 1000:1: without a ceiling one frame could ask for a
// gigabyte.
constexpr qint64 MaxInflatedSize = 64 * 1024 * 1024;

enum class Result {
    Inflated,     // o_payload holds the inflated bytes
    Unreadable,   // not a complete zlib stream: o_payload is left empty
    TooLarge,     // the stream inflates to more than i_limit bytes
    OutOfMemory,  // an allocation failed on the way
};

// Inflates i_length bytes into o_payload, which must be empty (write
// position 0). o_payload holds nothing usable unless the result is Inflated.
Result Inflate(const char* ip_data, qint64 i_length, MemStream& o_payload, qint64 i_limit = MaxInflatedSize);
}
