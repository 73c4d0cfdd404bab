#pragma once
// The store's new-message notifications: one thread per store that watches
// the registered folders with inotify and posts WM_NEWMSGS (message id in
// wParam) to every window registered on a folder, once for every message that
// appears in it, whoever put it there.
//
// What counts as new is decided by the folder's id list, not by the events:
// an event only says "look at this folder again". The watcher remembers the
// highest id it has announced per folder; after a look, every present message
// with a higher id is new. So the ids posted are the ids getMessage reads
// (the watcher and the store objects share the folder's index), a message
// that a mail client renames from new/ to cur/ or flags (same base name, same
// id) is never announced again, and a message moved in by a rename from
// another folder or delivered by another program gets its new id and one
// announcement. Events: a rename into new/ or cur/ (IN_MOVED_TO) and the end
// of writing a file there (IN_CLOSE_WRITE) are looked at at once. A file that
// is only created (IN_CREATE) is either a delivery by link (looked at at once
// while it still has two names) or one being written in place, which waits
// for its IN_CLOSE_WRITE, at most kCreateGrace; it is not announced before.
// IN_Q_OVERFLOW (events were lost) makes it look at every folder.
#include "platform/store/storeapi.h"
#include "platform/store/uidlist.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class StoreWatcher {
public:
    // Delivers one notification; the default posts WM_NEWMSGS through the
    // window layer.
    using Poster = std::function<void(STOREHWND window, MESSAGEID id)>;
    static constexpr std::chrono::milliseconds kCreateGrace{500};

    explicit StoreWatcher(Poster poster = {});
    ~StoreWatcher(); // stops and joins the thread
    StoreWatcher(const StoreWatcher&) = delete;
    StoreWatcher& operator=(const StoreWatcher&) = delete;

    // Registers `window` for the folder on behalf of `owner` (a folder
    // object). Messages already in the folder are not announced. False when
    // the folder cannot be watched.
    bool Add(const void* owner, const std::shared_ptr<FolderIndex>& folder, STOREHWND window);
    // False when that registration does not exist.
    bool Remove(const void* owner, const std::string& dir, STOREHWND window);
    void RemoveOwner(const void* owner);

private:
    using Clock = std::chrono::steady_clock;
    struct Watched {
        std::shared_ptr<FolderIndex> index;
        int wdNew = -1;
        int wdCur = -1;
        std::vector<std::pair<const void*, STOREHWND>> registrations;
        FolderIndex::Uid announced = 0;
        std::map<std::string, Clock::time_point> writing; // base names created in place
        std::set<FolderIndex::Uid> held;                  // new, but still being written
        bool dirty = false;
    };
    struct Post {
        STOREHWND window;
        MESSAGEID id;
    };

    bool startLocked();
    void unwatchLocked(std::map<std::string, Watched>::iterator folder);
    void run();
    void readEventsLocked();
    void lookLocked(Watched& folder, std::vector<Post>& posts);
    int timeoutLocked();

    Poster poster_;
    std::mutex mutex_;
    std::map<std::string, Watched> folders_;
    std::map<int, std::string> byWatch_;
    int inotify_ = -1;
    int wake_ = -1;
    std::thread thread_;
};

} // namespace platform
