#include "platform/store/mailstore.h"

#include "platform/core/atomicfile.h"
#include "platform/store/maildir.h"
#include "platform/store/watcher.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* kFolderTable = "/tarnix-folders";
constexpr const char* kFolderLock = "/tarnix-folders.lock";
constexpr const char* kSpecialFile = "/tarnix-special-folders";
constexpr STOREFOLDERID kFirstFolderId = 2;

constexpr const char* kSpecialKeys[kSpecialFolderCount] = {"inbox", "outbox", "sent", "deleted",
                                                           "drafts"};
constexpr const char* kSpecialDefaults[kSpecialFolderCount] = {"Inbox", "Outbox", "Sent Items",
                                                               "Deleted Items", "Drafts"};

constexpr const char* kSpecialFileText =
    "# Which folder of this store is each special folder of the mail program:\n"
    "# the display name of a folder directly under the root (\"Inbox\" is the\n"
    "# root's own cur/new/tmp). For a store made by another mail client, name\n"
    "# its folders, for example:\n"
    "#   sent=Sent\n"
    "#   deleted=Trash\n"
    "#   drafts=Drafts\n";

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Mail clients do not always keep a folder's tmp/; cur/ and new/ make one.
bool isFolderDir(const std::string& dir) {
    return isDirectory(dir + "/cur") && isDirectory(dir + "/new");
}

// Whether the root has nothing in it yet.
bool isEmptyDirectory(const std::string& path) {
    DIR* handle = ::opendir(path.c_str());
    if (!handle)
        return false;
    bool empty = true;
    while (dirent* entry = ::readdir(handle)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(handle);
    return empty;
}

// The names of the top-level Maildir folders in the root (".Name").
std::vector<std::string> scanFolderNames(const std::string& root) {
    std::vector<std::string> names;
    DIR* handle = ::opendir(root.c_str());
    if (!handle)
        return names;
    while (dirent* entry = ::readdir(handle)) {
        std::string_view file = entry->d_name;
        if (file.size() < 2 || file[0] != '.')
            continue;
        std::string name(file.substr(1));
        if (!MailStore::IsValidFolderName(name))
            continue; // "..", nested folders, names the store cannot show
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
            continue;
        std::string dir = root + "/" + std::string(file);
        if (isFolderDir(dir))
            names.push_back(std::move(name));
    }
    ::closedir(handle);
    std::sort(names.begin(), names.end());
    return names;
}

bool appendText(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::string_view rest = text;
    bool ok = true;
    while (ok && !rest.empty()) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return ::close(fd) == 0 && ok;
}

} // namespace

const char* const MailStore::kInboxName = "Inbox";

std::string MailStore::DefaultRoot() {
    if (const char* maildir = std::getenv("MAILDIR"); maildir && *maildir)
        return maildir;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = ::getpwuid(::getuid());
        home = user && user->pw_dir ? user->pw_dir : "/";
    }
    return std::string(home) + "/Maildir";
}

MailStore::MailStore(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/')
        root_.pop_back();
}

MailStore::~MailStore() = default;

bool MailStore::IsValidFolderName(const std::string& name) {
    // ".Name" must fit the file system's 255 bytes of a file name.
    return !name.empty() && name.size() < NAME_MAX &&
           name.find_first_of("./\r\n") == std::string::npos && name != kInboxName;
}

bool MailStore::Open(std::string& error) {
    std::lock_guard guard(mutex_);
    if (root_.empty()) {
        error = "no mail store folder";
        return false;
    }
    struct stat info {};
    bool exists = ::stat(root_.c_str(), &info) == 0;
    if (exists && !S_ISDIR(info.st_mode)) {
        error = root_ + " is not a folder";
        return false;
    }
    if (!exists || isEmptyDirectory(root_)) {
        // First use: the store with its default folders, in their order.
        if (!MakeDirectories(root_) || !maildir::MakeMaildir(root_, false)) {
            error = "cannot make the mail store " + root_;
            return false;
        }
        std::string table;
        STOREFOLDERID id = kFirstFolderId;
        for (int kind = FOLDER_OUTBOX; kind < kSpecialFolderCount; ++kind) {
            if (!maildir::MakeMaildir(folderDir(kSpecialDefaults[kind]), true)) {
                error = "cannot make the folder " + std::string(kSpecialDefaults[kind]);
                return false;
            }
            table += std::to_string(id++) + " " + kSpecialDefaults[kind] + "\n";
        }
        FileLock lock(root_ + kFolderLock);
        if (!lock.locked() || !appendText(root_ + kFolderTable, table)) {
            error = "cannot write " + root_ + kFolderTable;
            return false;
        }
    }
    if (!readSpecialsLocked()) {
        error = "cannot read " + root_ + kSpecialFile;
        return false;
    }
    return true;
}

bool MailStore::readSpecialsLocked() {
    for (int kind = 0; kind < kSpecialFolderCount; ++kind)
        specials_[kind] = kSpecialDefaults[kind];
    std::string path = root_ + kSpecialFile;
    std::string text;
    if (!ReadWholeFile(path, text)) {
        if (FileExists(path))
            return false;
        std::string defaults = kSpecialFileText;
        for (int kind = 0; kind < kSpecialFolderCount; ++kind)
            defaults += std::string(kSpecialKeys[kind]) + "=" + kSpecialDefaults[kind] + "\n";
        // A store that cannot take the file still works with the defaults.
        WriteFileAtomically(path, defaults);
        return true;
    }
    std::string_view rest = text;
    while (!rest.empty()) {
        std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == line.npos || equals + 1 == line.size())
            continue;
        for (int kind = 0; kind < kSpecialFolderCount; ++kind)
            if (line.substr(0, equals) == kSpecialKeys[kind])
                specials_[kind] = std::string(line.substr(equals + 1));
    }
    return true;
}

std::string MailStore::folderDir(const std::string& name) const {
    return name == kInboxName ? root_ : root_ + "/." + name;
}

bool MailStore::readFolderTable(std::vector<Known>& known, STOREFOLDERID& next) {
    known.clear();
    next = kFirstFolderId;
    std::string text;
    if (!ReadWholeFile(root_ + kFolderTable, text))
        return !FileExists(root_ + kFolderTable);
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        if (end == rest.npos)
            break; // a line a crash cut off
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        std::size_t space = line.find(' ');
        std::uint32_t id = 0;
        if (space == line.npos ||
            std::from_chars(line.data(), line.data() + space, id).ptr != line.data() + space ||
            id < kFirstFolderId)
            continue;
        std::string name(line.substr(space + 1));
        if (std::none_of(known.begin(), known.end(),
                         [&](const Known& k) { return k.name == name; }))
            known.push_back({id, std::move(name)});
        if (id >= next)
            next = id + 1;
    }
    return true;
}

std::vector<MailStore::Folder> MailStore::listLocked() {
    std::vector<Folder> folders;
    if (maildir::IsMaildir(root_))
        folders.push_back({kInboxId, kInboxName, root_});
    std::vector<std::string> names = scanFolderNames(root_);
    FileLock lock(root_ + kFolderLock);
    std::vector<Known> known;
    STOREFOLDERID next = kFirstFolderId;
    readFolderTable(known, next);
    std::string added;
    std::vector<Folder> found;
    for (auto& name : names) {
        auto k = std::find_if(known.begin(), known.end(),
                              [&](const Known& e) { return e.name == name; });
        if (k != known.end()) {
            found.push_back({k->id, name, folderDir(name)});
        } else if (next != 0 && lock.locked()) {
            // A folder made by someone else: it gets the next id.
            added += std::to_string(next) + " " + name + "\n";
            found.push_back({next++, name, folderDir(name)});
        }
    }
    if (!added.empty() && !appendText(root_ + kFolderTable, added))
        std::erase_if(found, [&](const Folder& f) {
            return std::none_of(known.begin(), known.end(),
                                [&](const Known& k) { return k.id == f.id; });
        });
    std::sort(found.begin(), found.end(),
              [](const Folder& a, const Folder& b) { return a.id < b.id; });
    folders.insert(folders.end(), found.begin(), found.end());
    return folders;
}

std::vector<MailStore::Folder> MailStore::TopLevelFolders() {
    std::lock_guard guard(mutex_);
    return listLocked();
}

bool MailStore::FolderById(STOREFOLDERID id, Folder& folder) {
    std::lock_guard guard(mutex_);
    if (id == kInboxId) {
        folder = {kInboxId, kInboxName, root_};
        return maildir::IsMaildir(root_);
    }
    std::vector<Known> known;
    STOREFOLDERID next = 0;
    readFolderTable(known, next);
    for (const Known& k : known) {
        if (k.id == id) {
            folder = {id, k.name, folderDir(k.name)};
            return isFolderDir(folder.dir);
        }
    }
    return false;
}

int MailStore::SpecialKindOf(const std::string& name) {
    std::lock_guard guard(mutex_);
    for (int kind = 0; kind < kSpecialFolderCount; ++kind)
        if (specials_[kind] == name)
            return kind;
    return -1;
}

HRESULT MailStore::CreateFolder(const std::string& name, Folder& folder) {
    std::lock_guard guard(mutex_);
    if (!IsValidFolderName(name))
        return E_INVALIDARG;
    std::string dir = folderDir(name);
    if (isFolderDir(dir))
        return E_FAIL; // it exists
    if (!maildir::MakeMaildir(dir, true))
        return E_ACCESSDENIED;
    for (const Folder& f : listLocked()) {
        if (f.name == name && f.id != kInboxId) {
            folder = f;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT MailStore::SpecialFolder(int kind, Folder& folder) {
    if (kind < 0 || kind >= kSpecialFolderCount)
        return E_INVALIDARG;
    std::string name;
    {
        std::lock_guard guard(mutex_);
        name = specials_[kind];
        if (name == kInboxName) {
            if (!maildir::MakeMaildir(root_, false))
                return E_ACCESSDENIED;
            folder = {kInboxId, kInboxName, root_};
            return S_OK;
        }
        for (const Folder& f : listLocked()) {
            if (f.name == name && f.id != kInboxId) {
                folder = f;
                return S_OK;
            }
        }
    }
    return CreateFolder(name, folder);
}

StoreWatcher& MailStore::watcher() {
    std::lock_guard guard(mutex_);
    if (!watcher_)
        watcher_ = std::make_unique<StoreWatcher>();
    return *watcher_;
}

StoreWatcher* MailStore::watcherIfStarted() {
    std::lock_guard guard(mutex_);
    return watcher_.get();
}

} // namespace platform
