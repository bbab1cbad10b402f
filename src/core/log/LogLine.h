#pragma once

#include <QDateTime>
#include <QString>

// The text of one log line: the date and time in brackets, a space, three
// spaces for each level above 1, then the text. Levels below 1 indent like 1.
QString FormatLogLine(const QDateTime& i_time, int i_level, const QString& i_text);

// The first line of a log file in each run: "* Logging started at %1".
QString FormatLogHeader(const QDateTime& i_time);

// Date and time as they appear in log lines (the toolkit's text-date form).
QString FormatLogTime(const QDateTime& i_time);
