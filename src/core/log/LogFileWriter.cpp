#include "core/log/LogFileWriter.h"

#include "core/log/LogLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cstdio>

LogFileWriter::LogFileWriter(const QString& i_folder, qint64 i_maxFileSize)
    : m_folder(i_folder), m_maxFileSize(i_maxFileSize)
{
    m_steadyClock.start();
}

LogFileWriter::~LogFileWriter() = default;

QString LogFileWriter::Folder() const
{
    QMutexLocker l_lock(&m_mutex);
    return m_folder;
}

void LogFileWriter::SetClock(Clock i_clock)
{
    QMutexLocker l_lock(&m_mutex);
    m_clock = std::move(i_clock);
}

int LogFileWriter::ExistenceChecks() const
{
    QMutexLocker l_lock(&m_mutex);
    return m_existenceChecks;
}

qint64 LogFileWriter::NowMs() const
{
    return m_clock ? m_clock() : m_steadyClock.elapsed();
}

QString LogFileWriter::FileNameForArea(const QString& i_area)
{
    QString l_name = i_area;
    for (QChar& l_char : l_name) {
        if (l_char == QLatin1Char('/') || l_char == QLatin1Char('\\') || l_char.unicode() < 0x20)
            l_char = QLatin1Char('_');
    }
    if (l_name.isEmpty() || l_name == QLatin1String(".") || l_name == QLatin1String(".."))
        l_name.replace(QLatin1Char('.'), QLatin1Char('_')).prepend(QLatin1Char('_'));
    return l_name + QStringLiteral(".log");
}

QFile* LogFileWriter::OpenFile(const QString& i_area)
{
    const auto l_it = m_files.find(i_area);
    if (l_it != m_files.end()) {
        const qint64 l_now = NowMs();
        if (l_now - l_it->m_checkedAt < ExistenceCheckIntervalMs)
            return l_it->mp_file.get();
        // A file deleted or moved away, or a folder removed while we run:
        // reopen (or stop writing) instead of writing where nobody looks.
        ++m_existenceChecks;
        if (QFileInfo::exists(l_it->mp_file->fileName())) {
            l_it->m_checkedAt = l_now;
            return l_it->mp_file.get();
        }
        m_files.erase(l_it);
    }
    if (m_folder.isEmpty() || !QFileInfo(m_folder).isDir())
        return nullptr;
    auto lp_file = std::make_shared<QFile>(QDir(m_folder).filePath(FileNameForArea(i_area)));
    if (!lp_file->open(QIODevice::WriteOnly | QIODevice::Append))
        return nullptr;
    m_files.insert(i_area, OpenLog{lp_file, NowMs()});
    return lp_file.get();
}

QFile* LogFileWriter::StartNewFile(const QString& i_area, QFile* ip_full)
{
    const QString l_path = ip_full->fileName();
    m_files.remove(i_area);
    m_headerWritten.remove(i_area);
    // rename() replaces the older kept file in one step. Should it fail, the
    // file is started anew all the same: the cap matters more than its lines.
    const QByteArray l_from = QFile::encodeName(l_path);
    const QByteArray l_to = QFile::encodeName(l_path + QStringLiteral(".1"));
    if (std::rename(l_from.constData(), l_to.constData()) != 0)
        QFile::resize(l_path, 0);
    return OpenFile(i_area);
}

void LogFileWriter::Append(const QString& i_area, const QString& i_line, const QDateTime& i_time)
{
    QMutexLocker l_lock(&m_mutex);
    QFile* lp_file = OpenFile(i_area);
    if (!lp_file)
        return;
    const QByteArray l_line = i_line.toUtf8() + '\n';
    auto l_header = [&] {
        return m_headerWritten.contains(i_area) ? QByteArray() : FormatLogHeader(i_time).toUtf8() + '\n';
    };
    QByteArray l_bytes = l_header() + l_line;
    const qint64 l_size = lp_file->size();
    if (l_size > 0 && l_size + l_bytes.size() > m_maxFileSize) {
        lp_file = StartNewFile(i_area, lp_file);
        if (!lp_file)
            return;
        l_bytes = l_header() + l_line;
    }
    if (lp_file->write(l_bytes) != l_bytes.size() || !lp_file->flush()) {
        m_files.remove(i_area);
        return;
    }
    m_headerWritten.insert(i_area);
}
