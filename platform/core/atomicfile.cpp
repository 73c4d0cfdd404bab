#include "atomicfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

void setError(std::string* error, const std::string& what) {
    if (error)
        *error = what + ": " + std::strerror(errno);
}

} // namespace

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteFileAtomically(const std::string& path, std::string_view data, std::string* error) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        setError(error, "cannot create a temporary file beside " + path);
        return false;
    }
    // Keep the permissions of the file being replaced; new files get 0644
    // (mkstemp makes 0600).
    struct stat old {};
    ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    if (!ok)
        setError(error, "cannot write " + temp);
    if (::close(fd) != 0 && ok) {
        setError(error, "cannot write " + temp);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        setError(error, "cannot replace " + path);
        ok = false;
    }
    if (!ok) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    // Make the rename itself durable.
    int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& data) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    data.clear();
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        data.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool MakeDirectories(const std::string& path) {
    if (path.empty())
        return false;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    std::string parent = FolderOf(path);
    if (parent != path && parent != "." && !MakeDirectories(parent))
        return false;
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

FileLock::FileLock(const std::string& lockPath, Mode mode) {
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return;
    int how = LOCK_EX | (mode == Mode::Try ? LOCK_NB : 0);
    int rc;
    do
        rc = ::flock(fd_, how);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the descriptor releases the lock
}

} // namespace platform
