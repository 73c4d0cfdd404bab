#include "platform/store/watcher.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// Posts WM_NEWMSGS through the window layer (notify.cpp).
void PostNewMessage(STOREHWND window, MESSAGEID id);

namespace {

// Departures too: the folder's index learns at once that a message left, so
// that it is a new arrival should it come back.
constexpr std::uint32_t kMask =
    IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;

} // namespace

StoreWatcher::StoreWatcher(Poster poster)
    : poster_(poster ? std::move(poster) : Poster(PostNewMessage)) {}

StoreWatcher::~StoreWatcher() {
    if (thread_.joinable()) {
        std::uint64_t one = 1;
        while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    if (inotify_ >= 0)
        ::close(inotify_);
    if (wake_ >= 0)
        ::close(wake_);
}

bool StoreWatcher::startLocked() {
    if (thread_.joinable())
        return true;
    if (inotify_ < 0)
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (wake_ < 0)
        wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotify_ < 0 || wake_ < 0)
        return false;
    try {
        thread_ = std::thread(&StoreWatcher::run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool StoreWatcher::Add(const void* owner, const std::shared_ptr<FolderIndex>& folder,
                       STOREHWND window) {
    std::lock_guard guard(mutex_);
    if (!startLocked())
        return false;
    const std::string& dir = folder->dir();
    auto found = folders_.find(dir);
    if (found == folders_.end()) {
        Watched watched;
        watched.index = folder;
        watched.wdNew = ::inotify_add_watch(inotify_, (dir + "/new").c_str(), kMask);
        watched.wdCur = ::inotify_add_watch(inotify_, (dir + "/cur").c_str(), kMask);
        if (watched.wdNew < 0 || watched.wdCur < 0 || !folder->Sync()) {
            if (watched.wdNew >= 0)
                ::inotify_rm_watch(inotify_, watched.wdNew);
            if (watched.wdCur >= 0)
                ::inotify_rm_watch(inotify_, watched.wdCur);
            return false;
        }
        // What is there now is not new to the window.
        watched.announced = folder->LastAssigned();
        byWatch_[watched.wdNew] = dir;
        byWatch_[watched.wdCur] = dir;
        found = folders_.emplace(dir, std::move(watched)).first;
    }
    auto& registrations = found->second.registrations;
    std::pair<const void*, STOREHWND> entry{owner, window};
    if (std::find(registrations.begin(), registrations.end(), entry) == registrations.end())
        registrations.push_back(entry);
    return true;
}

bool StoreWatcher::Remove(const void* owner, const std::string& dir, STOREHWND window) {
    std::lock_guard guard(mutex_);
    auto found = folders_.find(dir);
    if (found == folders_.end())
        return false;
    auto& registrations = found->second.registrations;
    auto entry = std::find(registrations.begin(), registrations.end(),
                           std::pair<const void*, STOREHWND>{owner, window});
    if (entry == registrations.end())
        return false;
    registrations.erase(entry);
    if (registrations.empty())
        unwatchLocked(found);
    return true;
}

void StoreWatcher::RemoveOwner(const void* owner) {
    std::lock_guard guard(mutex_);
    for (auto it = folders_.begin(); it != folders_.end();) {
        auto& registrations = it->second.registrations;
        std::erase_if(registrations, [owner](const auto& entry) { return entry.first == owner; });
        if (registrations.empty()) {
            auto gone = it++;
            unwatchLocked(gone);
        } else {
            ++it;
        }
    }
}

void StoreWatcher::unwatchLocked(std::map<std::string, Watched>::iterator folder) {
    for (int wd : {folder->second.wdNew, folder->second.wdCur}) {
        if (wd >= 0) {
            ::inotify_rm_watch(inotify_, wd);
            byWatch_.erase(wd);
        }
    }
    folders_.erase(folder);
}

void StoreWatcher::run() {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    for (;;) {
        int timeout;
        {
            std::lock_guard guard(mutex_);
            timeout = timeoutLocked();
        }
        int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0 && (fds[1].revents & POLLIN))
            return; // the store is going away
        std::vector<Post> posts;
        {
            std::lock_guard guard(mutex_);
            if (ready > 0 && (fds[0].revents & POLLIN))
                readEventsLocked();
            auto now = Clock::now();
            for (auto& [dir, folder] : folders_) {
                folder.dirty |= std::erase_if(folder.writing, [now](const auto& entry) {
                                    return entry.second <= now;
                                }) > 0;
                if (folder.dirty) {
                    folder.dirty = false;
                    lookLocked(folder, posts);
                }
            }
        }
        for (const Post& post : posts)
            poster_(post.window, post.id);
    }
}

void StoreWatcher::readEventsLocked() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                for (auto& [dir, folder] : folders_)
                    folder.dirty = true;
                continue;
            }
            auto dir = byWatch_.find(event->wd);
            if (dir == byWatch_.end())
                continue;
            if (event->mask & IN_IGNORED) { // the directory went away
                byWatch_.erase(dir);
                continue;
            }
            auto folder = folders_.find(dir->second);
            if (folder == folders_.end() || event->len == 0 || (event->mask & IN_ISDIR))
                continue;
            std::string name = event->name;
            if (name.empty() || name[0] == '.')
                continue;
            Watched& watched = folder->second;
            std::string base = maildir::BaseName(name);
            if (event->mask & IN_CREATE) {
                const char* sub = event->wd == watched.wdNew ? "/new/" : "/cur/";
                struct stat info {};
                bool linked = ::stat((dir->second + sub + name).c_str(), &info) == 0 &&
                              S_ISREG(info.st_mode) && info.st_nlink > 1;
                if (linked)
                    watched.dirty = true;
                else
                    watched.writing[base] = Clock::now() + kCreateGrace;
            }
            if (event->mask & IN_CLOSE_WRITE) {
                watched.writing.erase(base);
                watched.dirty = true;
            }
            if (event->mask & (IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE))
                watched.dirty = true;
        }
    }
}

void StoreWatcher::lookLocked(Watched& folder, std::vector<Post>& posts) {
    if (!folder.index->Sync())
        return;
    FolderIndex::Uid lastAssigned = 0;
    std::vector<FolderIndex::Uid> fresh =
        folder.index->PresentAfter(folder.announced, lastAssigned);
    for (FolderIndex::Uid uid : folder.held)
        if (folder.index->IsPresent(uid))
            fresh.push_back(uid);
    std::sort(fresh.begin(), fresh.end());
    fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
    folder.held.clear();
    std::vector<STOREHWND> windows;
    for (const auto& [owner, window] : folder.registrations)
        if (std::find(windows.begin(), windows.end(), window) == windows.end())
            windows.push_back(window);
    for (FolderIndex::Uid uid : fresh) {
        if (folder.writing.count(folder.index->BaseOf(uid))) {
            folder.held.insert(uid);
            continue;
        }
        for (STOREHWND window : windows)
            posts.push_back({window, uid});
    }
    // Only up to what this look saw: ids given since (by a walk on another
    // thread, say) are announced by the next look.
    folder.announced = std::max(folder.announced, lastAssigned);
}

int StoreWatcher::timeoutLocked() {
    auto earliest = Clock::time_point::max();
    for (const auto& [dir, folder] : folders_)
        for (const auto& [base, deadline] : folder.writing)
            earliest = std::min(earliest, deadline);
    if (earliest == Clock::time_point::max())
        return -1;
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX));
}

} // namespace platform
