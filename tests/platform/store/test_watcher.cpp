// The store watcher: which changes of a folder are new messages.
#include "platform/store/watcher.h"
#include "tests/platform/store/storetesting.h"

#include <condition_variable>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;
using storetesting::DeliverExternally;
using storetesting::Rename;
using storetesting::WriteFile;

namespace {

// Records the posts of a watcher.
class Recorder {
public:
    StoreWatcher::Poster poster() {
        return [this](STOREHWND window, MESSAGEID id) {
            std::lock_guard guard(mutex_);
            posts_.emplace_back(window, id);
            changed_.notify_all();
        };
    }
    // The posts once there are `count` of them (waiting up to `wait`), after
    // a further moment in which no other may come.
    std::vector<std::pair<STOREHWND, MESSAGEID>> await(std::size_t count,
                                                       std::chrono::milliseconds wait = 2s) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, wait, [&] { return posts_.size() >= count; });
        lock.unlock();
        std::this_thread::sleep_for(150ms);
        lock.lock();
        return posts_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<STOREHWND, MESSAGEID>> posts_;
};

using Posts = std::vector<std::pair<STOREHWND, MESSAGEID>>;

class WatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(maildir::MakeMaildir(inbox, false));
        ASSERT_TRUE(maildir::MakeMaildir(other, true));
        DeliverExternally(inbox, "old", "there before");
        ASSERT_TRUE(watcher.Add(this, index, 7));
    }
    storetesting::TempDir temp;
    std::string inbox = temp.path() + "/inbox";
    std::string other = temp.path() + "/.Other";
    std::shared_ptr<FolderIndex> index = FolderIndex::Of(inbox);
    Recorder recorder;
    StoreWatcher watcher{recorder.poster()};
};

} // namespace

TEST_F(WatcherTest, AnnouncesADeliveryByRenameOnceWithItsId) {
    DeliverExternally(inbox, "new1", "hello");
    Posts posts = recorder.await(1);
    EXPECT_EQ(posts, (Posts{{7, 2}}));
    EXPECT_EQ(index->UidOf("new1"), 2u);
}

TEST_F(WatcherTest, AnnouncesDeliveriesByLinkAndByWritingInPlace) {
    WriteFile(inbox + "/tmp/linked", "by link");
    ASSERT_EQ(::link((inbox + "/tmp/linked").c_str(), (inbox + "/new/linked").c_str()), 0);
    EXPECT_EQ(recorder.await(1), (Posts{{7, 2}}));
    ::unlink((inbox + "/tmp/linked").c_str());

    // Written in place: not announced while it is being written (looked at
    // well within the grace the watcher gives it).
    int fd = ::open((inbox + "/new/inplace").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "Subject: ", 9), 9);
    EXPECT_EQ(recorder.await(2, 100ms).size(), 1u);
    ASSERT_EQ(::write(fd, "x\n\nbody\n", 8), 8);
    ::close(fd);
    EXPECT_EQ(recorder.await(2), (Posts{{7, 2}, {7, 3}}));
}

TEST_F(WatcherTest, ReadingOrFlaggingAMessageIsNotANewMessage) {
    DeliverExternally(inbox, "m", "mail");
    ASSERT_EQ(recorder.await(1).size(), 1u);
    Rename(inbox + "/new/m", inbox + "/cur/m:2,S");
    Rename(inbox + "/cur/m:2,S", inbox + "/cur/m:2,FS");
    Rename(inbox + "/new/old", inbox + "/cur/old:2,");
    EXPECT_EQ(recorder.await(2, 300ms), (Posts{{7, 2}}));
}

TEST_F(WatcherTest, AMessageMovedInFromAnotherFolderIsNew) {
    DeliverExternally(other, "moved", "from elsewhere");
    Rename(other + "/new/moved", inbox + "/cur/moved:2,S");
    EXPECT_EQ(recorder.await(1), (Posts{{7, 2}}));
}

TEST_F(WatcherTest, EveryRegisteredWindowIsToldOnceAndRemovedOnesNot) {
    int owner = 0;
    ASSERT_TRUE(watcher.Add(&owner, index, 8));
    ASSERT_TRUE(watcher.Add(&owner, index, 7)); // the same window through another folder object
    DeliverExternally(inbox, "a", "a");
    EXPECT_EQ(recorder.await(2), (Posts{{7, 2}, {8, 2}}));

    EXPECT_TRUE(watcher.Remove(&owner, inbox, 8));
    EXPECT_FALSE(watcher.Remove(&owner, inbox, 8));
    EXPECT_FALSE(watcher.Remove(&owner, other, 7));
    watcher.RemoveOwner(this);
    DeliverExternally(inbox, "b", "b");
    EXPECT_EQ(recorder.await(3), (Posts{{7, 2}, {8, 2}, {7, 3}}));
    watcher.RemoveOwner(&owner);
    DeliverExternally(inbox, "c", "c");
    EXPECT_EQ(recorder.await(4, 300ms).size(), 3u);
}

TEST_F(WatcherTest, AFolderThatCannotBeWatchedIsRefused) {
    EXPECT_FALSE(watcher.Add(this, FolderIndex::Of(temp.path() + "/missing"), 7));
}
