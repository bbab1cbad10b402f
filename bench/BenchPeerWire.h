#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <string>

class MemStream;

// The bytes the benchmarks' fake peers put on a peer connection.
namespace BenchPeerWire
{
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
}  // namespace BenchPeerWire
