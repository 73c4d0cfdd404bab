// The store library as the program sees it: loaded with dlopen, over a real
// Maildir store in a temporary folder.
#include "tests/platform/store/storetesting.h"
#include "tests/storelib/storvane_library.h"

#include <array>
#include <cstdio>
#include <future>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

using storetesting::DeliverExternally;
using storetesting::WriteFile;
using Boxes = std::vector<std::string>;

namespace {

class StorvaneTest : public ::testing::Test {
protected:
    void SetUp() override { store = lib.openStore(); }
    void TearDown() override {
        lib.closeStore(store);
        EXPECT_EQ(boxes.take(), Boxes{}) << "boxes nobody expected";
    }
    std::string folderNames() { return lib.take(lib.getFolderNames(store)); }
    // Texts of a whole walk of `folder` by a fresh handle, "id:text" each.
    std::vector<std::string> walk(const char* folder) {
        storvane::FolderHandle handle = lib.openFolder(store, folder);
        std::vector<std::string> texts;
        storvane::MessageId id = 0;
        for (char* text = lib.getFirstMessage(store, handle, &id); text;
             text = lib.getNextMessage(store, handle, &id))
            texts.push_back(std::to_string(id) + ":" + lib.take(text));
        lib.closeFolder(store, handle);
        return texts;
    }

    storetesting::ScopedMaildir maildir; // before the store opens
    storetesting::StorvaneLibrary lib;
    storetesting::BoxRecorder boxes;
    storvane::StoreHandle store = 0;
};

} // namespace

TEST(StorvaneExports, AreExactlyTheSeventeenFunctions) {
    FILE* nm = ::popen("nm -D --defined-only '" STORVANE_PATH "' 2>/dev/null", "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        char type = 0;
        char name[400];
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2)
            exported.insert(name);
    }
    if (::pclose(nm) != 0 && exported.empty())
        GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(exported,
              (std::set<std::string>{"openStore", "closeStore", "getFolderNames", "folderExists",
                                     "createFolder", "openFolder", "closeFolder", "getMessageCount",
                                     "getFirstMessage", "getNextMessage", "getMessage",
                                     "createMessage", "deleteMessage", "moveMessage",
                                     "registerNotification", "unRegisterNotification", "freeMem"}));
}

TEST_F(StorvaneTest, TheDefaultStoreListsItsFiveFolders) {
    EXPECT_EQ(folderNames(), "Inbox;Outbox;Sent Items;Deleted Items;Drafts;");
}

TEST(StorvaneEmptyRoot, ListsNoFoldersAsAnEmptyText) {
    // A root the store knows (its configuration is there) without any folder.
    storetesting::ScopedMaildir maildir;
    ASSERT_EQ(::mkdir(maildir.root().c_str(), 0700), 0);
    WriteFile(maildir.root() + "/tarnix-special-folders", "sent=Sent Items\n");
    storetesting::StorvaneLibrary lib;
    storvane::StoreHandle store = lib.openStore();
    char* names = lib.getFolderNames(store);
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(names, "");
    lib.freeMem(names);
    lib.closeStore(store);
}

TEST_F(StorvaneTest, SpecialNamesAndDisplayNamesFindTheirFolders) {
    struct Row {
        const char* name;
        std::int32_t exists;
    };
    const Row rows[] = {
        {"Inbox", 1},      {"Outbox", 1}, {"Sent", 1},   {"Sent Items", 1},
        {"Deleted", 1},    {"Draft", 1},  {"Drafts", 1}, {"inbox", 0},
        {"sent items", 0}, {"Spam", 0},   {"", 0},       {"Deleted Items;", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(lib.folderExists(store, row.name), row.exists);
        storvane::FolderHandle handle = lib.openFolder(store, row.name);
        EXPECT_EQ(handle != 0, row.exists == 1);
        lib.closeFolder(store, handle);
    }
    // "Sent" and "Sent Items" are one folder; "Deleted" is "Deleted Items".
    storvane::FolderHandle sent = lib.openFolder(store, "Sent");
    storvane::FolderHandle sentItems = lib.openFolder(store, "Sent Items");
    storvane::MessageId id = lib.createMessage(store, sent, "Subject: sent\r\n\r\nx", 0);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(lib.take(lib.getMessage(store, sentItems, id)), "Subject: sent\r\n\r\nx");
    lib.closeFolder(store, sent);
    lib.closeFolder(store, sentItems);
}

TEST_F(StorvaneTest, NestedFoldersAreNeitherListedNorFoundAndCreateMakesATopLevelOne) {
    for (const char* dir :
         {"/.Archive.Spam", "/.Archive.Spam/cur", "/.Archive.Spam/new", "/.Archive.Spam/tmp"})
        ASSERT_EQ(::mkdir((maildir.root() + dir).c_str(), 0700), 0);
    EXPECT_EQ(folderNames(), "Inbox;Outbox;Sent Items;Deleted Items;Drafts;");
    EXPECT_EQ(lib.openFolder(store, "Spam"), 0u);
    EXPECT_EQ(lib.createFolder(store, "Spam"), 1);
    EXPECT_EQ(folderNames(), "Inbox;Outbox;Sent Items;Deleted Items;Drafts;Spam;");
    struct stat info {};
    EXPECT_EQ(::stat((maildir.root() + "/.Spam/cur").c_str(), &info), 0);
}

TEST_F(StorvaneTest, CreateFolderOnAnExistingNameAnswersZeroQuietly) {
    EXPECT_EQ(lib.createFolder(store, "Drafts"), 0);
    EXPECT_EQ(lib.createFolder(store, "Inbox"), 0);
    EXPECT_EQ(lib.createFolder(store, "Deleted"), 0);
    EXPECT_EQ(lib.createFolder(store, "Spam (filtered)"), 1);
    EXPECT_EQ(lib.createFolder(store, "Spam (filtered)"), 0);
    EXPECT_EQ(boxes.take(), Boxes{});
}

TEST_F(StorvaneTest, NamesTheStoreCannotKeepAtTheTopAreRefusedWithTheBox) {
    for (const char* name : {"Work.Projects", "a/b", "../outside"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(lib.createFolder(store, name), 0);
        EXPECT_EQ(boxes.take(), Boxes{"Error creating folder. | Outlook Express Error"});
    }
    EXPECT_EQ(folderNames(), "Inbox;Outbox;Sent Items;Deleted Items;Drafts;");
}

TEST_F(StorvaneTest, WalkingNMessagesGivesNTextsInArrivalOrderThenNull) {
    const std::array<std::string, 4> texts = {"Subject: 1\n\none\n", "Subject: 2\n\ntwo\n", "",
                                              "Subject: 4\n\nfour\n"};
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    std::vector<storvane::MessageId> ids;
    for (const std::string& text : texts) {
        DeliverExternally(maildir.root(), "m" + std::to_string(ids.size() + 10), text);
        ids.push_back(static_cast<storvane::MessageId>(ids.size() + 1));
    }
    EXPECT_EQ(lib.getMessageCount(store, inbox), 4);
    storvane::MessageId id = 0;
    std::vector<std::string> seen;
    char* text = lib.getFirstMessage(store, inbox, &id);
    while (text) {
        seen.push_back(std::to_string(id) + ":" + lib.take(text));
        text = lib.getNextMessage(store, inbox, &id);
    }
    // A message of size 0 is an empty text, not the end.
    EXPECT_EQ(seen,
              (std::vector<std::string>{"1:" + texts[0], "2:" + texts[1], "3:", "4:" + texts[3]}));
    EXPECT_EQ(lib.getNextMessage(store, inbox, &id), nullptr);
    EXPECT_EQ(lib.take(lib.getMessage(store, inbox, 2)), texts[1]);
    EXPECT_EQ(lib.getMessage(store, inbox, 99), nullptr);
    lib.closeFolder(store, inbox);
}

TEST_F(StorvaneTest, AnEmptyFolderGivesNullWithoutWritingTheId) {
    storvane::FolderHandle drafts = lib.openFolder(store, "Draft");
    storvane::MessageId id = 0xDEADu;
    EXPECT_EQ(lib.getFirstMessage(store, drafts, &id), nullptr);
    EXPECT_EQ(id, 0xDEADu);
    EXPECT_EQ(lib.getNextMessage(store, drafts, &id), nullptr);
    EXPECT_EQ(lib.getMessageCount(store, drafts), 0);
    lib.closeFolder(store, drafts);
    // Another handle that may get the same value starts without a walk.
    storvane::FolderHandle again = lib.openFolder(store, "Draft");
    EXPECT_EQ(lib.getNextMessage(store, again, &id), nullptr);
    lib.closeFolder(store, again);
}

TEST_F(StorvaneTest, CreateMessageStoresTheTextAsGiven) {
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    const char* text = "From: a@b\r\nSubject: \xE9t\xE9\r\n\r\nline\n\rbody";
    storvane::MessageId id = lib.createMessage(store, inbox, text, 0);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(lib.take(lib.getMessage(store, inbox, id)), text);
    EXPECT_EQ(lib.createMessage(store, inbox, "second", 0), 2u);
    EXPECT_EQ(walk("Inbox"), (std::vector<std::string>{std::string("1:") + text, "2:second"}));
    lib.closeFolder(store, inbox);
}

TEST_F(StorvaneTest, MovesTakeTheMessageToTheOtherFolderWithANewId) {
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    storvane::FolderHandle deleted = lib.openFolder(store, "Deleted");
    lib.createMessage(store, deleted, "Subject: old\n\n", 0); // id 1 there
    storvane::MessageId id = lib.createMessage(store, inbox, "Subject: spam\n\nbuy", 0);
    lib.createMessage(store, inbox, "Subject: keep\n\n", 0);
    EXPECT_EQ(lib.moveMessage(store, inbox, deleted, id), 0);
    EXPECT_EQ(walk("Inbox"), (std::vector<std::string>{"2:Subject: keep\n\n"}));
    EXPECT_EQ(walk("Deleted Items"),
              (std::vector<std::string>{"1:Subject: old\n\n", "2:Subject: spam\n\nbuy"}));
    // The message is no longer in the source folder.
    EXPECT_EQ(lib.moveMessage(store, inbox, deleted, id), 1);
    EXPECT_EQ(boxes.take(), Boxes{"Couldn't move message | Outlook Express Error"});
    EXPECT_EQ(lib.moveMessage(store, inbox, deleted, 4711), 1);
    EXPECT_EQ(boxes.take(), Boxes{"Couldn't move message | Outlook Express Error"});
    lib.closeFolder(store, inbox);
    lib.closeFolder(store, deleted);
}

TEST_F(StorvaneTest, DeleteRemovesTheMessageAndAMissingOneShowsTheBox) {
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    storvane::MessageId id = lib.createMessage(store, inbox, "x", 0);
    EXPECT_EQ(lib.deleteMessage(store, inbox, id), 0);
    EXPECT_EQ(lib.getMessageCount(store, inbox), 0);
    EXPECT_EQ(lib.deleteMessage(store, inbox, id), 1);
    EXPECT_EQ(boxes.take(), Boxes{"Couldn't delete message | Outlook Express Error"});
    lib.closeFolder(store, inbox);
}

TEST_F(StorvaneTest, NotificationRegistrationsTheStoreRefusesShowTheirBoxes) {
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    EXPECT_EQ(lib.registerNotification(store, inbox, 0), 1);
    EXPECT_EQ(boxes.take(), Boxes{"Couldn't register notification | Outlook Express Error"});
    EXPECT_EQ(lib.unRegisterNotification(store, inbox, 12345), 1);
    EXPECT_EQ(boxes.take(), Boxes{"Couldn't unregister notification | Outlook Express Error"});
    EXPECT_EQ(lib.registerNotification(store, inbox, 12345), 0);
    EXPECT_EQ(lib.unRegisterNotification(store, inbox, 12345), 0);
    lib.closeFolder(store, inbox);
}

TEST_F(StorvaneTest, AFolderThatVanishedFailsWithItsBoxes) {
    ASSERT_EQ(lib.createFolder(store, "Gone"), 1);
    storvane::FolderHandle gone = lib.openFolder(store, "Gone");
    std::string dir = maildir.folder("Gone");
    for (const char* sub : {"/cur", "/new", "/tmp"})
        ASSERT_EQ(::rmdir((dir + sub).c_str()), 0);
    EXPECT_EQ(lib.getMessageCount(store, gone), 0);
    EXPECT_EQ(boxes.take(), Boxes{"Error getting message count. | Outlook Express Error"});
    storvane::MessageId id = 0;
    EXPECT_EQ(lib.getFirstMessage(store, gone, &id), nullptr);
    EXPECT_EQ(boxes.take(), Boxes{"Couldn't get first message | Message From"});
    lib.closeFolder(store, gone);
}

TEST_F(StorvaneTest, ASpecialFolderThatCannotBeMadeShowsTheBox) {
    lib.closeStore(store);
    WriteFile(maildir.root() + "/tarnix-special-folders", "deleted=Bad.Name\n");
    store = lib.openStore();
    EXPECT_EQ(lib.openFolder(store, "Deleted"), 0u);
    EXPECT_EQ(boxes.take(), Boxes{"Could not open special folder. | Outlook Express Error"});
}

TEST(StorvaneFailedStore, GivesAHandleWhoseCallsAnswerFailuresQuietly) {
    storetesting::ScopedMaildir maildir;
    WriteFile(maildir.root(), "a file where the store should be");
    storetesting::StorvaneLibrary lib;
    storetesting::BoxRecorder boxes;
    storvane::StoreHandle store = lib.openStore();
    EXPECT_NE(store, 0u);
    EXPECT_EQ(boxes.take(), Boxes{"Error initializing IStoreNamespace. | StOrage Error"});
    EXPECT_EQ(lib.openFolder(store, "Inbox"), 0u);
    EXPECT_EQ(lib.getFolderNames(store), nullptr);
    EXPECT_EQ(lib.createFolder(store, "Spam"), 0);
    lib.closeStore(store);
    EXPECT_EQ(boxes.take(), Boxes{});
}

TEST_F(StorvaneTest, HandlesThatFindNothingGiveTheFailureAnswer) {
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    lib.createMessage(store, inbox, "x", 0);
    storvane::StoreHandle other = lib.openStore();
    storvane::FolderHandle closed = lib.openFolder(store, "Inbox");
    lib.closeFolder(store, closed);
    storvane::MessageId id = 0;
    struct Row {
        const char* name;
        storvane::StoreHandle store;
        storvane::FolderHandle folder;
    };
    const Row rows[] = {
        {"store 0", 0, inbox},
        {"folder 0", store, 0},
        {"closed folder", store, closed},
        {"folder of another store", other, inbox},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(lib.getMessageCount(row.store, row.folder), 0);
        EXPECT_EQ(lib.getFirstMessage(row.store, row.folder, &id), nullptr);
        EXPECT_EQ(lib.getNextMessage(row.store, row.folder, &id), nullptr);
        EXPECT_EQ(lib.getMessage(row.store, row.folder, 1), nullptr);
        EXPECT_EQ(lib.createMessage(row.store, row.folder, "y", 0), 0u);
        EXPECT_EQ(lib.deleteMessage(row.store, row.folder, 1), 1);
        EXPECT_EQ(lib.moveMessage(row.store, row.folder, inbox, 1), 1);
        EXPECT_EQ(lib.registerNotification(row.store, row.folder, 5), 1);
        EXPECT_EQ(lib.unRegisterNotification(row.store, row.folder, 5), 1);
        lib.closeFolder(row.store, row.folder);
    }
    EXPECT_EQ(lib.getFolderNames(0), nullptr);
    EXPECT_EQ(lib.openFolder(0, "Inbox"), 0u);
    EXPECT_EQ(lib.openFolder(store, nullptr), 0u);
    lib.closeStore(0);
    lib.closeStore(other);
    lib.closeStore(other); // closed twice: nothing
    lib.freeMem(nullptr);
    EXPECT_EQ(lib.take(lib.getMessage(store, inbox, 1)), "x"); // untouched by all that
    lib.closeFolder(store, inbox);
}

TEST_F(StorvaneTest, MoreThanAThousandOpenWalksAreRefusedWithoutHarm) {
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    lib.createMessage(store, inbox, "m", 0);
    std::vector<storvane::FolderHandle> handles;
    storvane::MessageId id = 0;
    for (int i = 0; i < 1000; ++i) {
        handles.push_back(lib.openFolder(store, "Inbox"));
        ASSERT_EQ(lib.take(lib.getFirstMessage(store, handles.back(), &id)), "m") << i;
    }
    storvane::FolderHandle extra = lib.openFolder(store, "Inbox");
    EXPECT_EQ(lib.getFirstMessage(store, extra, &id), nullptr);
    EXPECT_EQ(boxes.take(), Boxes{"Couldn't get first message | Message From"});
    lib.closeFolder(store, handles.back());
    handles.pop_back();
    EXPECT_EQ(lib.take(lib.getFirstMessage(store, extra, &id)), "m");
    lib.closeFolder(store, extra);
    // The store closes what is left open with it.
    lib.closeFolder(store, inbox);
}

TEST_F(StorvaneTest, NoLockIsHeldWhileABoxShows) {
    storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
    std::future_status other = std::future_status::timeout;
    platform::SetMessageBoxHook([&](const std::string&, const std::string&, unsigned) {
        // Another thread calls the library while this box "shows".
        auto call = std::async(std::launch::async, [&] { return folderNames(); });
        other = call.wait_for(std::chrono::seconds(5));
        return int(platform::IDOK);
    });
    EXPECT_EQ(lib.moveMessage(store, inbox, inbox, 999), 1);
    EXPECT_EQ(other, std::future_status::ready);
    lib.closeFolder(store, inbox);
}
