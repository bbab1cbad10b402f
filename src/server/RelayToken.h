#pragma once

#include <QtGlobal>

#include <functional>

// The token of a relayed connection request. The user the server passes the
// request to answers by connecting to us with this token alone, and nothing
// else tells a stranger's connection from that user's: a token must not be
// guessable. Each is drawn from the system's strong random source, is never
// 0, and is never one the caller still waits on.
namespace RelayToken
{
// Whether a token still stands for a request that awaits its answer.
using InUse = std::function<bool(quint32)>;
// Where candidates come from; the default is the system's strong source.
using Source = std::function<quint32()>;

quint32 Draw(const InUse& i_inUse, const Source& i_source = {});
}
