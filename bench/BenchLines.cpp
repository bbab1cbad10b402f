#include "BenchLines.h"

#include <cstdio>

namespace BenchLines
{
QString Option(const QStringList& i_arguments, const QString& i_name, const QString& i_default)
{
    const qsizetype l_at = i_arguments.indexOf(i_name);
    return l_at >= 0 && l_at + 1 < i_arguments.size() ? i_arguments.at(l_at + 1) : i_default;
}

void Print(const char* ip_name, double i_value)
{
    std::printf("%s %.1f\n", ip_name, i_value);
    std::fflush(stdout);
}

QString LastFigure(const QString& i_output, const QString& i_name)
{
    QString l_value;
    for (const QString& l_line : i_output.split('\n')) {
        if (l_line.startsWith(i_name + ' '))
            l_value = l_line.mid(i_name.size() + 1).trimmed();
    }
    return l_value;
}
}  // namespace BenchLines
