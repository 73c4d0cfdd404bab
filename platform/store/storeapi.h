#pragma once
// The mail store's interfaces: the store namespace (folders, moves between
// folders) and an opened folder (its messages and notifications), with the
// records and result codes the store library works with. Failures are
// negative results; S_FALSE means that there is nothing (more) to give.
//
// Records carry a size field that the caller sets before a call; the store
// checks it against the size of the record it knows (the published sizes
// 280, 68 and 20) and refuses anything else with E_INVALIDARG.
#include "platform/store/com.h"
#include "platform/store/stream.h"

#include <cstdint>

namespace platform {

using STOREFOLDERID = std::uint32_t;
using MESSAGEID = std::uint32_t;
// An enumeration of the store (folders under a parent, messages of a
// folder); 0 is none.
using HENUMSTORE = std::uint32_t;
// Window handles as the window layer gives them (platform/win).
using STOREHWND = std::uint32_t;

constexpr STOREFOLDERID FOLDERID_ROOT = 0;
// A message id the store never gives; as a start id it means "from the first".
constexpr MESSAGEID MESSAGEID_FIRST = 0xFFFFFFFFu;

enum SPECIALFOLDER : std::int32_t {
    FOLDER_INBOX = 0,
    FOLDER_OUTBOX = 1,
    FOLDER_SENT = 2,
    FOLDER_DELETED = 3,
    FOLDER_DRAFT = 4,
};
constexpr int kSpecialFolderCount = 5;

constexpr ULONG kFolderPropsSize = 280;
constexpr ULONG kMessagePropsSize = 68;
constexpr ULONG kMessageIdListSize = 20;
constexpr std::size_t kFolderNameMax = 255; // bytes, without the terminating zero

struct FOLDERPROPS {
    ULONG cbSize;
    STOREFOLDERID dwFolderId;
    std::int32_t cSubFolders; // 0: nested folders are not offered
    std::int32_t sfType;      // special folder kind, -1 for an ordinary folder
    ULONG cUnread;
    ULONG cMessage;
    char szName[kFolderNameMax + 1];
};
static_assert(sizeof(FOLDERPROPS) == kFolderPropsSize);

struct MESSAGEPROPS {
    ULONG cbSize;
    MESSAGEID dwMessageId;
    std::uint64_t cbMessage; // size of the message text in bytes
};

struct MESSAGEIDLIST {
    ULONG cbSize;
    ULONG cMsgs;
    const MESSAGEID* prgdwMsgId;
};

// CopyMoveMessages: the messages leave the source folder.
constexpr DWORD CMF_MOVE = 0x1;

// Progress callbacks are not offered; callers pass null.
class IProgressNotify;

class IStoreFolder;

// {E70C92A9-4BFD-11D1-8A95-00C04FB951F3}
inline constexpr CLSID CLSID_StoreNamespace{
    0xE70C92A9, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
// {E70C92AA-4BFD-11D1-8A95-00C04FB951F3}
inline constexpr IID IID_IStoreNamespace{
    0xE70C92AA, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};

class IStoreNamespace : public IUnknown {
public:
    // Opens the store; every other operation fails with E_UNEXPECTED before.
    virtual HRESULT Initialize(STOREHWND owner, DWORD reserved) = 0;
    virtual HRESULT OpenSpecialFolder(std::int32_t kind, DWORD reserved, IStoreFolder** folder) = 0;
    virtual HRESULT OpenFolder(STOREFOLDERID id, DWORD reserved, IStoreFolder** folder) = 0;
    virtual HRESULT CreateFolder(STOREFOLDERID parent, const char* name, DWORD reserved,
                                 STOREFOLDERID* newId) = 0;
    virtual HRESULT GetFolderProperties(STOREFOLDERID id, DWORD reserved,
                                        FOLDERPROPS* properties) = 0;
    virtual HRESULT CopyMoveMessages(IStoreFolder* source, IStoreFolder* destination,
                                     MESSAGEIDLIST* messages, DWORD flags, DWORD flagsRemove,
                                     IProgressNotify* progress) = 0;
    // The folders directly under `parent`: S_OK with the first one's
    // properties and an enumeration, S_FALSE when there are none.
    virtual HRESULT GetFirstSubFolder(STOREFOLDERID parent, FOLDERPROPS* properties,
                                      HENUMSTORE* enumeration) = 0;
    virtual HRESULT GetNextSubFolder(HENUMSTORE enumeration, FOLDERPROPS* properties) = 0;
    virtual HRESULT GetSubFolderClose(HENUMSTORE enumeration) = 0;

protected:
    ~IStoreNamespace() = default;
};

class IStoreFolder : public IUnknown {
public:
    virtual HRESULT GetFolderProperties(DWORD reserved, FOLDERPROPS* properties) = 0;
    // S_FALSE when the folder has no such message.
    virtual HRESULT GetMessageProperties(MESSAGEID id, DWORD reserved,
                                         MESSAGEPROPS* properties) = 0;
    virtual HRESULT FreeMessageProperties(MESSAGEPROPS* properties) = 0;
    virtual HRESULT DeleteMessages(MESSAGEIDLIST* messages, DWORD reserved,
                                   IProgressNotify* progress) = 0;
    virtual HRESULT OpenMessage(MESSAGEID id, REFIID iid, void** object) = 0;
    virtual HRESULT SaveMessage(REFIID iid, void* object, DWORD flags, MESSAGEID* newId) = 0;
    virtual HRESULT RegisterNotification(DWORD reserved, STOREHWND window) = 0;
    virtual HRESULT UnregisterNotification(DWORD reserved, STOREHWND window) = 0;
    // A walk of the folder's messages in id order from `first`
    // (MESSAGEID_FIRST: from the first): S_OK with the first message, S_FALSE
    // when there is none.
    virtual HRESULT GetFirstMessage(DWORD flags, DWORD messageFlags, MESSAGEID first,
                                    MESSAGEPROPS* properties, HENUMSTORE* enumeration) = 0;
    virtual HRESULT GetNextMessage(HENUMSTORE enumeration, DWORD flags,
                                   MESSAGEPROPS* properties) = 0;
    virtual HRESULT GetMessageClose(HENUMSTORE enumeration) = 0;

protected:
    ~IStoreFolder() = default;
};

// The factory of the store namespace class over the Maildir store
// (registered for CLSID_StoreNamespace).
HRESULT CreateMaildirNamespace(REFIID iid, void** object);

} // namespace platform
