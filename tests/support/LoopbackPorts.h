#pragma once

#include <QtGlobal>

// A loopback port on which nobody listens (it was free a moment ago), for
// tests of connections that must fail.
quint16 ClosedLoopbackPort();
