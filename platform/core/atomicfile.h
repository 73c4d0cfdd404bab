#pragma once
// Whole-file reads and crash-safe whole-file writes.
#include <string>
#include <string_view>

namespace platform {

// Writes `data` to `path` through a temporary file in the same folder that is
// flushed to disk and then renamed over `path`: a crash or a full disk leaves
// either the old file or the new one, never a part of either. Returns false
// (and the reason in `error`) when the file could not be written; the old file
// is then untouched.
bool WriteFileAtomically(const std::string& path, std::string_view data,
                         std::string* error = nullptr);

// Reads the whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& data);

bool FileExists(const std::string& path);

// Writes all of `data` to the descriptor, going on after interruptions and
// short writes; false on the first error (errno tells which).
bool WriteAll(int fd, std::string_view data);

// The folder part of a path ("." for a bare name, "/" for the root).
std::string FolderOf(const std::string& path);

// Creates a folder and its missing parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path);

// An exclusive advisory lock (flock) on a lock file, held from construction
// to destruction. The kernel drops it when the process ends, also by a crash.
class FileLock {
public:
    enum class Mode { Wait, Try };
    FileLock(const std::string& lockPath, Mode mode = Mode::Wait);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace platform
