#pragma once

#include <QtGlobal>

// The central server that every client logs in to.
inline constexpr char g_serverHost[] = "server.kestrune.net";
inline constexpr quint16 g_serverPort = 2242;
