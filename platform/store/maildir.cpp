#include "platform/store/maildir.h"

#include "platform/core/atomicfile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace platform::maildir {
namespace {

constexpr int kNameAttempts = 100;

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || (errno == EEXIST && isDirectory(path));
}

// Host names go into file names: "/" and ":" would break the name and its
// info part, so they are written as octal escapes as Maildir writers do.
std::string safeHostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        return "localhost";
    std::string out;
    for (const char* p = host; *p; ++p) {
        if (*p == '/')
            out += "\\057";
        else if (*p == ':')
            out += "\\072";
        else
            out += *p;
    }
    return out;
}

void syncDirectory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Renames without replacing anything. Where the file system cannot refuse
// a taken name itself, the name is checked first: Maildir names are unique,
// so the window between check and rename only matters for made-up names.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool scanSubfolder(const std::string& dir, const char* sub,
                   std::unordered_map<std::string, std::size_t>& seen,
                   std::vector<MessageFile>& files) {
    std::string path = dir + "/" + sub;
    DIR* handle = ::opendir(path.c_str());
    if (!handle)
        return false;
    int dirFd = ::dirfd(handle);
    while (dirent* entry = ::readdir(handle)) {
        std::string_view name = entry->d_name;
        if (name.empty() || name[0] == '.' || name.find_first_of("\r\n") != name.npos)
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            regular = ::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(info.st_mode);
        }
        if (!regular)
            continue;
        std::string base = BaseName(name);
        std::string relative = std::string(sub) + "/" + std::string(name);
        auto [it, added] = seen.try_emplace(base, files.size());
        if (added)
            files.push_back({std::move(base), std::move(relative)});
        else
            files[it->second].relative = std::move(relative);
    }
    ::closedir(handle);
    return true;
}

} // namespace

std::string BaseName(std::string_view fileName) {
    return std::string(fileName.substr(0, fileName.find(':')));
}

bool IsMaildir(const std::string& dir) {
    return isDirectory(dir + "/cur") && isDirectory(dir + "/new") && isDirectory(dir + "/tmp");
}

bool MakeMaildir(const std::string& dir, bool subfolder) {
    if (!makeDirectory(dir))
        return false;
    for (const char* sub : {"tmp", "new", "cur"})
        if (!makeDirectory(dir + "/" + sub))
            return false;
    if (subfolder) {
        int fd = ::open((dir + "/maildirfolder").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

bool ScanMessages(const std::string& dir, std::vector<MessageFile>& files) {
    files.clear();
    std::unordered_map<std::string, std::size_t> seen;
    return scanSubfolder(dir, "new", seen, files) && scanSubfolder(dir, "cur", seen, files);
}

bool CountMessages(const std::string& dir, std::uint32_t& total, std::uint32_t& unread) {
    total = unread = 0;
    for (const char* sub : {"new", "cur"}) {
        std::string path = dir + "/" + sub;
        DIR* handle = ::opendir(path.c_str());
        if (!handle)
            return false;
        bool isNew = sub[0] == 'n';
        while (dirent* entry = ::readdir(handle)) {
            std::string_view name = entry->d_name;
            if (name.empty() || name[0] == '.' || name.find_first_of("\r\n") != name.npos)
                continue;
            if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
                continue;
            ++total;
            std::size_t info = name.find(":2,");
            bool seen = info != name.npos && name.find('S', info + 3) != name.npos;
            if (isNew || !seen)
                ++unread;
        }
        ::closedir(handle);
    }
    return true;
}

std::string UniqueName() {
    static std::atomic<unsigned> counter{0};
    static const std::string host = safeHostName();
    static const unsigned salt = std::random_device{}();
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now - seconds);
    char name[128];
    std::snprintf(name, sizeof name, "%lld.M%lldP%dQ%uR%08x.",
                  static_cast<long long>(seconds.count()), static_cast<long long>(micros.count()),
                  static_cast<int>(::getpid()), ++counter, salt);
    return name + host;
}

int Deliver(const std::string& dir, std::string_view text, std::string& base) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = UniqueName();
        std::string temp = dir + "/tmp/" + name;
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == ENOENT && makeDirectory(dir + "/tmp")) // some clients drop tmp/
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
        int error = ok ? 0 : errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            error = errno;
        }
        if (ok)
            error = renameNoReplace(temp, dir + "/new/" + name);
        if (error == 0) {
            syncDirectory(dir + "/new");
            base = name;
            return 0;
        }
        ::unlink(temp.c_str());
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

int MoveFile(const std::string& fromDir, const std::string& relative, const std::string& toDir,
             std::string& newRelative, bool freshName) {
    std::string from = fromDir + "/" + relative;
    std::size_t slash = relative.find('/');
    std::string sub = relative.substr(0, slash + 1); // "new/" or "cur/"
    std::string name = relative.substr(slash + 1);
    std::string info = name.substr(std::min(name.size(), name.find(':')));
    std::string candidate = freshName ? UniqueName() + info : name;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        int error = renameNoReplace(from, toDir + "/" + sub + candidate);
        if (error == 0) {
            newRelative = sub + candidate;
            return 0;
        }
        if (error != EEXIST)
            return error;
        candidate = UniqueName() + info;
    }
    return EEXIST;
}

} // namespace platform::maildir
