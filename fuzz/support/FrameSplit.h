#pragma once

#include "support/FuzzSupport.h"

#include "server/FrameReader.h"

#include <QByteArray>

#include <cstddef>
#include <vector>

struct ReadFrame
{
    quint32 m_code = 0;
    QByteArray m_payload;
    bool operator==(const ReadFrame& i_other) const = default;
};

// Reads the bytes with both readers, one given them at once and the other in
// pieces of 1, 2, 3, ... bytes (starting at i_firstPiece), and checks that
// the way the bytes arrive changes nothing: the same frames, and the same
// end (an error, or as many bytes waiting). Returns the frames, up to the
// first error; o_error tells whether there was one.
inline std::vector<ReadFrame> ReadFramesBothWays(FrameReader& io_whole, FrameReader& io_pieces, const QByteArray& i_bytes,
                                                 int i_firstPiece, bool& o_error)
{
    auto l_drain = [](FrameReader& io_reader, std::vector<ReadFrame>& io_frames) {
        for (;;) {
            ReadFrame l_frame;
            const FrameReader::Result l_result = io_reader.Next(l_frame.m_code, l_frame.m_payload);
            if (l_result != FrameReader::Result::Frame)
                return l_result == FrameReader::Result::Error;
            io_frames.push_back(std::move(l_frame));
        }
    };
    std::vector<ReadFrame> l_whole;
    io_whole.Append(i_bytes);
    o_error = l_drain(io_whole, l_whole);

    std::vector<ReadFrame> l_pieces;
    bool l_piecesError = false;
    int l_piece = i_firstPiece < 1 ? 1 : i_firstPiece;
    for (qsizetype l_at = 0; l_at < i_bytes.size() && !l_piecesError; l_at += l_piece, ++l_piece) {
        io_pieces.Append(i_bytes.mid(l_at, l_piece));
        l_piecesError = l_drain(io_pieces, l_pieces);
    }
    if (i_bytes.isEmpty())
        l_piecesError = l_drain(io_pieces, l_pieces);
    if (l_pieces != l_whole || l_piecesError != o_error)
        OracleFailed("the frame reader read different frames when the bytes came in pieces",
                     std::to_string(l_whole.size()) + " frames at once, " + std::to_string(l_pieces.size()) + " in pieces");
    if (!o_error && io_whole.Buffered() != io_pieces.Buffered())
        OracleFailed("the frame reader kept different bytes when they came in pieces");
    return l_whole;
}
