#include "core/persist/FileCommit.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string Failure(const char* ip_step, const std::string& i_path)
{
    return std::string(ip_step) + " \"" + i_path + "\": " + std::strerror(errno);
}

}  // namespace

bool CommitFile(const std::string& i_path, const std::vector<char>& i_bytes, std::string& o_reason)
{
    const std::string l_temporary = i_path + ".tmp";
    const int l_file = ::open(l_temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (l_file < 0) {
        o_reason = Failure("cannot create", l_temporary);
        return false;
    }
    const char* lp_at = i_bytes.data();
    std::size_t l_left = i_bytes.size();
    bool l_ok = true;
    while (l_left > 0) {
        const ssize_t l_written = ::write(l_file, lp_at, l_left);
        if (l_written < 0 && errno == EINTR)
            continue;
        if (l_written <= 0) {
            o_reason = Failure("cannot write", l_temporary);
            l_ok = false;
            break;
        }
        lp_at += l_written;
        l_left -= std::size_t(l_written);
    }
    if (l_ok && ::fsync(l_file) != 0) {
        o_reason = Failure("cannot flush", l_temporary);
        l_ok = false;
    }
    if (::close(l_file) != 0 && l_ok) {
        o_reason = Failure("cannot close", l_temporary);
        l_ok = false;
    }
    if (l_ok && ::rename(l_temporary.c_str(), i_path.c_str()) != 0) {
        o_reason = Failure("cannot replace", i_path);
        l_ok = false;
    }
    if (!l_ok) {
        ::unlink(l_temporary.c_str());
        return false;
    }
    // Make the rename itself durable.
    const std::size_t l_slash = i_path.find_last_of('/');
    const std::string l_folder = l_slash == std::string::npos ? "." : (l_slash == 0 ? "/" : i_path.substr(0, l_slash));
    const int l_directory = ::open(l_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (l_directory >= 0) {
        ::fsync(l_directory);
        ::close(l_directory);
    }
    return true;
}
