#include "core/platform/FileByBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool OpenForReadingByBytes(QFile& io_file, const std::string& i_path)
{
    if (i_path.empty() || i_path.find('\0') != std::string::npos)
        return false;
    // Non-blocking, so that opening a FIFO returns at once; it makes no
    // difference to the reads of a regular file.
    const int l_fd = ::open(i_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (l_fd < 0)
        return false;
    struct stat l_stat {};
    if (::fstat(l_fd, &l_stat) != 0 || !S_ISREG(l_stat.st_mode)) {
        ::close(l_fd);
        return false;
    }
    if (!io_file.open(l_fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(l_fd);
        return false;
    }
    return true;
}
