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
// The first message of a connection opened back on a relayed request: the
// request's token.
QByteArray Answer(quint32 i_token);
// A message of the code with the payload after it, as one frame.
QByteArray Message(quint32 i_code, const MemStream& i_payload, bool i_obfuscated = false);
// A message of a code the client reads and only logs: a peer that keeps its
// connection alive sends it.
QByteArray Keepalive();
// A transfer's token as the opener of a file connection sends it after the
// first message, unframed.
QByteArray Token(quint32 i_token);
// The IPv4 address 127.i_second.i_third.i_fourth, for a fake peer to bind:
// the client tells peers apart by their remote address and network.
quint32 Loopback(int i_second, int i_third, int i_fourth);
// Takes the next whole frame body off the front of io_buffer; false when
// none is complete yet.
bool TakeFrame(QByteArray& io_buffer, bool i_obfuscated, QByteArray& o_body);
// A stream that reads the bytes.
MemStream StreamOf(const QByteArray& i_bytes);
}  // namespace BenchPeerWire
