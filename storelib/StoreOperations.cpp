#include "storelib/StoreOperations.h"

#include <cstdlib>
#include <cstring>

namespace storvane {
namespace {

using namespace platform;

constexpr DWORD kContextInprocOrLocal = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER; // 5

constexpr const char* kStorageError = "Storage Error";
constexpr const char* kStorageErrorTypo = "StOrage Error";
constexpr const char* kClientError = "Outlook Express Error";
constexpr const char* kMessageFrom = "Message From";

struct SpecialName {
    const char* name;
    std::int32_t kind;
};
constexpr SpecialName kSpecialNames[] = {
    {"Inbox", FOLDER_INBOX},     {"Outbox", FOLDER_OUTBOX}, {"Sent", FOLDER_SENT},
    {"Deleted", FOLDER_DELETED}, {"Draft", FOLDER_DRAFT},
};

// The namespace of an initialised store, else null.
IStoreNamespace* namespaceOf(const Handles& handles, StoreHandle store) {
    StoreContext* context = handles.Store(store);
    return context && context->initialised == 1 ? context->storeNamespace : nullptr;
}

FOLDERPROPS folderProps() {
    FOLDERPROPS props{};
    props.cbSize = kFolderPropsSize;
    return props;
}

MESSAGEPROPS messageProps() {
    MESSAGEPROPS props{};
    props.cbSize = kMessagePropsSize;
    return props;
}

MESSAGEIDLIST oneMessage(const MessageId& id) {
    return MESSAGEIDLIST{kMessageIdListSize, 1, &id};
}

// Walks the folders directly under the root, calling `visit` with each one's
// properties until it answers false. A failing walk shows nothing.
template <typename Visit>
void walkTopFolders(IStoreNamespace* storeNamespace, Visit visit) {
    FOLDERPROPS props = folderProps();
    HENUMSTORE enumeration = 0;
    HRESULT result = storeNamespace->GetFirstSubFolder(FOLDERID_ROOT, &props, &enumeration);
    while (!Failed(result) && result != S_FALSE && enumeration != 0) {
        if (!visit(props))
            break;
        result = storeNamespace->GetNextSubFolder(enumeration, &props);
    }
    if (enumeration != 0)
        storeNamespace->GetSubFolderClose(enumeration);
}

// The folder id a name finds: a special folder by its special name, else the
// first folder directly under the root whose display name is the name, byte
// for byte. 0 when none.
STOREFOLDERID findFolderId(IStoreNamespace* storeNamespace, const char* name, Report& report) {
    for (const SpecialName& special : kSpecialNames) {
        if (std::strcmp(name, special.name) != 0)
            continue;
        IStoreFolder* folder = nullptr;
        if (Failed(storeNamespace->OpenSpecialFolder(special.kind, 0, &folder)) || !folder) {
            report.Fail("Could not open special folder.", kClientError);
            return 0;
        }
        FOLDERPROPS props = folderProps();
        HRESULT result = folder->GetFolderProperties(0, &props);
        folder->Release();
        if (Failed(result)) {
            report.Fail("Could not get special folder properties.", kClientError);
            return 0;
        }
        return props.dwFolderId;
    }
    STOREFOLDERID found = 0;
    walkTopFolders(storeNamespace, [&](const FOLDERPROPS& props) {
        if (std::strcmp(props.szName, name) == 0) {
            found = props.dwFolderId;
            return false;
        }
        return true;
    });
    return found;
}

// The text of a message: one allocation of its size plus one, one Read.
char* readText(IStoreFolder* folder, MessageId id, Report& report) {
    void* object = nullptr;
    if (Failed(folder->OpenMessage(id, IID_IStream, &object)) || !object) {
        report.Fail("Error opening message.", kClientError);
        return nullptr;
    }
    auto* stream = static_cast<IStream*>(object);
    STATSTG statistics{};
    stream->Stat(&statistics, STATFLAG_DEFAULT);
    auto size = static_cast<std::uint32_t>(statistics.cbSize); // its low 32 bits
    auto* text = static_cast<char*>(std::malloc(std::size_t{size} + 1));
    ULONG read = 0;
    if (!text || Failed(stream->Read(text, size, &read)) || read > size) {
        report.Fail("Error reading message.", kClientError);
        std::free(text);
        stream->Release();
        return nullptr;
    }
    text[read] = '\0';
    stream->Release();
    return text;
}

} // namespace

StoreHandle OpenStore(Handles& handles, Report& report) {
    auto context = std::make_unique<StoreContext>();
    if (Failed(CoInitialize(nullptr))) {
        report.Fail("Error CoInitialize.", kStorageError);
    } else {
        void* object = nullptr;
        if (Failed(CoCreateInstance(CLSID_StoreNamespace, nullptr, kContextInprocOrLocal,
                                    IID_IStoreNamespace, &object)) ||
            !object) {
            report.Fail("Error creating IStoreNamespace.", kStorageError);
        } else {
            auto* storeNamespace = static_cast<IStoreNamespace*>(object);
            if (Failed(storeNamespace->Initialize(0, 0))) {
                report.Fail("Error initializing IStoreNamespace.", kStorageErrorTypo);
                storeNamespace->Release();
            } else {
                context->storeNamespace = storeNamespace;
                context->initialised = 1;
            }
        }
    }
    return handles.AddStore(std::move(context));
}

void CloseStore(Handles& handles, StoreHandle store) {
    if (!handles.Store(store))
        return;
    // Folders the caller left open go with their store: nothing of the store
    // (its watcher thread included) may outlive it.
    for (FolderHandle folder : handles.FoldersOf(store))
        CloseFolder(handles, store, folder);
    handles.TakeStore(store); // releases the namespace when it was initialised
}

char* GetFolderNames(Handles& handles, StoreHandle store) {
    IStoreNamespace* storeNamespace = namespaceOf(handles, store);
    if (!storeNamespace)
        return nullptr;
    std::size_t total = 0;
    walkTopFolders(storeNamespace, [&](const FOLDERPROPS& props) {
        total += std::strlen(props.szName) + 1;
        return true;
    });
    auto* text = static_cast<char*>(std::malloc(total + 1));
    if (!text)
        return nullptr;
    // The second walk may meet folders made since the first: what does not
    // fit the text sized by the first walk is left out, never written past it.
    std::size_t used = 0;
    walkTopFolders(storeNamespace, [&](const FOLDERPROPS& props) {
        std::size_t length = std::strlen(props.szName);
        if (used + length + 1 > total)
            return false;
        std::memcpy(text + used, props.szName, length);
        text[used + length] = ';';
        used += length + 1;
        return true;
    });
    text[used] = '\0';
    return text;
}

std::int32_t FolderExists(Handles& handles, StoreHandle store, const char* name, Report& report) {
    IStoreNamespace* storeNamespace = namespaceOf(handles, store);
    if (!storeNamespace || !name)
        return 0;
    return findFolderId(storeNamespace, name, report) != 0 ? 1 : 0;
}

std::int32_t CreateFolder(Handles& handles, StoreHandle store, const char* name, Report& report) {
    IStoreNamespace* storeNamespace = namespaceOf(handles, store);
    if (!storeNamespace || !name)
        return 0;
    // A name that finds a folder, or whose look-up failed (and said so), is
    // not created.
    if (findFolderId(storeNamespace, name, report) != 0 || report.box())
        return 0;
    STOREFOLDERID newId = 0;
    if (Failed(storeNamespace->CreateFolder(FOLDERID_ROOT, name, 0, &newId))) {
        report.Fail("Error creating folder.", kClientError);
        return 0;
    }
    return 1;
}

FolderHandle OpenFolder(Handles& handles, StoreHandle store, const char* name, Report& report) {
    IStoreNamespace* storeNamespace = namespaceOf(handles, store);
    if (!storeNamespace || !name)
        return 0;
    STOREFOLDERID id = findFolderId(storeNamespace, name, report);
    if (id == 0)
        return 0;
    FOLDERPROPS props = folderProps();
    if (Failed(storeNamespace->GetFolderProperties(id, 0, &props))) {
        report.Fail("Could not get folder propertis.", kStorageError);
        return 0;
    }
    IStoreFolder* folder = nullptr;
    if (Failed(storeNamespace->OpenFolder(props.dwFolderId, 0, &folder)) || !folder) {
        report.Fail("Error opening folder.", kClientError);
        return 0;
    }
    return handles.AddFolder(store, folder);
}

void CloseFolder(Handles& handles, StoreHandle store, FolderHandle folder) {
    IStoreFolder* object = handles.TakeFolder(store, folder);
    if (!object)
        return;
    if (StoreContext* context = handles.Store(store);
        context && context->enumTable.Contains(folder)) {
        HENUMSTORE enumeration = context->enumTable.Find(folder);
        if (enumeration != 0)
            object->GetMessageClose(enumeration);
        context->enumTable.Remove(folder);
    }
    object->Release();
}

std::int32_t GetMessageCount(Handles& handles, StoreHandle store, FolderHandle folder,
                             Report& report) {
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object)
        return 0;
    FOLDERPROPS props = folderProps();
    if (Failed(object->GetFolderProperties(0, &props))) {
        report.Fail("Error getting message count.", kClientError);
        return 0;
    }
    return static_cast<std::int32_t>(props.cMessage);
}

char* GetFirstMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId* id,
                      Report& report) {
    StoreContext* context = handles.Store(store);
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object)
        return nullptr;
    EnumTable& table = context->enumTable;
    // A second walk on the same handle replaces the first, which would
    // otherwise stay open and keep its table entry until closeFolder.
    if (table.Contains(folder)) {
        if (HENUMSTORE old = table.Find(folder); old != 0)
            object->GetMessageClose(old);
        table.Remove(folder);
    }
    MESSAGEPROPS props = messageProps();
    HENUMSTORE enumeration = 0;
    HRESULT result = object->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &enumeration);
    if (Failed(result)) {
        report.Fail("Couldn't get first message", kMessageFrom);
        return nullptr;
    }
    if (!table.Add(folder, enumeration)) {
        // More walks open than the table holds: this one cannot be kept.
        if (enumeration != 0)
            object->GetMessageClose(enumeration);
        if (result != S_FALSE)
            object->FreeMessageProperties(&props);
        report.Fail("Couldn't get first message", kMessageFrom);
        return nullptr;
    }
    if (result == S_FALSE)
        return nullptr;
    MessageId first = props.dwMessageId;
    if (id)
        *id = first;
    object->FreeMessageProperties(&props);
    return readText(object, first, report);
}

char* GetNextMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId* id,
                     Report& report) {
    StoreContext* context = handles.Store(store);
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object)
        return nullptr;
    HENUMSTORE enumeration = context->enumTable.Find(folder);
    if (enumeration == 0)
        return nullptr;
    MESSAGEPROPS props = messageProps();
    HRESULT result = object->GetNextMessage(enumeration, 0, &props);
    if (Failed(result)) {
        report.Fail("Couldn't get next message", kMessageFrom);
        return nullptr;
    }
    if (result == S_FALSE)
        return nullptr;
    MessageId next = props.dwMessageId;
    if (id)
        *id = next;
    object->FreeMessageProperties(&props);
    return readText(object, next, report);
}

char* GetMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId id,
                 Report& report) {
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object)
        return nullptr;
    MESSAGEPROPS props = messageProps();
    HRESULT result = object->GetMessageProperties(id, 0, &props);
    if (Failed(result)) {
        report.Fail("Couldn't get first message", kMessageFrom);
        return nullptr;
    }
    if (result == S_FALSE)
        return nullptr;
    object->FreeMessageProperties(&props);
    return readText(object, id, report);
}

MessageId CreateMessage(Handles& handles, StoreHandle store, FolderHandle folder, const char* text,
                        MessageFlags flags, Report& report) {
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object || !text)
        return 0;
    IStream* stream = nullptr;
    if (Failed(CreateStreamOnHGlobal(nullptr, 1, &stream)) || !stream) {
        report.Fail("Couldn't create message stream", kClientError);
        return 0;
    }
    ULONG written = 0;
    stream->Write(text, static_cast<ULONG>(std::strlen(text)), &written);
    stream->Seek(0, STREAM_SEEK_SET, nullptr);
    MessageId newId = 0;
    // A store that refuses to save gives no id: the answer is 0, as for a
    // stream that cannot be made.
    if (Failed(object->SaveMessage(IID_IStream, stream, flags, &newId)))
        newId = 0;
    stream->Release();
    return newId;
}

Status DeleteMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId id,
                     Report& report) {
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object)
        return 1;
    MESSAGEIDLIST list = oneMessage(id);
    HRESULT result = object->DeleteMessages(&list, 0, nullptr);
    if (Failed(result)) {
        report.Fail("Couldn't delete message", kClientError);
        return 1;
    }
    return result;
}

Status MoveMessage(Handles& handles, StoreHandle store, FolderHandle source,
                   FolderHandle destination, MessageId id, Report& report) {
    IStoreNamespace* storeNamespace = namespaceOf(handles, store);
    IStoreFolder* from = storeNamespace ? handles.Folder(store, source) : nullptr;
    IStoreFolder* to = storeNamespace ? handles.Folder(store, destination) : nullptr;
    if (!from || !to)
        return 1;
    MESSAGEIDLIST list = oneMessage(id);
    HRESULT result = storeNamespace->CopyMoveMessages(from, to, &list, CMF_MOVE, 0, nullptr);
    if (Failed(result)) {
        report.Fail("Couldn't move message", kClientError);
        return 1;
    }
    return result;
}

Status RegisterNotification(Handles& handles, StoreHandle store, FolderHandle folder,
                            WindowHandle window, Report& report) {
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object)
        return 1;
    if (Failed(object->RegisterNotification(0, window))) {
        report.Fail("Couldn't register notification", kClientError);
        return 1;
    }
    return 0;
}

Status UnRegisterNotification(Handles& handles, StoreHandle store, FolderHandle folder,
                              WindowHandle window, Report& report) {
    IStoreFolder* object = namespaceOf(handles, store) ? handles.Folder(store, folder) : nullptr;
    if (!object)
        return 1;
    if (Failed(object->UnregisterNotification(0, window))) {
        report.Fail("Couldn't unregister notification", kClientError);
        return 1;
    }
    return 0;
}

void FreeMem(void* text) {
    std::free(text);
}

} // namespace storvane
