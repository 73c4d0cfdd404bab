// Message ids of a folder: arrival order, renames by mail clients, several
// processes, crashes and rewrites of the list.
#include "platform/store/uidlist.h"
#include "tests/platform/store/storetesting.h"

#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using storetesting::DeliverExternally;
using storetesting::ReadFile;
using storetesting::Rename;
using storetesting::WriteFile;
using Uids = std::vector<FolderIndex::Uid>;

namespace {

class UidListTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(maildir::MakeMaildir(dir, false)); }

    std::string readMessage(FolderIndex& index, FolderIndex::Uid uid) {
        int fd = index.Open(uid);
        if (fd < 0)
            return "<gone>";
        char buffer[256];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    }

    storetesting::TempDir temp;
    std::string dir = temp.path() + "/folder";
};

} // namespace

TEST_F(UidListTest, IdsFollowArrivalAndSurviveRenamesByMailClients) {
    // Names sort the other way round from their arrival.
    DeliverExternally(dir, "c", "first");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    DeliverExternally(dir, "b", "second");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    DeliverExternally(dir, "a", "third");
    FolderIndex index(dir);
    ASSERT_TRUE(index.Sync());
    EXPECT_EQ(index.PresentUids(), (Uids{1, 2, 3}));
    EXPECT_EQ(index.UidOf("c"), 1u);
    EXPECT_EQ(index.UidOf("a"), 3u);

    // Read (new/ to cur/) and flagged later: same id, and read through the
    // rename without an explicit look.
    Rename(dir + "/new/c", dir + "/cur/c:2,S");
    EXPECT_EQ(readMessage(index, 1), "first");
    Rename(dir + "/cur/c:2,S", dir + "/cur/c:2,FS");
    ASSERT_TRUE(index.Sync());
    EXPECT_EQ(index.PresentUids(), (Uids{1, 2, 3}));
    EXPECT_EQ(readMessage(index, 1), "first");
    EXPECT_EQ(index.LastAssigned(), 3u);
}

TEST_F(UidListTest, AMessageThatLeftAndCameBackGetsANewId) {
    DeliverExternally(dir, "m", "mail");
    FolderIndex index(dir);
    ASSERT_TRUE(index.Sync());
    ASSERT_EQ(index.UidOf("m"), 1u);
    Rename(dir + "/new/m", temp.path() + "/m");
    ASSERT_TRUE(index.Forget(1));
    EXPECT_FALSE(index.IsPresent(1));
    EXPECT_EQ(index.Open(1), -1);
    Rename(temp.path() + "/m", dir + "/new/m");
    ASSERT_TRUE(index.Sync());
    EXPECT_EQ(index.UidOf("m"), 2u);
    EXPECT_EQ(index.PresentUids(), (Uids{2}));
}

// A mail client moved the message away and later back: its file name is the
// same, but it is a new arrival, as in the store's own moves.
TEST_F(UidListTest, AMessageGoneWithoutTheStoreComesBackWithANewId) {
    DeliverExternally(dir, "m", "mail");
    FolderIndex index(dir);
    ASSERT_TRUE(index.Sync());
    Rename(dir + "/new/m", temp.path() + "/m");
    ASSERT_TRUE(index.Sync());
    EXPECT_EQ(index.PresentUids(), Uids{});
    EXPECT_EQ(index.PresentCount(), 0u);
    Rename(temp.path() + "/m", dir + "/new/m");
    ASSERT_TRUE(index.Sync());
    EXPECT_EQ(index.PresentUids(), Uids{2});
    FolderIndex otherProcess(dir); // reads the departure from the list
    ASSERT_TRUE(otherProcess.Sync());
    EXPECT_EQ(otherProcess.UidOf("m"), 2u);
    EXPECT_FALSE(otherProcess.IsPresent(1));
}

TEST_F(UidListTest, AnotherProcessSeesTheSameIds) {
    // Two indexes of one folder stand for two processes: they share only the
    // files.
    FolderIndex first(dir), second(dir);
    DeliverExternally(dir, "x", "x");
    ASSERT_TRUE(first.Sync());
    DeliverExternally(dir, "y", "y");
    ASSERT_TRUE(second.Sync());
    ASSERT_TRUE(first.Sync());
    EXPECT_EQ(first.UidOf("x"), 1u);
    EXPECT_EQ(second.UidOf("x"), 1u);
    EXPECT_EQ(first.UidOf("y"), 2u);
    EXPECT_EQ(second.UidOf("y"), 2u);
    // One forgets a message it moved away; the other gives the base name a
    // new id when it is back.
    Rename(dir + "/new/x", temp.path() + "/x");
    ASSERT_TRUE(first.Forget(1));
    Rename(temp.path() + "/x", dir + "/new/x");
    ASSERT_TRUE(second.Sync());
    EXPECT_EQ(second.UidOf("x"), 3u);
    ASSERT_TRUE(first.Sync());
    EXPECT_EQ(first.UidOf("x"), 3u);
    EXPECT_EQ(FolderIndex::Of(dir), FolderIndex::Of(dir)); // one per folder in a process
}

TEST_F(UidListTest, ALineCutOffByACrashIsNeverReadAndNeverJoinsTheNext) {
    DeliverExternally(dir, "a", "a");
    {
        FolderIndex index(dir);
        ASSERT_TRUE(index.Sync());
    }
    // A writer died in the middle of "2 b\n".
    std::string list = ReadFile(dir + "/tarnix-uidlist");
    WriteFile(dir + "/tarnix-uidlist", list + "2 b");
    DeliverExternally(dir, "c", "c");
    FolderIndex index(dir);
    ASSERT_TRUE(index.Sync());
    EXPECT_EQ(index.UidOf("a"), 1u);
    EXPECT_EQ(index.UidOf("c"), 2u);
    EXPECT_EQ(ReadFile(dir + "/tarnix-uidlist"), list + "2 b\n2 c\n");
    FolderIndex reader(dir);
    ASSERT_TRUE(reader.Sync());
    EXPECT_EQ(reader.UidOf("c"), 2u);
    EXPECT_EQ(reader.UidOf("b"), 0u);
}

TEST_F(UidListTest, RewritingAStaleListKeepsTheNextId) {
    for (int i = 0; i < 600; ++i)
        DeliverExternally(dir, "m" + std::to_string(i), "x");
    FolderIndex index(dir);
    ASSERT_TRUE(index.Sync());
    ASSERT_EQ(index.LastAssigned(), 600u);
    for (FolderIndex::Uid uid = 1; uid <= 600; ++uid) {
        std::string base = index.BaseOf(uid);
        Rename(dir + "/new/" + base, temp.path() + "/" + base);
        ASSERT_TRUE(index.Forget(uid));
    }
    DeliverExternally(dir, "late", "x");
    ASSERT_TRUE(index.Sync()); // 1201 records, one present: rewritten
    EXPECT_EQ(ReadFile(dir + "/tarnix-uidlist"), "tarnix-uidlist 1 602\n601 late\n");
    std::string base = "m0";
    Rename(temp.path() + "/" + base, dir + "/new/" + base);
    FolderIndex other(dir);
    ASSERT_TRUE(other.Sync());
    EXPECT_EQ(other.UidOf("late"), 601u);
    EXPECT_EQ(other.UidOf(base), 602u);
}

TEST_F(UidListTest, AFolderThatCannotBeReadFailsTheLook) {
    FolderIndex index(temp.path() + "/missing");
    EXPECT_FALSE(index.Sync());
    EXPECT_EQ(index.PresentUids(), Uids{});
}
