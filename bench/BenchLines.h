#pragma once

#include <QString>
#include <QStringList>

// The command line and output lines of a benchmark whose processes talk to
// each other through their standard output: one figure a line, name first.
namespace BenchLines
{
// The value after the option's name; the default without one.
QString Option(const QStringList& i_arguments, const QString& i_name, const QString& i_default);
// The figure's line, at once on its way.
void Print(const char* ip_name, double i_value);
// The rest of the output's last line that starts with the name and a
// space; empty when none does.
QString LastFigure(const QString& i_output, const QString& i_name);
}  // namespace BenchLines
