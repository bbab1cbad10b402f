#pragma once

#include <QString>
#include <QStringList>

// The parts the transfer benchmark plays, each in a process of its own
// (every process holds one store, hence one transfer manager). Each prints
// its results on standard output as "name value" lines and returns the
// process's exit code.
namespace TransferBenchRoles
{
// Downloads the file from an uploader process that it starts itself, and
// prints the time, the throughput and both GUI threads' CPU shares.
// Arguments: file, "chunk" or "paced" (how progress is reported).
int Download(const QStringList& i_arguments);
// The uploader: offers the file to the downloader at the port, prints its
// own port first and its GUI thread's CPU share at the end.
// Arguments: downloader's port, file, "chunk" or "paced".
int Upload(const QStringList& i_arguments);
// Sends the file to loopback receivers within a speed limit and prints the
// rate they got. Arguments: limit in KB/s, uploads, seconds, file.
int Limit(const QStringList& i_arguments);
}  // namespace TransferBenchRoles

// A line of the form "name value" from a role's output, or "" when absent.
QString BenchFigure(const QString& i_output, const QString& i_name);
