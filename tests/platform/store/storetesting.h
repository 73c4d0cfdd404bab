#pragma once
// Helpers of the store tests: a temporary folder removed afterwards, a mail
// store root selected through $MAILDIR for one test, and delivery the way
// another program does it (write into tmp/, rename into new/).
#include "platform/core/atomicfile.h"
#include "platform/core/tempdir.h"

#include <cstdlib>
#include <ftw.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace storetesting {

class TempDir {
public:
    TempDir() {
        std::string pattern = platform::TempDirectory() + "tarnix-store-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        path_ = pattern;
    }
    ~TempDir() {
        ::nftw(
            path_.c_str(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); },
            16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Points $MAILDIR at a fresh store root "<temp>/Maildir" (not yet made).
class ScopedMaildir {
public:
    ScopedMaildir() : root_(dir_.path() + "/Maildir") {
        if (const char* old = std::getenv("MAILDIR"))
            old_ = old, hadOld_ = true;
        ::setenv("MAILDIR", root_.c_str(), 1);
    }
    ~ScopedMaildir() {
        if (hadOld_)
            ::setenv("MAILDIR", old_.c_str(), 1);
        else
            ::unsetenv("MAILDIR");
    }
    const std::string& root() const { return root_; }
    // The Maildir of a top-level folder ("Inbox": the root).
    std::string folder(const std::string& name) const {
        return name == "Inbox" ? root_ : root_ + "/." + name;
    }

private:
    TempDir dir_;
    std::string root_;
    std::string old_;
    bool hadOld_ = false;
};

inline void WriteFile(const std::string& path, const std::string& data) {
    if (!platform::WriteFileAtomically(path, data))
        throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
    std::string data;
    if (!platform::ReadWholeFile(path, data))
        throw std::runtime_error("cannot read " + path);
    return data;
}

// Delivers a message into new/ the Maildir way, as another program would.
inline void DeliverExternally(const std::string& maildir, const std::string& name,
                              const std::string& text) {
    std::string temp = maildir + "/tmp/" + name;
    WriteFile(temp, text);
    if (::rename(temp.c_str(), (maildir + "/new/" + name).c_str()) != 0)
        throw std::runtime_error("cannot deliver " + name);
}

inline void Rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw std::runtime_error("cannot rename " + from);
}

} // namespace storetesting
