#include "core/log/LogLine.h"

#include "core/util/WallClock.h"

namespace
{
// Deeper nesting than this is a caller's mistake; keep the line readable.
constexpr int MaxIndentLevel = 32;
}

QString FormatLogTime(const QDateTime& i_time)
{
    return WallClock::Text(i_time);
}

QString FormatLogLine(const QDateTime& i_time, int i_level, const QString& i_text)
{
    const int l_indent = i_level > 1 ? 3 * (qMin(i_level, MaxIndentLevel) - 1) : 0;
    QString l_line;
    l_line.reserve(32 + l_indent + i_text.size());
    l_line += QLatin1Char('[');
    l_line += FormatLogTime(i_time);
    l_line += QLatin1String("] ");
    l_line += QString(l_indent, QLatin1Char(' '));
    l_line += i_text;
    return l_line;
}

QString FormatLogHeader(const QDateTime& i_time)
{
    return QStringLiteral("* Logging started at %1").arg(FormatLogTime(i_time));
}
