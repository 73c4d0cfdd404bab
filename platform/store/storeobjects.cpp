// The store namespace and folder objects over the Maildir store.
//
// Walks. GetFirstMessage takes the ids of the folder's messages as they are
// at that moment, in id order; GetNextMessage gives them one by one, skipping
// any that left the folder meanwhile. Messages that arrive during a walk are
// not in it (the next walk has them): nothing is lost and nothing seen twice.
//
// No exception leaves these objects: every operation answers a result code.
#include "platform/store/maildir.h"
#include "platform/store/mailstore.h"
#include "platform/store/storeapi.h"
#include "platform/store/stream.h"
#include "platform/store/uidlist.h"
#include "platform/store/watcher.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <unistd.h>

namespace platform {
namespace {

template <typename F>
HRESULT guarded(F&& operation) {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

bool validList(const MESSAGEIDLIST* list) {
    return list && list->cbSize == kMessageIdListSize && (list->cMsgs == 0 || list->prgdwMsgId);
}

void fillFolderProps(MailStore& store, const MailStore::Folder& folder, ULONG total, ULONG unread,
                     FOLDERPROPS& props) {
    props.dwFolderId = folder.id;
    props.cSubFolders = 0;
    props.sfType = store.SpecialKindOf(folder.name);
    props.cUnread = unread;
    props.cMessage = total;
    std::size_t n = std::min(folder.name.size(), kFolderNameMax);
    std::memcpy(props.szName, folder.name.data(), n);
    props.szName[n] = '\0';
}

// Properties from a quick count of the folder's files (folder lists).
bool fillCounted(MailStore& store, const MailStore::Folder& folder, FOLDERPROPS& props) {
    std::uint32_t total = 0, unread = 0;
    if (!maildir::CountMessages(folder.dir, total, unread))
        return false;
    fillFolderProps(store, folder, total, unread, props);
    return true;
}

// A handle counter that skips 0 (no enumeration).
HENUMSTORE nextHandle(HENUMSTORE& counter) {
    if (++counter == 0)
        ++counter;
    return counter;
}

class MaildirFolder final : public RefCounted<IStoreFolder> {
public:
    MaildirFolder(std::shared_ptr<MailStore> store, MailStore::Folder folder)
        : store_(std::move(store)), folder_(std::move(folder)),
          index_(FolderIndex::Of(folder_.dir)) {}

    ~MaildirFolder() override {
        if (StoreWatcher* watcher = store_->watcherIfStarted())
            watcher->RemoveOwner(this);
    }

    const std::string& dir() const { return folder_.dir; }
    FolderIndex& index() { return *index_; }

    HRESULT GetFolderProperties(DWORD, FOLDERPROPS* props) override {
        return guarded([&] {
            if (!props || props->cbSize != kFolderPropsSize)
                return E_INVALIDARG;
            if (!index_->Sync())
                return E_FAIL; // the folder is gone or unreadable
            std::uint32_t total = 0, unread = 0;
            maildir::CountMessages(folder_.dir, total, unread);
            fillFolderProps(*store_, folder_, static_cast<ULONG>(index_->PresentCount()), unread,
                            *props);
            return S_OK;
        });
    }

    HRESULT GetMessageProperties(MESSAGEID id, DWORD, MESSAGEPROPS* props) override {
        return guarded([&] {
            if (!props || props->cbSize != kMessagePropsSize)
                return E_INVALIDARG;
            // An id this process has not seen yet may be one another process
            // gave a moment ago: Locate looks at the folder again.
            std::uint64_t size = 0;
            if (!index_->Locate(id, nullptr, &size))
                return S_FALSE;
            props->dwMessageId = id;
            props->cbMessage = size;
            return S_OK;
        });
    }

    HRESULT FreeMessageProperties(MESSAGEPROPS* props) override {
        if (!props)
            return E_POINTER;
        props->dwMessageId = 0;
        props->cbMessage = 0;
        return S_OK;
    }

    HRESULT DeleteMessages(MESSAGEIDLIST* list, DWORD, IProgressNotify*) override {
        return guarded([&] {
            if (!validList(list))
                return E_INVALIDARG;
            for (ULONG i = 0; i < list->cMsgs; ++i) {
                MESSAGEID id = list->prgdwMsgId[i];
                bool gone = false;
                for (int attempt = 0; attempt < 3 && !gone; ++attempt) {
                    std::string relative;
                    if (!index_->Locate(id, &relative, nullptr))
                        return E_FAIL; // no such message
                    gone = ::unlink((folder_.dir + "/" + relative).c_str()) == 0;
                    if (!gone && errno != ENOENT)
                        return E_ACCESSDENIED;
                }
                if (!gone)
                    return E_FAIL;
                index_->Forget(id);
            }
            return S_OK;
        });
    }

    HRESULT OpenMessage(MESSAGEID id, REFIID iid, void** object) override {
        return guarded([&] {
            if (!object)
                return E_POINTER;
            *object = nullptr;
            if (!(iid == IID_IStream))
                return E_NOINTERFACE;
            int fd = index_->Open(id);
            if (fd < 0)
                return E_FAIL;
            *object = static_cast<IStream*>(CreateFileStream(fd));
            return S_OK;
        });
    }

    HRESULT SaveMessage(REFIID iid, void* object, DWORD, MESSAGEID* newId) override {
        // Messages arrive unread in new/: the store keeps no message flags of
        // its own, so the flags are not used.
        return guarded([&] {
            if (!(iid == IID_IStream))
                return E_NOINTERFACE;
            if (!object || !newId)
                return E_POINTER;
            std::string text;
            HRESULT read = ReadStreamToEnd(static_cast<IStream*>(object), text);
            if (Failed(read))
                return read;
            MESSAGEID id = 0;
            HRESULT saved = Deliver(text, id);
            if (Succeeded(saved))
                *newId = id;
            return saved;
        });
    }

    // Delivers a message and answers its new id.
    HRESULT Deliver(std::string_view text, MESSAGEID& id) {
        std::string base;
        if (maildir::Deliver(folder_.dir, text, base) != 0)
            return E_FAIL;
        if (!index_->Sync())
            return E_FAIL;
        id = index_->UidOf(base);
        return id == 0 ? E_FAIL : S_OK; // 0: the folder has run out of ids
    }

    HRESULT RegisterNotification(DWORD, STOREHWND window) override {
        return guarded([&] {
            if (window == 0)
                return E_INVALIDARG;
            return store_->watcher().Add(this, index_, window) ? S_OK : E_FAIL;
        });
    }

    HRESULT UnregisterNotification(DWORD, STOREHWND window) override {
        return guarded([&] {
            StoreWatcher* watcher = store_->watcherIfStarted();
            return watcher && watcher->Remove(this, folder_.dir, window) ? S_OK : E_FAIL;
        });
    }

    HRESULT GetFirstMessage(DWORD, DWORD, MESSAGEID first, MESSAGEPROPS* props,
                            HENUMSTORE* enumeration) override {
        return guarded([&] {
            if (!enumeration)
                return E_POINTER;
            *enumeration = 0;
            if (!props || props->cbSize != kMessagePropsSize)
                return E_INVALIDARG;
            if (!index_->Sync())
                return E_FAIL;
            Walk walk;
            walk.uids = index_->PresentUids();
            if (first != MESSAGEID_FIRST)
                std::erase_if(walk.uids, [first](MESSAGEID id) { return id < first; });
            HRESULT result = advance(walk, *props);
            if (result != S_OK)
                return result;
            std::lock_guard guard(mutex_);
            HENUMSTORE handle = nextHandle(lastWalk_);
            walks_.emplace(handle, std::move(walk));
            *enumeration = handle;
            return S_OK;
        });
    }

    HRESULT GetNextMessage(HENUMSTORE enumeration, DWORD, MESSAGEPROPS* props) override {
        return guarded([&] {
            if (!props || props->cbSize != kMessagePropsSize)
                return E_INVALIDARG;
            std::lock_guard guard(mutex_);
            auto walk = walks_.find(enumeration);
            if (walk == walks_.end())
                return E_INVALIDARG;
            return advance(walk->second, *props);
        });
    }

    HRESULT GetMessageClose(HENUMSTORE enumeration) override {
        std::lock_guard guard(mutex_);
        return walks_.erase(enumeration) ? S_OK : E_INVALIDARG;
    }

private:
    struct Walk {
        std::vector<MESSAGEID> uids;
        std::size_t next = 0;
    };

    HRESULT advance(Walk& walk, MESSAGEPROPS& props) {
        while (walk.next < walk.uids.size()) {
            MESSAGEID id = walk.uids[walk.next++];
            std::uint64_t size = 0;
            if (index_->Locate(id, nullptr, &size)) {
                props.dwMessageId = id;
                props.cbMessage = size;
                return S_OK;
            }
        }
        return S_FALSE;
    }

    std::shared_ptr<MailStore> store_;
    MailStore::Folder folder_;
    std::shared_ptr<FolderIndex> index_;
    std::mutex mutex_;
    std::map<HENUMSTORE, Walk> walks_;
    HENUMSTORE lastWalk_ = 0;
};

class MaildirNamespace final : public RefCounted<IStoreNamespace> {
public:
    HRESULT Initialize(STOREHWND, DWORD) override {
        return guarded([&] {
            std::lock_guard guard(mutex_);
            if (store_)
                return S_FALSE;
            auto store = std::make_shared<MailStore>(MailStore::DefaultRoot());
            std::string error;
            if (!store->Open(error))
                return E_FAIL;
            store_ = std::move(store);
            return S_OK;
        });
    }

    HRESULT OpenSpecialFolder(std::int32_t kind, DWORD, IStoreFolder** folder) override {
        return guarded([&] {
            if (!folder)
                return E_POINTER;
            *folder = nullptr;
            auto store = opened();
            if (!store)
                return E_UNEXPECTED;
            MailStore::Folder found;
            HRESULT result = store->SpecialFolder(kind, found);
            if (Failed(result))
                return result;
            *folder = MakeObject<MaildirFolder>(store, std::move(found));
            return S_OK;
        });
    }

    HRESULT OpenFolder(STOREFOLDERID id, DWORD, IStoreFolder** folder) override {
        return guarded([&] {
            if (!folder)
                return E_POINTER;
            *folder = nullptr;
            auto store = opened();
            if (!store)
                return E_UNEXPECTED;
            MailStore::Folder found;
            if (id == FOLDERID_ROOT || !store->FolderById(id, found))
                return E_INVALIDARG;
            *folder = MakeObject<MaildirFolder>(store, std::move(found));
            return S_OK;
        });
    }

    HRESULT CreateFolder(STOREFOLDERID parent, const char* name, DWORD,
                         STOREFOLDERID* newId) override {
        return guarded([&] {
            auto store = opened();
            if (!store)
                return E_UNEXPECTED;
            if (!name)
                return E_POINTER;
            if (parent != FOLDERID_ROOT)
                return E_INVALIDARG; // nested folders are not offered
            MailStore::Folder made;
            HRESULT result = store->CreateFolder(name, made);
            if (Succeeded(result) && newId)
                *newId = made.id;
            return result;
        });
    }

    HRESULT GetFolderProperties(STOREFOLDERID id, DWORD, FOLDERPROPS* props) override {
        return guarded([&] {
            auto store = opened();
            if (!store)
                return E_UNEXPECTED;
            if (!props || props->cbSize != kFolderPropsSize)
                return E_INVALIDARG;
            MailStore::Folder found;
            if (id == FOLDERID_ROOT || !store->FolderById(id, found))
                return E_INVALIDARG;
            return fillCounted(*store, found, *props) ? S_OK : E_FAIL;
        });
    }

    HRESULT CopyMoveMessages(IStoreFolder* source, IStoreFolder* destination, MESSAGEIDLIST* list,
                             DWORD flags, DWORD, IProgressNotify*) override {
        return guarded([&] {
            auto* from = dynamic_cast<MaildirFolder*>(source);
            auto* to = dynamic_cast<MaildirFolder*>(destination);
            if (!from || !to || !validList(list))
                return E_INVALIDARG;
            for (ULONG i = 0; i < list->cMsgs; ++i) {
                HRESULT result = (flags & CMF_MOVE) ? move(*from, *to, list->prgdwMsgId[i])
                                                    : copy(*from, *to, list->prgdwMsgId[i]);
                if (Failed(result))
                    return result;
            }
            return S_OK;
        });
    }

    HRESULT GetFirstSubFolder(STOREFOLDERID parent, FOLDERPROPS* props,
                              HENUMSTORE* enumeration) override {
        return guarded([&] {
            if (!enumeration)
                return E_POINTER;
            *enumeration = 0;
            auto store = opened();
            if (!store)
                return E_UNEXPECTED;
            if (!props || props->cbSize != kFolderPropsSize)
                return E_INVALIDARG;
            if (parent != FOLDERID_ROOT)
                return S_FALSE; // nested folders are never offered
            FolderWalk walk{store->TopLevelFolders(), 0};
            HRESULT result = advance(*store, walk, *props);
            if (result != S_OK)
                return result;
            std::lock_guard guard(mutex_);
            HENUMSTORE handle = nextHandle(lastWalk_);
            folderWalks_.emplace(handle, std::move(walk));
            *enumeration = handle;
            return S_OK;
        });
    }

    HRESULT GetNextSubFolder(HENUMSTORE enumeration, FOLDERPROPS* props) override {
        return guarded([&] {
            auto store = opened();
            if (!store)
                return E_UNEXPECTED;
            if (!props || props->cbSize != kFolderPropsSize)
                return E_INVALIDARG;
            std::lock_guard guard(mutex_);
            auto walk = folderWalks_.find(enumeration);
            if (walk == folderWalks_.end())
                return E_INVALIDARG;
            return advance(*store, walk->second, *props);
        });
    }

    HRESULT GetSubFolderClose(HENUMSTORE enumeration) override {
        std::lock_guard guard(mutex_);
        return folderWalks_.erase(enumeration) ? S_OK : E_INVALIDARG;
    }

private:
    struct FolderWalk {
        std::vector<MailStore::Folder> folders;
        std::size_t next;
    };

    std::shared_ptr<MailStore> opened() {
        std::lock_guard guard(mutex_);
        return store_;
    }

    // Folders that vanish during a walk are skipped.
    static HRESULT advance(MailStore& store, FolderWalk& walk, FOLDERPROPS& props) {
        while (walk.next < walk.folders.size())
            if (fillCounted(store, walk.folders[walk.next++], props))
                return S_OK;
        return S_FALSE;
    }

    static HRESULT move(MaildirFolder& from, MaildirFolder& to, MESSAGEID id) {
        if (from.dir() == to.dir())
            return from.index().Locate(id, nullptr, nullptr) ? S_OK : E_FAIL;
        // The file may be renamed by a mail client between looking it up and
        // moving it: look again, a few times.
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::string relative, moved;
            if (!from.index().Locate(id, &relative, nullptr))
                return E_FAIL; // no such message
            // A file of the same base name already in the destination (a
            // copy another program made) would be taken for this message:
            // the moved file then gets a name of its own.
            to.index().Sync();
            std::string name = relative.substr(relative.find('/') + 1);
            bool clash = to.index().UidOf(maildir::BaseName(name)) != 0;
            int error = maildir::MoveFile(from.dir(), relative, to.dir(), moved, clash);
            if (error == ENOENT)
                continue;
            if (error != 0)
                return E_FAIL;
            from.index().Forget(id);
            to.index().Sync();
            return S_OK;
        }
        return E_FAIL;
    }

    static HRESULT copy(MaildirFolder& from, MaildirFolder& to, MESSAGEID id) {
        int fd = from.index().Open(id);
        if (fd < 0)
            return E_FAIL;
        IStream* stream = CreateFileStream(fd);
        std::string text;
        HRESULT read = ReadStreamToEnd(stream, text);
        stream->Release();
        if (Failed(read))
            return read;
        MESSAGEID copied = 0;
        return to.Deliver(text, copied);
    }

    std::mutex mutex_;
    std::shared_ptr<MailStore> store_;
    std::map<HENUMSTORE, FolderWalk> folderWalks_;
    HENUMSTORE lastWalk_ = 0;
};

} // namespace

HRESULT CreateMaildirNamespace(REFIID iid, void** object) {
    return guarded([&] {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!(iid == IID_IStoreNamespace))
            return E_NOINTERFACE;
        *object = static_cast<IStoreNamespace*>(MakeObject<MaildirNamespace>());
        return S_OK;
    });
}

} // namespace platform
