#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// The wall clock, read without asking the time zone at every reading. The
// toolkit's local time checks the zone's file on every call; a busy peer
// layer or log reads the clock several times a message. A zone changes its
// offset from UTC only on a whole minute, so the offset looked up once in
// each minute serves every reading of that minute. Safe from any thread.
namespace WallClock
{
// Milliseconds since the epoch: no zone at all.
qint64 NowMs();
// The local time of the moment, as a date and time with a fixed offset from
// UTC (the zone's at that moment). Compares and counts as the local time does.
QDateTime Local(qint64 i_msecsSinceEpoch);
QDateTime LocalNow();
// The toolkit's text date of a local time ("Wed May 20 03:40:13 1998"),
// which a fixed offset would otherwise follow with its "GMT+hh:mm".
QString Text(const QDateTime& i_time);
}  // namespace WallClock
