// The operations over a store that fails where a test says: every message
// box of the failure table, the id written before the text is read, and the
// enumeration table's rules. (The real store is tested through the loaded
// library in test_Storvane.)
#include "storelib/StoreContext.h"
#include "storelib/StoreOperations.h"

#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace platform;
using namespace storvane;

namespace {

// Which store operation fails, and what the fake store counts.
struct FakeState {
    std::set<std::string> failing;
    bool messagePropsFalse = false; // GetMessageProperties answers S_FALSE
    bool emptyFolder = false;
    HENUMSTORE emptyWalkHandle = 0; // the handle GetFirstMessage gives an empty folder
    std::string text = "Subject: fake\r\n\r\nbody";
    int openFolders = 0;
    int openWalks = 0;
    int namespaces = 0;
    bool fails(const char* operation) const { return failing.count(operation) > 0; }
};
FakeState gState;

class FakeStream final : public RefCounted<IStream> {
public:
    HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
        if (gState.fails("Read"))
            return E_FAIL;
        ULONG n = std::min<ULONG>(count, static_cast<ULONG>(gState.text.size()));
        std::memcpy(buffer, gState.text.data(), n);
        *read = n;
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(std::int64_t, DWORD, std::uint64_t*) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG* statistics, DWORD) override {
        statistics->cbSize = gState.text.size();
        return S_OK;
    }
};

class FakeFolder final : public RefCounted<IStoreFolder> {
public:
    FakeFolder() { ++gState.openFolders; }
    ~FakeFolder() override { --gState.openFolders; }
    HRESULT GetFolderProperties(DWORD, FOLDERPROPS* props) override {
        if (gState.fails("Folder::GetFolderProperties"))
            return E_FAIL;
        props->dwFolderId = 42;
        props->cMessage = 3;
        return S_OK;
    }
    HRESULT GetMessageProperties(MESSAGEID id, DWORD, MESSAGEPROPS* props) override {
        if (gState.fails("GetMessageProperties"))
            return E_FAIL;
        if (gState.messagePropsFalse)
            return S_FALSE;
        props->dwMessageId = id;
        return S_OK;
    }
    HRESULT FreeMessageProperties(MESSAGEPROPS*) override { return S_OK; }
    HRESULT DeleteMessages(MESSAGEIDLIST* list, DWORD, IProgressNotify*) override {
        EXPECT_EQ(list->cbSize, 20u);
        EXPECT_EQ(list->cMsgs, 1u);
        return gState.fails("DeleteMessages") ? E_FAIL : S_OK;
    }
    HRESULT OpenMessage(MESSAGEID, REFIID iid, void** object) override {
        EXPECT_TRUE(iid == IID_IStream);
        if (gState.fails("OpenMessage"))
            return E_FAIL;
        *object = static_cast<IStream*>(MakeObject<FakeStream>());
        return S_OK;
    }
    HRESULT SaveMessage(REFIID, void*, DWORD, MESSAGEID* id) override {
        if (gState.fails("SaveMessage"))
            return E_FAIL;
        *id = 77;
        return S_OK;
    }
    HRESULT RegisterNotification(DWORD, STOREHWND) override {
        return gState.fails("RegisterNotification") ? E_FAIL : S_OK;
    }
    HRESULT UnregisterNotification(DWORD, STOREHWND) override {
        return gState.fails("UnregisterNotification") ? E_FAIL : S_OK;
    }
    HRESULT GetFirstMessage(DWORD, DWORD, MESSAGEID first, MESSAGEPROPS* props,
                            HENUMSTORE* enumeration) override {
        EXPECT_EQ(first, 0xFFFFFFFFu);
        EXPECT_EQ(props->cbSize, 68u);
        if (gState.fails("GetFirstMessage"))
            return E_FAIL;
        if (gState.emptyFolder) {
            *enumeration = gState.emptyWalkHandle;
            gState.openWalks += gState.emptyWalkHandle != 0;
            return S_FALSE;
        }
        *enumeration = ++lastWalk_;
        ++gState.openWalks;
        props->dwMessageId = 1000;
        return S_OK;
    }
    HRESULT GetNextMessage(HENUMSTORE, DWORD, MESSAGEPROPS* props) override {
        if (gState.fails("GetNextMessage"))
            return E_FAIL;
        props->dwMessageId = 1001;
        return S_OK;
    }
    HRESULT GetMessageClose(HENUMSTORE) override {
        --gState.openWalks;
        return S_OK;
    }

private:
    HENUMSTORE lastWalk_ = 0;
};

class FakeNamespace final : public RefCounted<IStoreNamespace> {
public:
    FakeNamespace() { ++gState.namespaces; }
    ~FakeNamespace() override { --gState.namespaces; }
    HRESULT Initialize(STOREHWND, DWORD) override {
        return gState.fails("Initialize") ? E_FAIL : S_OK;
    }
    HRESULT OpenSpecialFolder(std::int32_t, DWORD, IStoreFolder** folder) override {
        if (gState.fails("OpenSpecialFolder"))
            return E_FAIL;
        *folder = MakeObject<FakeFolder>();
        return S_OK;
    }
    HRESULT OpenFolder(STOREFOLDERID, DWORD, IStoreFolder** folder) override {
        if (gState.fails("OpenFolder"))
            return E_FAIL;
        *folder = MakeObject<FakeFolder>();
        return S_OK;
    }
    HRESULT CreateFolder(STOREFOLDERID parent, const char*, DWORD, STOREFOLDERID* id) override {
        EXPECT_EQ(parent, 0u);
        *id = 43;
        return gState.fails("CreateFolder") ? E_FAIL : S_OK;
    }
    HRESULT GetFolderProperties(STOREFOLDERID id, DWORD, FOLDERPROPS* props) override {
        if (gState.fails("Namespace::GetFolderProperties"))
            return E_FAIL;
        props->dwFolderId = id;
        return S_OK;
    }
    HRESULT CopyMoveMessages(IStoreFolder*, IStoreFolder*, MESSAGEIDLIST* list, DWORD flags,
                             DWORD remove, IProgressNotify* progress) override {
        EXPECT_EQ(list->cMsgs, 1u);
        EXPECT_EQ(flags, 1u);
        EXPECT_EQ(remove, 0u);
        EXPECT_EQ(progress, nullptr);
        return gState.fails("CopyMoveMessages") ? E_FAIL : S_OK;
    }
    // One folder "Spam" (id 9) under the root.
    HRESULT GetFirstSubFolder(STOREFOLDERID, FOLDERPROPS* props, HENUMSTORE* enumeration) override {
        EXPECT_EQ(props->cbSize, 280u);
        *enumeration = 5;
        props->dwFolderId = 9;
        std::strcpy(props->szName, "Spam");
        return S_OK;
    }
    HRESULT GetNextSubFolder(HENUMSTORE, FOLDERPROPS*) override { return S_FALSE; }
    HRESULT GetSubFolderClose(HENUMSTORE) override { return S_OK; }
};

class StoreOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gState = FakeState();
        previous_ = RegisterClassFactory(CLSID_StoreNamespace, [](REFIID iid, void** out) {
            if (gState.fails("CoCreateInstance") || !(iid == IID_IStoreNamespace))
                return E_FAIL;
            *out = static_cast<IStoreNamespace*>(MakeObject<FakeNamespace>());
            return S_OK;
        });
        store = OpenStore(handles, report);
        ASSERT_FALSE(report.box());
    }
    void TearDown() override {
        CloseStore(handles, store);
        EXPECT_EQ(gState.namespaces, 0);
        EXPECT_EQ(gState.openFolders, 0);
        RegisterClassFactory(CLSID_StoreNamespace, previous_);
    }
    std::string box(const Report& r) {
        return r.box() ? r.box()->text + " | " + r.box()->caption : "<none>";
    }

    Handles handles;
    Report report;
    StoreHandle store = 0;
    ClassFactory previous_;
};

} // namespace

TEST_F(StoreOperationsTest, EveryFailureShowsItsBoxAndGivesTheFailureAnswer) {
    struct Row {
        const char* failing;
        const char* call;
        const char* box;
    };
    const Row rows[] = {
        {"OpenSpecialFolder", "openFolder Inbox",
         "Could not open special folder. | Outlook Express Error"},
        {"Folder::GetFolderProperties", "openFolder Inbox",
         "Could not get special folder properties. | Outlook Express Error"},
        {"Namespace::GetFolderProperties", "openFolder Spam",
         "Could not get folder propertis. | Storage Error"},
        {"OpenFolder", "openFolder Spam", "Error opening folder. | Outlook Express Error"},
        {"CreateFolder", "createFolder New", "Error creating folder. | Outlook Express Error"},
        {"Folder::GetFolderProperties", "getMessageCount",
         "Error getting message count. | Outlook Express Error"},
        {"GetFirstMessage", "getFirstMessage", "Couldn't get first message | Message From"},
        {"GetMessageProperties", "getMessage", "Couldn't get first message | Message From"},
        {"GetNextMessage", "getNextMessage", "Couldn't get next message | Message From"},
        {"OpenMessage", "getMessage", "Error opening message. | Outlook Express Error"},
        {"Read", "getMessage", "Error reading message. | Outlook Express Error"},
        {"DeleteMessages", "deleteMessage", "Couldn't delete message | Outlook Express Error"},
        {"CopyMoveMessages", "moveMessage", "Couldn't move message | Outlook Express Error"},
        {"RegisterNotification", "registerNotification",
         "Couldn't register notification | Outlook Express Error"},
        {"UnregisterNotification", "unRegisterNotification",
         "Couldn't unregister notification | Outlook Express Error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.failing) + " in " + row.call);
        // The folder of the calls is opened before the fault is set.
        Report setup;
        FolderHandle folder = OpenFolder(handles, store, "Spam", setup);
        MessageId id = 0;
        if (std::string(row.call) == "getNextMessage")
            FreeMem(GetFirstMessage(handles, store, folder, &id, setup));
        ASSERT_FALSE(setup.box());
        gState.failing = {row.failing};
        Report r;
        std::string call = row.call;
        bool failed = false;
        if (call == "openFolder Inbox")
            failed = OpenFolder(handles, store, "Inbox", r) == 0;
        else if (call == "openFolder Spam")
            failed = OpenFolder(handles, store, "Spam", r) == 0;
        else if (call == "createFolder New")
            failed = CreateFolder(handles, store, "New", r) == 0;
        else if (call == "getMessageCount")
            failed = GetMessageCount(handles, store, folder, r) == 0;
        else if (call == "getFirstMessage")
            failed = GetFirstMessage(handles, store, folder, &id, r) == nullptr;
        else if (call == "getNextMessage")
            failed = GetNextMessage(handles, store, folder, &id, r) == nullptr;
        else if (call == "getMessage")
            failed = GetMessage(handles, store, folder, 5, r) == nullptr;
        else if (call == "deleteMessage")
            failed = DeleteMessage(handles, store, folder, 5, r) == 1;
        else if (call == "moveMessage")
            failed = MoveMessage(handles, store, folder, folder, 5, r) == 1;
        else if (call == "registerNotification")
            failed = RegisterNotification(handles, store, folder, 3, r) == 1;
        else if (call == "unRegisterNotification")
            failed = UnRegisterNotification(handles, store, folder, 3, r) == 1;
        EXPECT_TRUE(failed);
        EXPECT_EQ(box(r), row.box);
        gState.failing.clear();
        CloseFolder(handles, store, folder);
    }
}

TEST_F(StoreOperationsTest, OpeningTheStoreFailsAtEachStepWithItsBox) {
    struct Row {
        const char* failing;
        const char* box;
    };
    const Row rows[] = {
        {"CoCreateInstance", "Error creating IStoreNamespace. | Storage Error"},
        {"Initialize", "Error initializing IStoreNamespace. | StOrage Error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failing);
        gState.failing = {row.failing};
        Report r;
        StoreHandle failed = OpenStore(handles, r);
        EXPECT_NE(failed, 0u); // a handle all the same
        EXPECT_EQ(box(r), row.box);
        EXPECT_EQ(handles.Store(failed)->initialised, 0);
        EXPECT_EQ(gState.namespaces, 1); // the store's own, not a released one
        // Calls on it answer failures and show nothing.
        gState.failing.clear();
        Report quiet;
        EXPECT_EQ(OpenFolder(handles, failed, "Inbox", quiet), 0u);
        EXPECT_EQ(GetFolderNames(handles, failed), nullptr);
        EXPECT_FALSE(quiet.box());
        CloseStore(handles, failed);
    }
    // A thread whose run time is in the other model cannot initialise it.
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        Report r;
        StoreHandle failed = OpenStore(handles, r);
        EXPECT_EQ(box(r), "Error CoInitialize. | Storage Error");
        CloseStore(handles, failed);
    }).join();
}

TEST_F(StoreOperationsTest, TheIdIsWrittenBeforeTheTextIsRead) {
    FolderHandle folder = OpenFolder(handles, store, "Spam", report);
    gState.failing = {"OpenMessage"};
    MessageId id = 0;
    EXPECT_EQ(GetFirstMessage(handles, store, folder, &id, report), nullptr);
    EXPECT_EQ(id, 1000u);
    EXPECT_EQ(box(report), "Error opening message. | Outlook Express Error");
    CloseFolder(handles, store, folder);
}

TEST_F(StoreOperationsTest, AnAnswerOfNothingIsNoFailure) {
    FolderHandle folder = OpenFolder(handles, store, "Spam", report);
    gState.messagePropsFalse = true;
    EXPECT_EQ(GetMessage(handles, store, folder, 5, report), nullptr);
    gState.emptyFolder = true;
    MessageId id = 12345;
    EXPECT_EQ(GetFirstMessage(handles, store, folder, &id, report), nullptr);
    EXPECT_EQ(id, 12345u);
    EXPECT_EQ(GetNextMessage(handles, store, folder, &id, report), nullptr);
    EXPECT_EQ(OpenFolder(handles, store, "Nothing", report), 0u);
    EXPECT_EQ(FolderExists(handles, store, "Nothing", report), 0);
    EXPECT_FALSE(report.box());
    CloseFolder(handles, store, folder);
}

TEST_F(StoreOperationsTest, CloseFolderClosesOnlyAnEnumerationTheStoreGave) {
    for (HENUMSTORE handle : {HENUMSTORE{0}, HENUMSTORE{31}}) {
        SCOPED_TRACE(handle);
        gState.emptyFolder = true;
        gState.emptyWalkHandle = handle;
        FolderHandle folder = OpenFolder(handles, store, "Spam", report);
        MessageId id = 0;
        EXPECT_EQ(GetFirstMessage(handles, store, folder, &id, report), nullptr);
        EXPECT_TRUE(handles.Store(store)->enumTable.Contains(folder));
        EXPECT_EQ(gState.openWalks, handle != 0 ? 1 : 0);
        CloseFolder(handles, store, folder);
        EXPECT_EQ(gState.openWalks, 0); // GetMessageClose only for the non-zero one
        EXPECT_EQ(handles.Store(store)->enumTable.Count(), 0u);
    }
}

TEST_F(StoreOperationsTest, ASecondWalkOnOneHandleReplacesTheFirst) {
    FolderHandle folder = OpenFolder(handles, store, "Spam", report);
    MessageId id = 0;
    FreeMem(GetFirstMessage(handles, store, folder, &id, report));
    FreeMem(GetFirstMessage(handles, store, folder, &id, report));
    EXPECT_EQ(gState.openWalks, 1);
    EXPECT_EQ(handles.Store(store)->enumTable.Count(), 1u);
    CloseFolder(handles, store, folder);
    EXPECT_EQ(gState.openWalks, 0);
}

TEST_F(StoreOperationsTest, CreateMessageAnswersTheStoresIdOrZero) {
    FolderHandle folder = OpenFolder(handles, store, "Spam", report);
    EXPECT_EQ(CreateMessage(handles, store, folder, "Subject: x\r\n\r\n", 0, report), 77u);
    gState.failing = {"SaveMessage"};
    EXPECT_EQ(CreateMessage(handles, store, folder, "Subject: x\r\n\r\n", 0, report), 0u);
    EXPECT_FALSE(report.box());
    CloseFolder(handles, store, folder);
}

TEST_F(StoreOperationsTest, AFailedLookUpCreatesNothing) {
    gState.failing = {"OpenSpecialFolder"};
    EXPECT_EQ(CreateFolder(handles, store, "Deleted", report), 0);
    EXPECT_EQ(box(report), "Could not open special folder. | Outlook Express Error");
}

TEST(EnumTable, AddsFindsAndRemovesInOrderUpToItsCapacity) {
    EnumTable table;
    EXPECT_EQ(table.Find(1), 0u);
    table.Remove(1); // nothing to remove
    ASSERT_TRUE(table.Add(1, 10));
    ASSERT_TRUE(table.Add(2, 0));
    ASSERT_TRUE(table.Add(1, 11)); // only the first entry of a handle is found
    ASSERT_TRUE(table.Add(3, 30));
    EXPECT_EQ(table.Find(1), 10u);
    EXPECT_TRUE(table.Contains(2));
    EXPECT_EQ(table.Find(2), 0u);
    table.Remove(1);
    EXPECT_EQ(table.Find(1), 11u);
    EXPECT_EQ(table.Find(3), 30u);
    EXPECT_EQ(table.Count(), 3u);
    for (std::uint32_t i = table.Count(); i < EnumTable::kCapacity; ++i)
        ASSERT_TRUE(table.Add(100 + i, i));
    EXPECT_FALSE(table.Add(5000, 1));
    EXPECT_EQ(table.Count(), EnumTable::kCapacity);
    EXPECT_FALSE(table.Contains(5000));
}

TEST(Handles, AreNeverZeroNeverReusedAndBelongToTheirStore) {
    Handles handles;
    StoreHandle a = handles.AddStore(std::make_unique<StoreContext>());
    StoreHandle b = handles.AddStore(std::make_unique<StoreContext>());
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(handles.Store(0), nullptr);
    handles.TakeStore(a);
    EXPECT_EQ(handles.Store(a), nullptr);
    EXPECT_NE(handles.AddStore(std::make_unique<StoreContext>()), a);
    FakeState saved = gState;
    FolderHandle folder = handles.AddFolder(b, MakeObject<FakeFolder>());
    EXPECT_EQ(handles.Folder(a, folder), nullptr);
    EXPECT_NE(handles.Folder(b, folder), nullptr);
    EXPECT_EQ(handles.TakeFolder(a, folder), nullptr);
    IStoreFolder* object = handles.TakeFolder(b, folder);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(handles.Folder(b, folder), nullptr);
    object->Release();
    gState = saved;
}
