#pragma once

#include <QtGlobal>

#include <functional>

// The source of random numbers for the obfuscation keys of peer connections.
// By default a generator seeded once, from the current time, on first use.
// Tests replace it to get known keys.
using RandomSource = std::function<quint32()>;

// The next number of the current source. Thread-safe.
quint32 NextRandom();

// Replaces the source; an empty function brings back the default generator
// (which keeps its state: it is seeded only once per run).
void SetRandomSource(RandomSource i_source);
