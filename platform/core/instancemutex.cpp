#include "instancemutex.h"

#include "atomicfile.h"
#include "tempdir.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string SessionRuntimeDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        struct stat info {};
        if (::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode))
            return runtime;
    }
    std::string dir = TempDirectory() + "tarnix-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const std::string& name, bool& alreadyExists) {
    alreadyExists = false;
    std::string safe;
    for (char c : name)
        safe.push_back(c == '/' ? '_' : c);
    std::string path = SessionRuntimeDirectory() + "/" + safe + ".mutex";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another open file description holds it: another process, or an
        // earlier Create in this one.
        alreadyExists = (errno == EWOULDBLOCK);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<NamedMutex>(Held{fd});
}

NamedMutex::~NamedMutex() {
    ::close(fd_);
}

} // namespace platform
