#pragma once

#include "core/io/MemStream.h"

#include <QString>

// The framing of every compressed peer payload we write (browse, search and
// folder-contents replies): the body is the u32 message code followed
// directly by one zlib stream (level 9) of the payload; the peer frame's own
// length bounds it, so no length field of its own.
namespace PayloadCompression {

enum class Outcome { Built, CompressionFailed, TooLarge };

// Builds the body from the payload's written bytes. A body larger than a
// peer accepts in one frame is TooLarge. On failure the body is left empty
// and the outcome says why; nothing is logged here.
Outcome Frame(unsigned int i_code, const MemStream& i_payload, MemStream& o_body);

}  // namespace PayloadCompression
