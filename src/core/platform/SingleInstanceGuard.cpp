#include "core/platform/SingleInstanceGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{
QString RuntimeFolderFromEnvironment()
{
    const QString l_runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!l_runtime.isEmpty() && QFileInfo(l_runtime).isDir())
        return l_runtime;
    return QString();
}
}

SingleInstanceGuard::SingleInstanceGuard(const QString& i_folder)
{
    const QString l_folder = i_folder.isEmpty() ? DefaultFolder() : i_folder;
    const bool l_sharedFolder = RuntimeFolderFromEnvironment().isEmpty() && i_folder.isEmpty();
    QString l_name = QString::fromLatin1(Key);
    if (l_sharedFolder)
        l_name += QLatin1Char('-') + QString::number(::getuid());
    m_path = QDir(l_folder).filePath(l_name + QStringLiteral(".lock"));
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    Release();
}

QString SingleInstanceGuard::DefaultFolder()
{
    const QString l_runtime = RuntimeFolderFromEnvironment();
    return l_runtime.isEmpty() ? QDir::tempPath() : l_runtime;
}

SingleInstanceGuard::Result SingleInstanceGuard::TryAcquire()
{
    if (m_fd >= 0)
        return Result::Acquired;

    const QByteArray l_path = QFile::encodeName(m_path);
    // Close-on-exec: a program the client starts (a file opened with the
    // desktop's handler) must not inherit the lock and keep it after we end.
    const int l_fd = ::open(l_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (l_fd < 0)
        return Result::Unavailable;
    // In a shared temporary folder another user could make the file first
    // and hold it: only our own regular file counts as the guard.
    struct stat l_info;
    if (::fstat(l_fd, &l_info) != 0 || !S_ISREG(l_info.st_mode) || l_info.st_uid != ::getuid()) {
        ::close(l_fd);
        return Result::Unavailable;
    }

    int l_status;
    do {
        l_status = ::flock(l_fd, LOCK_EX | LOCK_NB);
    } while (l_status != 0 && errno == EINTR);
    if (l_status != 0) {
        const int l_error = errno;
        ::close(l_fd);
        return l_error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unavailable;
    }
    m_fd = l_fd;
    return Result::Acquired;
}

void SingleInstanceGuard::Release()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
