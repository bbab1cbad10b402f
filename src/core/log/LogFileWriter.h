#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

#include <functional>
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
//
// A file deleted or moved away while the program runs is made anew at its
// path. Looking for it on disk costs a stat, too much for every line: an
// open file is looked for once a minute, and a failed write drops it, so
// that the next line opens it again. Lines written in between go where the
// file went.
class LogFileWriter
{
public:
    static constexpr qint64 DefaultMaxFileSize = 16 * 1024 * 1024;
    static constexpr qint64 ExistenceCheckIntervalMs = 60 * 1000;
    // Milliseconds of a steady clock.
    using Clock = std::function<qint64()>;

    // i_maxFileSize: the cap in bytes; only tests set another one.
    explicit LogFileWriter(const QString& i_folder, qint64 i_maxFileSize = DefaultMaxFileSize);
    ~LogFileWriter();
    LogFileWriter(const LogFileWriter&) = delete;
    LogFileWriter& operator=(const LogFileWriter&) = delete;

    void Append(const QString& i_area, const QString& i_line, const QDateTime& i_time);

    QString Folder() const;

    // Replaces the clock of the existence checks; an empty function brings
    // back the real one.
    void SetClock(Clock i_clock);
    // How often an open file was looked for on disk.
    int ExistenceChecks() const;

    // The file of an area; characters that would leave the folder or are not
    // allowed in file names are replaced by "_".
    static QString FileNameForArea(const QString& i_area);

private:
    struct OpenLog
    {
        std::shared_ptr<QFile> mp_file;
        // When the file was opened or last found on disk.
        qint64 m_checkedAt = 0;
    };

    qint64 NowMs() const;
    QFile* OpenFile(const QString& i_area);
    // Moves the area's file aside and opens a new one; null when none can be
    // opened.
    QFile* StartNewFile(const QString& i_area, QFile* ip_full);

    mutable QMutex m_mutex;
    QString m_folder;
    qint64 m_maxFileSize;
    QHash<QString, OpenLog> m_files;
    QSet<QString> m_headerWritten;
    QElapsedTimer m_steadyClock;
    Clock m_clock;
    int m_existenceChecks = 0;
};
