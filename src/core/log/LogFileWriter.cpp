#include "core/log/LogFileWriter.h"

#include "core/log/LogLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

LogFileWriter::LogFileWriter(const QString& i_folder) : m_folder(i_folder)
{
}

LogFileWriter::~LogFileWriter() = default;

QString LogFileWriter::Folder() const
{
    QMutexLocker l_lock(&m_mutex);
    return m_folder;
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
    const auto l_it = m_files.constFind(i_area);
    if (l_it != m_files.constEnd()) {
        // A file deleted or a folder removed while we run: reopen (or stop
        // writing) instead of writing into an unlinked file.
        if (QFileInfo::exists(l_it.value()->fileName()))
            return l_it.value().get();
        m_files.remove(i_area);
    }
    if (m_folder.isEmpty() || !QFileInfo(m_folder).isDir())
        return nullptr;
    auto lp_file = std::make_shared<QFile>(QDir(m_folder).filePath(FileNameForArea(i_area)));
    if (!lp_file->open(QIODevice::WriteOnly | QIODevice::Append))
        return nullptr;
    m_files.insert(i_area, lp_file);
    return lp_file.get();
}

void LogFileWriter::Append(const QString& i_area, const QString& i_line, const QDateTime& i_time)
{
    QMutexLocker l_lock(&m_mutex);
    QFile* lp_file = OpenFile(i_area);
    if (!lp_file)
        return;
    QByteArray l_bytes;
    if (!m_headerWritten.contains(i_area)) {
        l_bytes += FormatLogHeader(i_time).toUtf8();
        l_bytes += '\n';
    }
    l_bytes += i_line.toUtf8();
    l_bytes += '\n';
    if (lp_file->write(l_bytes) != l_bytes.size() || !lp_file->flush()) {
        m_files.remove(i_area);
        return;
    }
    m_headerWritten.insert(i_area);
}
