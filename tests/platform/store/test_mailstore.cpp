// The Maildir++ store: first use, folder ids, special folders, new folders.
#include "platform/store/maildir.h"
#include "platform/store/mailstore.h"
#include "tests/platform/store/storetesting.h"

#include <gtest/gtest.h>

using namespace platform;
using storetesting::ReadFile;
using storetesting::WriteFile;

namespace {

std::vector<std::string> listing(MailStore& store) {
    std::vector<std::string> out;
    for (const auto& folder : store.TopLevelFolders())
        out.push_back(std::to_string(folder.id) + " " + folder.name);
    return out;
}

using Names = std::vector<std::string>;

class MailStoreTest : public ::testing::Test {
protected:
    bool open(MailStore& store) {
        std::string error;
        bool ok = store.Open(error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    storetesting::TempDir temp;
    std::string root = temp.path() + "/Maildir";
};

} // namespace

TEST_F(MailStoreTest, FirstUseMakesTheDefaultFoldersInTheirOrder) {
    MailStore store(root + "/");
    ASSERT_TRUE(open(store));
    EXPECT_EQ(store.root(), root);
    EXPECT_EQ(listing(store),
              (Names{"1 Inbox", "2 Outbox", "3 Sent Items", "4 Deleted Items", "5 Drafts"}));
    EXPECT_TRUE(maildir::IsMaildir(root));
    EXPECT_TRUE(maildir::IsMaildir(root + "/.Sent Items"));
    EXPECT_NE(ReadFile(root + "/tarnix-special-folders").find("deleted=Deleted Items\n"),
              std::string::npos);
    EXPECT_EQ(store.SpecialKindOf("Sent Items"), FOLDER_SENT);
    EXPECT_EQ(store.SpecialKindOf("Spam"), -1);

    // Opening it again changes nothing.
    MailStore again(root);
    ASSERT_TRUE(open(again));
    EXPECT_EQ(listing(again), listing(store));
}

TEST_F(MailStoreTest, AStoreOfAnotherClientIsUsedAsItIsWithItsOwnSpecialFolders) {
    ASSERT_TRUE(maildir::MakeMaildir(root, false));
    for (const char* name : {".Trash", ".Sent", ".Work", ".Work.Projects", ".Sent.2023"})
        ASSERT_TRUE(maildir::MakeMaildir(root + "/" + name, true));
    WriteFile(root + "/tarnix-special-folders", "sent=Sent\r\ndeleted=Trash\n# drafts=X\n");
    MailStore store(root);
    ASSERT_TRUE(open(store));
    // Nested folders are not listed; folders new to the store get ids by name.
    EXPECT_EQ(listing(store), (Names{"1 Inbox", "2 Sent", "3 Trash", "4 Work"}));

    MailStore::Folder folder;
    ASSERT_EQ(store.SpecialFolder(FOLDER_DELETED, folder), S_OK);
    EXPECT_EQ(folder.name, "Trash");
    EXPECT_EQ(folder.id, 3u);
    ASSERT_EQ(store.SpecialFolder(FOLDER_INBOX, folder), S_OK);
    EXPECT_EQ(folder.dir, root);
    // Drafts keeps its default name and is made when first opened.
    ASSERT_EQ(store.SpecialFolder(FOLDER_DRAFT, folder), S_OK);
    EXPECT_EQ(folder.name, "Drafts");
    EXPECT_EQ(listing(store), (Names{"1 Inbox", "2 Sent", "3 Trash", "4 Work", "5 Drafts"}));
}

TEST_F(MailStoreTest, FolderIdsStayWithTheirNames) {
    MailStore store(root);
    ASSERT_TRUE(open(store));
    MailStore::Folder spam;
    ASSERT_EQ(store.CreateFolder("Spam", spam), S_OK);
    EXPECT_EQ(spam.id, 6u);
    EXPECT_EQ(spam.dir, root + "/.Spam");
    // Another client makes a folder; a second store object agrees on ids.
    ASSERT_TRUE(maildir::MakeMaildir(root + "/.Archive", true));
    MailStore other(root);
    ASSERT_TRUE(open(other));
    MailStore::Folder found;
    ASSERT_TRUE(other.FolderById(6, found));
    EXPECT_EQ(found.name, "Spam");
    EXPECT_EQ(listing(other).back(), "7 Archive");
    EXPECT_EQ(listing(store).back(), "7 Archive");
    EXPECT_FALSE(other.FolderById(99, found));
    EXPECT_FALSE(other.FolderById(0, found));
}

TEST_F(MailStoreTest, CreateFolderRefusesNamesItCannotKeepAtTheTop) {
    MailStore store(root);
    ASSERT_TRUE(open(store));
    struct Row {
        std::string name;
        HRESULT expected;
    };
    const Row rows[] = {
        {"", E_INVALIDARG},
        {"Work.Projects", E_INVALIDARG},
        {".hidden", E_INVALIDARG},
        {"a/b", E_INVALIDARG},
        {"../escape", E_INVALIDARG},
        {"two\nlines", E_INVALIDARG},
        {"Inbox", E_INVALIDARG},
        {std::string(255, 'x'), E_INVALIDARG}, // ".xxx..." would be 256 bytes
        {"Drafts", E_FAIL},                    // exists
        {std::string(254, 'x'), S_OK},
        {"Spam (filtered)", S_OK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MailStore::Folder folder;
        EXPECT_EQ(store.CreateFolder(row.name, folder), row.expected);
    }
    EXPECT_EQ(listing(store).size(), 7u);
    EXPECT_FALSE(maildir::IsMaildir(temp.path() + "/escape"));
}

TEST_F(MailStoreTest, ARootThatIsNoFolderCannotBeOpened) {
    WriteFile(root, "not a folder");
    MailStore store(root);
    std::string error;
    EXPECT_FALSE(store.Open(error));
    EXPECT_EQ(error, root + " is not a folder");
}
