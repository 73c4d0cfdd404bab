#include "platform/store/uidlist.h"

#include "platform/core/atomicfile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::string_view kHeader = "tarnix-uidlist 1 ";
// Rewrite the list when it has this many records and most are stale.
constexpr std::size_t kCompactAfter = 1000;

bool parseNumber(std::string_view text, std::uint64_t& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool parseUid(std::string_view text, FolderIndex::Uid& uid) {
    std::uint64_t value = 0;
    if (!parseNumber(text, value) || value == 0 || value > FolderIndex::kLastUid)
        return false;
    uid = static_cast<FolderIndex::Uid>(value);
    return true;
}

bool readRange(const std::string& path, off_t from, off_t to, std::string& data) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    data.resize(static_cast<std::size_t>(to - from));
    std::size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n =
            ::pread(fd, data.data() + done, data.size() - done, from + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0; // the file is shorter than it was: read what is there
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    data.resize(done);
    ::close(fd);
    return ok;
}

struct Arrival {
    std::int64_t seconds;
    long nanos;
    std::size_t file;
};

} // namespace

std::shared_ptr<FolderIndex> FolderIndex::Of(const std::string& dir) {
    static std::mutex lock;
    static std::map<std::string, std::weak_ptr<FolderIndex>> indexes;
    std::lock_guard guard(lock);
    for (auto it = indexes.begin(); it != indexes.end();)
        it = it->second.expired() ? indexes.erase(it) : std::next(it);
    if (auto found = indexes[dir].lock())
        return found;
    auto index = std::make_shared<FolderIndex>(dir);
    indexes[dir] = index;
    return index;
}

FolderIndex::FolderIndex(std::string dir)
    : dir_(std::move(dir)), listPath_(dir_ + "/tarnix-uidlist"),
      lockPath_(dir_ + "/tarnix-uidlist.lock") {}

bool FolderIndex::Sync() {
    std::lock_guard guard(mutex_);
    return syncLocked();
}

std::vector<FolderIndex::Uid> FolderIndex::PresentUids() {
    return PresentAfter(0);
}

std::vector<FolderIndex::Uid> FolderIndex::PresentAfter(Uid watermark) {
    Uid lastAssigned = 0;
    return PresentAfter(watermark, lastAssigned);
}

std::vector<FolderIndex::Uid> FolderIndex::PresentAfter(Uid watermark, Uid& lastAssigned) {
    std::lock_guard guard(mutex_);
    lastAssigned = next_ - 1;
    std::vector<Uid> uids;
    for (auto it = entries_.upper_bound(watermark); it != entries_.end(); ++it)
        if (it->second.present)
            uids.push_back(it->first);
    return uids;
}

std::size_t FolderIndex::PresentCount() {
    std::lock_guard guard(mutex_);
    return static_cast<std::size_t>(std::count_if(
        entries_.begin(), entries_.end(), [](const auto& entry) { return entry.second.present; }));
}

bool FolderIndex::IsPresent(Uid uid) {
    std::lock_guard guard(mutex_);
    auto found = entries_.find(uid);
    return found != entries_.end() && found->second.present;
}

std::string FolderIndex::BaseOf(Uid uid) {
    std::lock_guard guard(mutex_);
    auto found = entries_.find(uid);
    return found == entries_.end() ? std::string() : found->second.base;
}

FolderIndex::Uid FolderIndex::UidOf(const std::string& base) {
    std::lock_guard guard(mutex_);
    auto found = byBase_.find(base);
    if (found == byBase_.end())
        return 0;
    auto entry = entries_.find(found->second);
    if (entry == entries_.end() || !entry->second.present)
        return 0;
    return found->second;
}

FolderIndex::Uid FolderIndex::LastAssigned() {
    std::lock_guard guard(mutex_);
    return next_ - 1;
}

int FolderIndex::Open(Uid uid) {
    std::lock_guard guard(mutex_);
    for (int look = 0;; ++look) {
        auto found = entries_.find(uid);
        if (found != entries_.end() && found->second.present) {
            int fd = ::open((dir_ + "/" + found->second.relative).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 || errno != ENOENT)
                return fd;
        }
        // Not known yet (given by another process), or renamed since the last
        // look (read, flagged): look again, once.
        if (look == 1 || !syncLocked()) {
            errno = ENOENT;
            return -1;
        }
    }
}

bool FolderIndex::Locate(Uid uid, std::string* relative, std::uint64_t* size) {
    std::lock_guard guard(mutex_);
    for (int look = 0;; ++look) {
        auto found = entries_.find(uid);
        struct stat info {};
        if (found != entries_.end() && found->second.present &&
            ::stat((dir_ + "/" + found->second.relative).c_str(), &info) == 0) {
            if (relative)
                *relative = found->second.relative;
            if (size)
                *size = static_cast<std::uint64_t>(info.st_size);
            return true;
        }
        // As in Open: look again, once.
        if (look == 1 || !syncLocked())
            return false;
    }
}

bool FolderIndex::Forget(Uid uid) {
    std::lock_guard guard(mutex_);
    FileLock lock(lockPath_);
    if (!lock.locked() || !loadListLocked())
        return false;
    auto found = entries_.find(uid);
    if (found == entries_.end())
        return true;
    if (!appendLocked("-" + std::to_string(uid) + "\n", next_))
        return false;
    byBase_.erase(found->second.base);
    entries_.erase(found);
    return true;
}

bool FolderIndex::syncLocked() {
    FileLock lock(lockPath_);
    if (!lock.locked() || !loadListLocked())
        return false;
    std::vector<maildir::MessageFile> files;
    if (!maildir::ScanMessages(dir_, files))
        return false;
    for (auto& [uid, entry] : entries_)
        entry.present = false;
    std::vector<Arrival> arrivals;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto known = byBase_.find(files[i].base);
        if (known != byBase_.end()) {
            Entry& entry = entries_[known->second];
            entry.present = true;
            entry.relative = std::move(files[i].relative);
            continue;
        }
        // A rename sets the change time, so it orders messages by the time
        // they came into this folder, however old the file is.
        struct stat info {};
        if (::stat((dir_ + "/" + files[i].relative).c_str(), &info) != 0)
            continue; // gone again already
        arrivals.push_back(
            {static_cast<std::int64_t>(info.st_ctim.tv_sec), info.st_ctim.tv_nsec, i});
    }
    std::string lines = departuresLocked();
    std::sort(arrivals.begin(), arrivals.end(), [&](const Arrival& a, const Arrival& b) {
        if (a.seconds != b.seconds)
            return a.seconds < b.seconds;
        if (a.nanos != b.nanos)
            return a.nanos < b.nanos;
        return files[a.file].base < files[b.file].base;
    });
    std::vector<Uid> added;
    Uid nextBefore = next_;
    for (const Arrival& arrival : arrivals) {
        if (next_ > kLastUid)
            break; // out of ids: these messages stay without one
        Uid uid = next_++;
        auto& file = files[arrival.file];
        lines += std::to_string(uid) + " " + file.base + "\n";
        byBase_[file.base] = uid;
        entries_[uid] = Entry{file.base, std::move(file.relative), true};
        added.push_back(uid);
    }
    if (lines.empty() || appendLocked(lines, nextBefore)) {
        compactLocked();
        return true;
    }
    for (Uid uid : added) {
        byBase_.erase(entries_[uid].base);
        entries_.erase(uid);
    }
    next_ = nextBefore;
    return false;
}

// Messages that left the folder without going through this index (a mail
// client moved or deleted them) lose their ids here, so that a message coming
// back later (the same file name: mail clients keep it when they move) is a
// new arrival with a new id, as a move into the folder is. A directory read
// that races with a rename can miss a file, so a message is only taken as
// gone when a second look does not find it either.
std::string FolderIndex::departuresLocked() {
    std::vector<Uid> missing;
    for (const auto& [uid, entry] : entries_)
        if (!entry.present)
            missing.push_back(uid);
    if (missing.empty())
        return {};
    std::vector<maildir::MessageFile> files;
    if (!maildir::ScanMessages(dir_, files))
        return {};
    for (auto& file : files) {
        auto known = byBase_.find(file.base);
        if (known == byBase_.end())
            continue;
        Entry& entry = entries_[known->second];
        if (!entry.present) {
            entry.present = true;
            entry.relative = std::move(file.relative);
        }
    }
    std::string lines;
    for (Uid uid : missing) {
        auto found = entries_.find(uid);
        if (found->second.present)
            continue;
        lines += "-" + std::to_string(uid) + "\n";
        byBase_.erase(found->second.base);
        entries_.erase(found);
    }
    return lines;
}

bool FolderIndex::loadListLocked() {
    struct stat info {};
    if (::stat(listPath_.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return false;
        // No list (yet, or removed by someone): ids start afresh for the
        // files, but never below what this process already gave.
        if (inode_ != 0) {
            entries_.clear();
            byBase_.clear();
        }
        inode_ = 0;
        readUpTo_ = 0;
        lines_ = 0;
        cutOff_ = false;
        return true;
    }
    bool whole = info.st_ino != inode_ || info.st_size < readUpTo_;
    off_t from = whole ? 0 : readUpTo_;
    if (!whole && info.st_size == readUpTo_)
        return true;
    std::string text;
    if (!readRange(listPath_, from, info.st_size, text))
        return false;
    if (whole) {
        entries_.clear();
        byBase_.clear();
        lines_ = 0;
    }
    std::size_t used = text.rfind('\n');
    used = used == std::string::npos ? 0 : used + 1;
    parseLocked(std::string_view(text).substr(0, used), whole);
    readUpTo_ = from + static_cast<off_t>(used);
    inode_ = info.st_ino;
    cutOff_ = used < text.size();
    return true;
}

void FolderIndex::parseLocked(std::string_view text, bool wholeFile) {
    bool first = wholeFile;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (first && line.starts_with(kHeader)) {
            std::uint64_t next = 0;
            if (parseNumber(line.substr(kHeader.size()), next) && next > next_)
                next_ =
                    static_cast<Uid>(std::min<std::uint64_t>(next, std::uint64_t(kLastUid) + 1));
            first = false;
            continue;
        }
        first = false;
        Uid uid = 0;
        if (line.starts_with('-')) {
            if (parseUid(line.substr(1), uid)) {
                ++lines_;
                if (auto found = entries_.find(uid); found != entries_.end()) {
                    byBase_.erase(found->second.base);
                    entries_.erase(found);
                }
            }
            continue;
        }
        std::size_t space = line.find(' ');
        if (space == line.npos || space + 1 == line.size() || !parseUid(line.substr(0, space), uid))
            continue; // not a record (a line a crash cut off and the next writer ended)
        std::string base(line.substr(space + 1));
        ++lines_;
        // The later record wins (a line a crash cut off may name an id that
        // was then given to another message).
        if (auto old = byBase_.find(base); old != byBase_.end() && old->second != uid)
            entries_.erase(old->second);
        if (auto old = entries_.find(uid); old != entries_.end() && old->second.base != base)
            byBase_.erase(old->second.base);
        byBase_[base] = uid;
        entries_[uid] = Entry{std::move(base), std::string(), false};
        if (uid >= next_)
            next_ = uid + 1;
    }
}

bool FolderIndex::appendLocked(const std::string& lines, Uid headerNext) {
    int fd = ::open(listPath_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return false;
    }
    std::string text;
    if (info.st_size == 0) {
        // The header keeps the first id this file may give, so a list made
        // anew never gives an id this process gave before.
        text = std::string(kHeader) + std::to_string(headerNext) + "\n";
    } else if (cutOff_ || info.st_size > readUpTo_) {
        text = "\n"; // end the line a crash cut off
    }
    text += lines;
    bool ok = WriteAll(fd, text) && ::fstat(fd, &info) == 0;
    ::close(fd);
    if (!ok)
        return false;
    for (char c : lines)
        lines_ += c == '\n';
    readUpTo_ = info.st_size;
    inode_ = info.st_ino;
    cutOff_ = false;
    return true;
}

void FolderIndex::compactLocked() {
    std::size_t present = 0;
    for (const auto& [uid, entry] : entries_)
        present += entry.present;
    if (lines_ < kCompactAfter || lines_ < 2 * present + 2)
        return;
    // Look once more: a message missed by a directory read that raced with a
    // rename must not lose its id.
    std::vector<maildir::MessageFile> files;
    if (!maildir::ScanMessages(dir_, files))
        return;
    for (auto& file : files) {
        auto known = byBase_.find(file.base);
        if (known != byBase_.end()) {
            Entry& entry = entries_[known->second];
            entry.present = true;
            entry.relative = std::move(file.relative);
        }
    }
    std::string text = std::string(kHeader) + std::to_string(next_) + "\n";
    std::size_t kept = 0;
    for (const auto& [uid, entry] : entries_) {
        if (entry.present) {
            text += std::to_string(uid) + " " + entry.base + "\n";
            ++kept;
        }
    }
    if (!WriteFileAtomically(listPath_, text))
        return; // the old list stays; it is still right, only longer
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.present) {
            ++it;
            continue;
        }
        byBase_.erase(it->second.base);
        it = entries_.erase(it);
    }
    struct stat info {};
    if (::stat(listPath_.c_str(), &info) == 0) {
        inode_ = info.st_ino;
        readUpTo_ = info.st_size;
    }
    lines_ = kept;
    cutOff_ = false;
}

} // namespace platform
