#pragma once
// Named mutexes for one instance per user session. A name maps to a lock file
// in the session's runtime folder ($XDG_RUNTIME_DIR, else a private folder
// under the temp folder); holding the mutex is holding an exclusive lock on
// that file, which the kernel releases when the process ends, also by a crash.
#include <memory>
#include <string>

namespace platform {

class NamedMutex {
public:
    // Creates (and holds) the mutex; `alreadyExists` tells whether another
    // holder in this user session, this process included, has it already.
    static std::unique_ptr<NamedMutex> Create(const std::string& name, bool& alreadyExists);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

private:
    struct Held {
        int fd;
    };

public:
    explicit NamedMutex(Held held) : fd_(held.fd) {}

private:
    int fd_;
};

// The folder of the user session's runtime files, created when missing.
std::string SessionRuntimeDirectory();

} // namespace platform
