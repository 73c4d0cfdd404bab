#pragma once
// The Maildir++ store as a set of folders with stable ids.
//
// Layout. The root ($MAILDIR, else ~/Maildir) is itself a Maildir: its own
// cur/, new/ and tmp/ are the Inbox. A folder `Name` directly under the root
// is the Maildir ".Name"; a name with a dot inside (".Name.Sub") is a folder
// nested below another one and is never listed. On first use (no root, or an
// empty one) the store is made with the Inbox, Outbox, Sent Items, Deleted
// Items and Drafts. A root made by another mail client is used as it is.
//
// Folder ids. The store's root is 0 and the Inbox 1. Every other folder gets
// the next id the first time the store sees it, kept in "tarnix-folders" in
// the root (lines "ID NAME", appended under the lock "tarnix-folders.lock");
// an id is never given to another name. Folders are listed Inbox first, then
// by id, which is the order in which the store first saw them.
//
// Special folders. Which folder is the inbox, outbox, sent items, deleted
// items and drafts folder is read from "tarnix-special-folders" in the root,
// lines "inbox=NAME", "outbox=NAME", "sent=NAME", "deleted=NAME" and
// "drafts=NAME", NAME being the display name of a folder directly under the
// root ("Inbox" is the root's own). The file is written with the defaults
// (Inbox, Outbox, Sent Items, Deleted Items, Drafts) when missing; for a
// store made by another mail client, edit it, e.g. "sent=Sent",
// "deleted=Trash", "drafts=Drafts". A special folder that does not exist is
// made when it is first opened.
//
// New folder names. createFolder makes a folder directly under the root. A
// name that is empty, longer than 254 bytes (".Name" has to fit a file
// name of the file system), holds a "." (which would nest
// it), a "/" (which would leave the root) or a line break, or is "Inbox"
// (the root's own name), is refused.
#include "platform/store/com.h"
#include "platform/store/storeapi.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class StoreWatcher;

class MailStore {
public:
    struct Folder {
        STOREFOLDERID id = 0;
        std::string name; // display name
        std::string dir;  // its Maildir
    };

    static constexpr STOREFOLDERID kInboxId = 1;
    static const char* const kInboxName;

    // $MAILDIR, else ~/Maildir.
    static std::string DefaultRoot();

    explicit MailStore(std::string root);
    ~MailStore();
    MailStore(const MailStore&) = delete;
    MailStore& operator=(const MailStore&) = delete;

    const std::string& root() const { return root_; }

    // Opens the store, making it on first use; false (and why) when the root
    // cannot be used.
    bool Open(std::string& error);

    // The folders directly under the root, in the store's order.
    std::vector<Folder> TopLevelFolders();
    bool FolderById(STOREFOLDERID id, Folder& folder);
    // The special folder kind of a folder, -1 when it is none.
    int SpecialKindOf(const std::string& name);

    HRESULT CreateFolder(const std::string& name, Folder& folder);
    // The special folder, made when missing.
    HRESULT SpecialFolder(int kind, Folder& folder);

    // The store's watcher, started on first use; null when never used.
    StoreWatcher& watcher();
    StoreWatcher* watcherIfStarted();

    // Whether createFolder accepts the name (see above).
    static bool IsValidFolderName(const std::string& name);

private:
    struct Known {
        STOREFOLDERID id;
        std::string name;
    };

    bool readSpecialsLocked();
    bool readFolderTable(std::vector<Known>& known, STOREFOLDERID& next);
    std::vector<Folder> listLocked();
    std::string folderDir(const std::string& name) const;

    std::string root_;
    std::mutex mutex_;
    std::string specials_[kSpecialFolderCount];
    std::unique_ptr<StoreWatcher> watcher_;
};

} // namespace platform
