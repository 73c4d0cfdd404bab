// Message files of a Maildir folder: delivery, scanning, moves.
#include "platform/store/maildir.h"
#include "tests/platform/store/storetesting.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

using namespace platform;
using storetesting::ReadFile;
using storetesting::WriteFile;

namespace {

std::set<std::string> filesIn(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* handle = ::opendir(dir.c_str())) {
        while (dirent* entry = ::readdir(handle))
            if (entry->d_name[0] != '.')
                names.insert(entry->d_name);
        ::closedir(handle);
    }
    return names;
}

class MaildirTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(maildir::MakeMaildir(a, false));
        ASSERT_TRUE(maildir::MakeMaildir(b, true));
    }
    storetesting::TempDir temp;
    std::string a = temp.path() + "/a";
    std::string b = temp.path() + "/.b";
};

} // namespace

TEST(BaseName, IsTheNameBeforeTheInfo) {
    EXPECT_EQ(maildir::BaseName("123.M4P5.host:2,RS"), "123.M4P5.host");
    EXPECT_EQ(maildir::BaseName("123.M4P5.host"), "123.M4P5.host");
    EXPECT_EQ(maildir::BaseName(":2,S"), "");
}

TEST_F(MaildirTest, MakeMaildirMarksSubfoldersOnly) {
    EXPECT_TRUE(maildir::IsMaildir(a));
    EXPECT_FALSE(filesIn(a).count("maildirfolder"));
    EXPECT_TRUE(filesIn(b).count("maildirfolder"));
}

TEST_F(MaildirTest, DeliverLeavesTheMessageInNewAndNothingInTmp) {
    std::string base;
    ASSERT_EQ(maildir::Deliver(a, "Subject: hi\n\nbody\n", base), 0);
    EXPECT_EQ(filesIn(a + "/new"), std::set<std::string>{base});
    EXPECT_TRUE(filesIn(a + "/tmp").empty());
    EXPECT_EQ(ReadFile(a + "/new/" + base), "Subject: hi\n\nbody\n");
    std::string second;
    ASSERT_EQ(maildir::Deliver(a, "", second), 0);
    EXPECT_NE(second, base);
}

TEST_F(MaildirTest, ScanSeesRegularFilesOnceByBaseName) {
    WriteFile(a + "/new/1.x", "one");
    WriteFile(a + "/cur/2.x:2,S", "two");
    WriteFile(a + "/new/3.x", "three, being renamed to cur/");
    WriteFile(a + "/cur/3.x:2,", "three");
    WriteFile(a + "/cur/.hidden", "not a message");
    ASSERT_EQ(::mkdir((a + "/cur/4.dir").c_str(), 0700), 0);
    WriteFile(a + "/cur/5.line\nbreak", "not a message either");
    std::vector<maildir::MessageFile> files;
    ASSERT_TRUE(maildir::ScanMessages(a, files));
    std::set<std::string> seen;
    for (const auto& file : files)
        seen.insert(file.base + "=" + file.relative);
    EXPECT_EQ(seen, (std::set<std::string>{"1.x=new/1.x", "2.x=cur/2.x:2,S", "3.x=cur/3.x:2,"}));
    std::uint32_t total = 0, unread = 0;
    ASSERT_TRUE(maildir::CountMessages(a, total, unread));
    EXPECT_EQ(total, 4u);  // counting does not pair names
    EXPECT_EQ(unread, 3u); // all of new/ and cur/3.x, which is not seen
    EXPECT_FALSE(maildir::ScanMessages(temp.path() + "/missing", files));
}

TEST_F(MaildirTest, MoveKeepsTheNameAndInfoAndNeverReplaces) {
    WriteFile(a + "/cur/1.x:2,S", "first");
    std::string moved;
    ASSERT_EQ(maildir::MoveFile(a, "cur/1.x:2,S", b, moved), 0);
    EXPECT_EQ(moved, "cur/1.x:2,S");
    EXPECT_EQ(ReadFile(b + "/cur/1.x:2,S"), "first");
    EXPECT_TRUE(filesIn(a + "/cur").empty());

    // The same name again: the one already there stays, the new one gets a
    // name of its own with the same info.
    WriteFile(a + "/cur/1.x:2,S", "second");
    ASSERT_EQ(maildir::MoveFile(a, "cur/1.x:2,S", b, moved), 0);
    EXPECT_NE(moved, "cur/1.x:2,S");
    EXPECT_TRUE(moved.starts_with("cur/"));
    EXPECT_TRUE(moved.ends_with(":2,S"));
    EXPECT_EQ(ReadFile(b + "/cur/1.x:2,S"), "first");
    EXPECT_EQ(ReadFile(b + "/" + moved), "second");

    EXPECT_EQ(maildir::MoveFile(a, "new/gone", b, moved), ENOENT);
}
