#pragma once

#include <QByteArray>

#include <string>

class MemStream;

// The bytes the benchmarks' fake peers put on a peer connection.
namespace BenchPeerWire
{
// One frame of the body, masked with a fresh mask when obfuscated.
QByteArray Frame(const QByteArray& i_body, bool i_obfuscated = false);
// What the stream holds.
QByteArray Bytes(const MemStream& i_stream);
// The first message of a messaging connection: who we say we are.
QByteArray Introduction(const std::string& i_user, bool i_obfuscated = false);
}  // namespace BenchPeerWire
