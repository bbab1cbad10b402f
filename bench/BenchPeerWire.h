#pragma once

#include "core/io/MemStream.h"

#include <QByteArray>
#include <QtGlobal>

#include <string>

// The bytes the benchmarks' fake peers put on a peer connection.
namespace BenchPeerWire
{
// The offer of a peer that sends the file.
constexpr quint32 DirectionUpload = 1;

// One frame of the body, masked with a fresh mask when obfuscated.
QByteArray Frame(const QByteArray& i_body, bool i_obfuscated = false);
// What the stream holds.
QByteArray Bytes(const MemStream& i_stream);
// The first message of a connection of the type (messaging unless told):
// who we say we are.
QByteArray Introduction(const std::string& i_user, bool i_obfuscated = false, const std::string& i_type = "P");
// A message of the code with the payload after it, as one frame.
QByteArray Message(quint32 i_code, const MemStream& i_payload, bool i_obfuscated = false);
// The IPv4 address 127.i_second.i_third.i_fourth, for a fake peer to bind:
// the client tells peers apart by their remote address and network.
quint32 Loopback(int i_second, int i_third, int i_fourth);
// Takes the next whole frame body off the front of io_buffer; false when
// none is complete yet.
bool TakeFrame(QByteArray& io_buffer, bool i_obfuscated, QByteArray& o_body);
// A stream that reads the bytes.
MemStream StreamOf(const QByteArray& i_bytes);
}  // namespace BenchPeerWire
