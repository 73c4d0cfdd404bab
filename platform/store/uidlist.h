#pragma once
// The message ids of one Maildir folder.
//
// Why a file: a message id must stay the same while a mail client moves the
// message from new/ to cur/ or changes its flags (both rename the file), and
// every process that uses the store (the program, its store watcher, the
// front end, a mail client's helper) must give the same message the same id.
// So ids are kept in the folder's "tarnix-uidlist", keyed by the unique base
// name of the file:
//
//     tarnix-uidlist 1 NEXT        header: the next id to give
//     UID BASENAME                 the message BASENAME has the id UID
//     -UID                         the message UID left the folder
//
// Ids are given in arrival order (the time the file came into the folder),
// counting up from 1; they are never given twice, so 0 and 0xFFFFFFFF are
// never used (a folder that ran out answers a failure for new messages).
// The file only grows by whole lines appended under an exclusive lock
// ("tarnix-uidlist.lock", flock), which makes extending it cheap; another
// process reads only what was appended since it last looked. When most of
// its lines are about messages no longer there, it is rewritten (temporary
// file, rename) with the header keeping NEXT; readers see the new file by its
// inode and read it whole. A line cut off by a crash is never read, and the
// next writer ends it first, so it cannot join the next line.
//
// A message that is no longer in the folder but was not removed through this
// index (a mail client deleted or moved it) gets its "-UID" line at the next
// look that misses it twice (a directory read that races with a rename can
// miss a file once): coming back later, it is a new arrival with a new id.
//
// The index is shared by everything in the process that uses the folder (the
// store objects and the watcher thread): Of() gives one object per folder.
#include "platform/store/maildir.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace platform {

class FolderIndex {
public:
    using Uid = std::uint32_t;
    static constexpr Uid kLastUid = 0xFFFFFFFEu;

    // The process's index of the Maildir folder `dir`.
    static std::shared_ptr<FolderIndex> Of(const std::string& dir);

    explicit FolderIndex(std::string dir);
    const std::string& dir() const { return dir_; }

    // Reads what other processes added to the list, looks at the folder's
    // files, and gives ids to the new ones. False when the folder cannot be
    // read or the list cannot be written; the index keeps what it knew.
    bool Sync();

    // Present messages, by id (as of the last Sync or change through here).
    std::vector<Uid> PresentUids();
    std::vector<Uid> PresentAfter(Uid watermark);
    // The same, and the highest id given at that moment (ids are given by
    // other threads too: the two must come from one look).
    std::vector<Uid> PresentAfter(Uid watermark, Uid& lastAssigned);
    std::size_t PresentCount();
    bool IsPresent(Uid uid);
    std::string BaseOf(Uid uid);
    // The id of a present message by base name, 0 when none.
    Uid UidOf(const std::string& base);
    // The highest id given so far.
    Uid LastAssigned();

    // Opens a present message for reading, following a rename by a mail
    // client (new/ to cur/, new flags) with one fresh look at the folder.
    // Answers the descriptor, or -1 with errno (ENOENT: not there).
    int Open(Uid uid);
    // Like Open without opening: whether the message is still there, with
    // its current path relative to the folder and its size (either may be
    // null).
    bool Locate(Uid uid, std::string* relative, std::uint64_t* size);

    // Records that the message left the folder through this store.
    bool Forget(Uid uid);

private:
    struct Entry {
        std::string base;
        std::string relative;
        bool present = false;
    };

    bool syncLocked();
    std::string departuresLocked();
    bool loadListLocked();
    void parseLocked(std::string_view text, bool wholeFile);
    bool appendLocked(const std::string& lines, Uid headerNext);
    void compactLocked();

    std::string dir_;
    std::string listPath_;
    std::string lockPath_;
    std::mutex mutex_;
    std::map<Uid, Entry> entries_;
    std::unordered_map<std::string, Uid> byBase_;
    Uid next_ = 1;
    std::size_t lines_ = 0; // records in the file (for deciding a rewrite)
    off_t readUpTo_ = 0;    // bytes of the file already read
    ino_t inode_ = 0;       // which file that was
    bool cutOff_ = false;   // the file ends in a line a crash cut off
};

} // namespace platform
