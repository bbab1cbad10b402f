#pragma once

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

#include <memory>

class QFile;

// Appends log lines to one file per area, "<area>.log", in a folder that the
// user makes: when the folder does not exist nothing is written and nothing
// is reported. One writer is one run of the program: the first line that
// reaches an area's file in that run is preceded by the header line
// "* Logging started at %1". Thread-safe; a failing write is dropped.
//
// Each file is capped, since a peer or server can make the program log
// without end: a line that would take a file past the cap renames the file to
// "<area>.log.1" (replacing the one kept before) and starts a new file, which
// begins with the header line like any other.
class LogFileWriter
{
public:
    static constexpr qint64 DefaultMaxFileSize = 16 * 1024 * 1024;

    // i_maxFileSize: the cap in bytes; only tests set another one.
    explicit LogFileWriter(const QString& i_folder, qint64 i_maxFileSize = DefaultMaxFileSize);
    ~LogFileWriter();
    LogFileWriter(const LogFileWriter&) = delete;
    LogFileWriter& operator=(const LogFileWriter&) = delete;

    void Append(const QString& i_area, const QString& i_line, const QDateTime& i_time);

    QString Folder() const;

    // The file of an area; characters that would leave the folder or are not
    // allowed in file names are replaced by "_".
    static QString FileNameForArea(const QString& i_area);

private:
    QFile* OpenFile(const QString& i_area);
    // Moves the area's file aside and opens a new one; null when none can be
    // opened.
    QFile* StartNewFile(const QString& i_area, QFile* ip_full);

    mutable QMutex m_mutex;
    QString m_folder;
    qint64 m_maxFileSize;
    QHash<QString, std::shared_ptr<QFile>> m_files;
    QSet<QString> m_headerWritten;
};
