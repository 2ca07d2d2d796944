// Replacing a file whole on POSIX: a temporary file beside it, fsync, rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "transfer/SettingsFile.h"

namespace tern::transfer {

namespace {
std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }
}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));

    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }

    // A name of our own next to the target, so the rename stays in one file system.
    static std::atomic<unsigned> serial{0};
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            error = Errno(("cannot create a file in " + dir).c_str());
            return false;
        }
    }
    if (fd < 0) {
        error = "cannot create a temporary file in " + dir;
        return false;
    }
    auto fail = [&](const std::string& why) {
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        error = why;
        return false;
    };
    if (existed) ::fchmod(fd, old.st_mode & 07777);  // best effort: the data matters more

    const char* p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? Errno("write") : std::string("write: nothing written"));
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail(Errno("fsync"));
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(Errno("close"));
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail(Errno("rename"));
    // The rename itself is made durable with the folder.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace tern::transfer
