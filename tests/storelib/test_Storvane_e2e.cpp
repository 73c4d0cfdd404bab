// The store library against the real file system with other processes at
// work: notifications to real windows, walks while mail arrives, and moves
// killed at random moments.
#include "platform/win/winapi.h"
#include "tests/platform/store/storetesting.h"
#include "tests/storelib/storvane_library.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using storetesting::DeliverExternally;
using storetesting::Rename;
using namespace std::chrono_literals;

namespace {

// Runs `body` in a child process made by fork (only system calls there:
// the parent has threads) and waits for it.
template <typename Body>
void inChild(Body body) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Another program's delivery: write into tmp/, rename into new/.
void deliverRaw(const std::string& maildir, const std::string& name, const std::string& text) {
    std::string temp = maildir + "/tmp/" + name;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size()) ||
        ::fsync(fd) != 0 || ::close(fd) != 0 ||
        ::rename(temp.c_str(), (maildir + "/new/" + name).c_str()) != 0)
        ::_exit(1);
}

// The message texts of a folder, read from its files.
std::multiset<std::string> textsOnDisk(const std::string& maildir) {
    std::multiset<std::string> texts;
    for (const char* sub : {"/new", "/cur"}) {
        DIR* dir = ::opendir((maildir + sub).c_str());
        if (!dir)
            continue;
        while (dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                texts.insert(storetesting::ReadFile(maildir + sub + "/" + entry->d_name));
        ::closedir(dir);
    }
    return texts;
}

class StorvaneEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        store = lib.openStore();
        inbox = lib.openFolder(store, "Inbox");
        deleted = lib.openFolder(store, "Deleted");
        ASSERT_EQ(lib.registerNotification(store, inbox, inboxWindow.handle()), 0);
        ASSERT_EQ(lib.registerNotification(store, deleted, deletedWindow.handle()), 0);
    }
    void TearDown() override {
        lib.unRegisterNotification(store, inbox, inboxWindow.handle());
        lib.unRegisterNotification(store, deleted, deletedWindow.handle());
        lib.closeFolder(store, inbox);
        lib.closeFolder(store, deleted);
        lib.closeStore(store);
        EXPECT_EQ(boxes.take(), std::vector<std::string>{});
    }

    // Handles window messages until `count` notifications arrived or the
    // time is up; answers how long it took.
    std::chrono::milliseconds pumpUntil(std::size_t count, std::chrono::milliseconds limit) {
        QElapsedTimer timer;
        timer.start();
        while (notifications.size() < count && timer.elapsed() < limit.count())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return std::chrono::milliseconds(timer.elapsed());
    }

    std::vector<std::pair<std::string, std::uint32_t>> notifications;
    platform::MessageWindow::Handler recordAs(std::string folder) {
        return [this, folder](platform::UINT message, platform::WPARAM wParam, platform::LPARAM) {
            if (message == platform::WM_NEWMSGS)
                notifications.emplace_back(folder, static_cast<std::uint32_t>(wParam));
            return platform::LRESULT{0};
        };
    }

    storetesting::ScopedMaildir maildir;
    storetesting::StorvaneLibrary lib;
    storetesting::BoxRecorder boxes;
    platform::MessageWindow inboxWindow{"TestInbox", "", recordAs("Inbox")};
    platform::MessageWindow deletedWindow{"TestDeleted", "", recordAs("Deleted")};
    storvane::StoreHandle store = 0;
    storvane::FolderHandle inbox = 0;
    storvane::FolderHandle deleted = 0;
};

using Notes = std::vector<std::pair<std::string, std::uint32_t>>;

} // namespace

TEST_F(StorvaneEndToEnd, ADeliveryByAnotherProcessIsAnnouncedOnceWithin200ms) {
    const std::string text = "From: a@example.org\r\nSubject: hello\r\n\r\nbody\r\n";
    std::string root = maildir.root();
    inChild([&] { deliverRaw(root, "1700000000.M1P1.other", text); });
    auto took = pumpUntil(1, 2000ms);
    EXPECT_LT(took, 200ms);
    pumpUntil(2, 300ms); // and no second one
    ASSERT_EQ(notifications, (Notes{{"Inbox", 1}}));
    EXPECT_EQ(lib.take(lib.getMessage(store, inbox, notifications[0].second)), text);
}

TEST_F(StorvaneEndToEnd, ReadingAndFlaggingByAMailClientAnnouncesNothing) {
    DeliverExternally(maildir.root(), "m1", "Subject: x\n\n");
    pumpUntil(1, 2000ms);
    ASSERT_EQ(notifications.size(), 1u);
    Rename(maildir.root() + "/new/m1", maildir.root() + "/cur/m1:2,S");
    Rename(maildir.root() + "/cur/m1:2,S", maildir.root() + "/cur/m1:2,RS");
    pumpUntil(2, 500ms);
    EXPECT_EQ(notifications.size(), 1u);
    EXPECT_EQ(lib.take(lib.getMessage(store, inbox, notifications[0].second)), "Subject: x\n\n");
}

TEST_F(StorvaneEndToEnd, AMessageMovedInIsAnnouncedWithTheIdGetMessageReads) {
    lib.createMessage(store, deleted, "Subject: already deleted\n\n", 0);
    storvane::MessageId id = lib.createMessage(store, inbox, "Subject: mark me\n\nspam", 0);
    pumpUntil(2, 2000ms);
    notifications.clear();
    ASSERT_EQ(lib.moveMessage(store, inbox, deleted, id), 0);
    pumpUntil(1, 2000ms);
    pumpUntil(2, 300ms);
    ASSERT_EQ(notifications, (Notes{{"Deleted", 2}}));
    EXPECT_EQ(lib.take(lib.getMessage(store, deleted, 2)), "Subject: mark me\n\nspam");
    // The mark transit's next step: on to "Spam".
    storvane::FolderHandle spam = lib.openFolder(store, "Spam");
    ASSERT_EQ(spam, 0u);
    ASSERT_EQ(lib.createFolder(store, "Spam"), 1);
    spam = lib.openFolder(store, "Spam");
    EXPECT_EQ(lib.moveMessage(store, deleted, spam, 2), 0);
    EXPECT_EQ(lib.getMessageCount(store, spam), 1);
    lib.closeFolder(store, spam);
}

// The "Not spam" round trip: the mail client moves a message out of the Inbox
// (into Deleted Items) and the program moves it back. It is a new arrival in
// the Inbox: a fresh id and one announcement, even though its file keeps its
// name all the way.
TEST_F(StorvaneEndToEnd, AMessageThatLeftAndCameBackIsAnnouncedAgain) {
    const std::string text = "Subject: not spam after all\n\nhello";
    DeliverExternally(maildir.root(), "m1", text);
    pumpUntil(1, 2000ms);
    ASSERT_EQ(notifications, (Notes{{"Inbox", 1}}));
    Rename(maildir.root() + "/new/m1", maildir.folder("Deleted Items") + "/cur/m1:2,S");
    pumpUntil(2, 2000ms);
    ASSERT_EQ(notifications.size(), 2u);
    ASSERT_EQ(notifications[1].first, "Deleted");
    ASSERT_EQ(lib.moveMessage(store, deleted, inbox, notifications[1].second), 0);
    pumpUntil(3, 2000ms);
    pumpUntil(4, 300ms);
    ASSERT_EQ(notifications.size(), 3u);
    EXPECT_EQ(notifications[2].first, "Inbox");
    EXPECT_GT(notifications[2].second, 1u);
    EXPECT_EQ(lib.take(lib.getMessage(store, inbox, notifications[2].second)), text);
    EXPECT_EQ(lib.getMessage(store, inbox, 1), nullptr); // the old id names nothing now
}

// Two files with one base name (a copy made by another program) must stay
// two messages when one is moved beside the other.
TEST_F(StorvaneEndToEnd, AMoveBesideAFileOfTheSameNameKeepsBoth) {
    DeliverExternally(maildir.root(), "twin", "Subject: first\n\n");
    DeliverExternally(maildir.folder("Deleted Items"), "twin", "Subject: second\n\n");
    // Read and flagged there: the two file names differ, the base names do not.
    Rename(maildir.folder("Deleted Items") + "/new/twin",
           maildir.folder("Deleted Items") + "/cur/twin:2,S");
    pumpUntil(2, 2000ms);
    ASSERT_EQ(notifications.size(), 2u);
    storvane::MessageId inDeleted =
        notifications[0].first == "Deleted" ? notifications[0].second : notifications[1].second;
    notifications.clear();
    ASSERT_EQ(lib.moveMessage(store, deleted, inbox, inDeleted), 0);
    pumpUntil(1, 2000ms);
    ASSERT_EQ(notifications.size(), 1u);
    std::multiset<std::string> walked;
    storvane::MessageId id = 0;
    storvane::FolderHandle handle = lib.openFolder(store, "Inbox");
    for (char* t = lib.getFirstMessage(store, handle, &id); t;
         t = lib.getNextMessage(store, handle, &id))
        walked.insert(lib.take(t));
    lib.closeFolder(store, handle);
    EXPECT_EQ(walked, (std::multiset<std::string>{"Subject: first\n\n", "Subject: second\n\n"}));
    EXPECT_EQ(lib.take(lib.getMessage(store, inbox, notifications[0].second)),
              "Subject: second\n\n");
}

TEST_F(StorvaneEndToEnd, MailArrivingDuringAWalkIsNeitherLostNorHarmful) {
    for (int i = 0; i < 50; ++i)
        DeliverExternally(maildir.root(), "before" + std::to_string(i),
                          "before " + std::to_string(i));
    std::string root = maildir.root();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < 300; ++i)
            deliverRaw(root, "during" + std::to_string(i), "during " + std::to_string(i));
        ::_exit(0);
    }
    storvane::FolderHandle handle = lib.openFolder(store, "Inbox");
    std::set<std::uint32_t> ids;
    std::set<std::string> texts;
    storvane::MessageId id = 0;
    for (char* text = lib.getFirstMessage(store, handle, &id); text;
         text = lib.getNextMessage(store, handle, &id)) {
        EXPECT_TRUE(ids.insert(id).second) << "id twice: " << id;
        EXPECT_TRUE(texts.insert(lib.take(text)).second);
    }
    lib.closeFolder(store, handle);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_GE(texts.size(), 50u);
    EXPECT_TRUE(texts.count("before 0") && texts.count("before 49"));
    // Afterwards every message is there, once, and readable.
    EXPECT_EQ(lib.getMessageCount(store, inbox), 350);
    handle = lib.openFolder(store, "Inbox");
    std::set<std::string> all;
    for (char* text = lib.getFirstMessage(store, handle, &id); text;
         text = lib.getNextMessage(store, handle, &id))
        all.insert(lib.take(text));
    lib.closeFolder(store, handle);
    EXPECT_EQ(all.size(), 350u);
    pumpUntil(350, 3000ms);
    EXPECT_EQ(notifications.size(), 350u); // one each, none twice
}

TEST(StorvaneKilledMoves, NeverLoseOrDoubleAMessage) {
    storetesting::ScopedMaildir maildir;
    const int kMessages = 40;
    std::multiset<std::string> original;
    {
        storetesting::StorvaneLibrary lib;
        storvane::StoreHandle store = lib.openStore();
        ASSERT_EQ(lib.createFolder(store, "Spam"), 1);
        storvane::FolderHandle inbox = lib.openFolder(store, "Inbox");
        for (int i = 0; i < kMessages; ++i) {
            std::string text = "Subject: message " + std::to_string(i) + "\n\n" +
                               std::string(static_cast<std::size_t>(i) * 97, 'x');
            ASSERT_NE(lib.createMessage(store, inbox, text.c_str(), 0), 0u);
            original.insert(text);
        }
        lib.closeFolder(store, inbox);
        lib.closeStore(store);
    }
    std::mt19937 random(20240601);
    std::set<std::size_t> inboxSizes;
    for (int round = 0; round < 25; ++round) {
        char* argv[] = {const_cast<char*>(STORVANE_MOVER), nullptr};
        pid_t mover = 0;
        ASSERT_EQ(::posix_spawn(&mover, STORVANE_MOVER, nullptr, nullptr, argv, environ), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 180));
        ::kill(mover, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(mover, &status, 0), mover);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the mover ended by itself: " << status;
        // After every kill: each message in exactly one place.
        auto inInbox = textsOnDisk(maildir.folder("Inbox"));
        auto inSpam = textsOnDisk(maildir.folder("Spam"));
        std::multiset<std::string> all = inInbox;
        all.insert(inSpam.begin(), inSpam.end());
        ASSERT_EQ(all, original) << "after round " << round;
        inboxSizes.insert(inInbox.size());
    }
    EXPECT_GT(inboxSizes.size(), 1u) << "the mover never got to move anything";
    // And every one can be walked and read through the library.
    storetesting::StorvaneLibrary lib;
    storetesting::BoxRecorder boxes;
    storvane::StoreHandle store = lib.openStore();
    std::multiset<std::string> walked;
    for (const char* name : {"Inbox", "Spam"}) {
        storvane::FolderHandle folder = lib.openFolder(store, name);
        storvane::MessageId id = 0;
        for (char* text = lib.getFirstMessage(store, folder, &id); text;
             text = lib.getNextMessage(store, folder, &id)) {
            std::string copy = text;
            EXPECT_EQ(lib.take(lib.getMessage(store, folder, id)), copy);
            walked.insert(lib.take(text));
        }
        lib.closeFolder(store, folder);
    }
    lib.closeStore(store);
    EXPECT_EQ(walked, original);
    EXPECT_EQ(boxes.take(), std::vector<std::string>{});
}
