#pragma once

#include <QString>
#include <QtGlobal>

// The texts of the progress columns of the transfers view.
namespace TransferProgressText
{
// "1,234,567 (45.3%)": the bytes done with thousands separators (nothing
// for 0), then the share of the total to one decimal. A total of 0 (an
// empty file) counts as done: 100.0%.
QString Progress(qint64 i_done, qint64 i_total);
// The share as a progress bar shows it: whole percent, truncated.
int Percent(qint64 i_done, qint64 i_total);
// Kilobytes per second to one decimal: 1536 gives "1.5".
QString Speed(qint64 i_bytesPerSecond);
// The bytes left at that speed, in whole seconds: "   1h:2m:5s" (three
// blanks first; minutes from a minute on, hours, never wrapped at a day,
// from an hour on); "   0s" when the speed is 0 or less.
QString TimeLeft(qint64 i_bytesLeft, qint64 i_bytesPerSecond);
}  // namespace TransferProgressText
