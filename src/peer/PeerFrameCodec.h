#pragma once

#include <QByteArray>
#include <QtGlobal>

// The frame format of peer connections. A frame is a u32 little-endian body
// length and the body. On an obfuscated connection a fresh 4-byte mask M goes
// in clear in front of every frame, and the bytes after it (length, then
// body) are masked: byte i is XORed with byte (i mod 4) of M rotated left by
// (i div 4 + 1) bits, byte 0 being the least significant. Masking and
// unmasking are the same operation.
namespace PeerFrameCodec
{
// The largest body a peer may send; a longer frame ends the connection.
constexpr quint32 MaxBodyLength = 1048576;

quint32 RotateLeft(quint32 i_value, unsigned int i_bits);

// A fresh mask from four draws of the random source: the first gives the
// most significant byte, the fourth the least significant one.
quint32 MakeMask();

// Masks (or unmasks) i_length bytes that stand at position i_firstIndex of
// the masked part of a frame (0 is the first byte of the length field).
void ApplyMask(char* io_bytes, qint64 i_length, quint32 i_mask, qint64 i_firstIndex = 0);

// The wire bytes of one frame holding i_length body bytes; masked with
// i_mask when i_obfuscate is set.
QByteArray EncodeFrame(const char* ip_body, quint32 i_length, bool i_obfuscate, quint32 i_mask);
}
