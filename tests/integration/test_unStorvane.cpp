// The store binding over the built store library, and without one.
#include "integration/unStorvane.h"
#include "platform/core/hooks.h"
#include "tests/platform/store/storetesting.h"

#include <gtest/gtest.h>
#include <unistd.h>

using Items = std::vector<std::string>;

TEST(SetListText, TakesLinesAsAStringListDoes) {
    struct Row {
        const char* name;
        std::string text;
        Items items;
    };
    const Row rows[] = {
        {"empty", "", {}},
        {"ended lines", "Inbox\r\nSpam\r\n", {"Inbox", "Spam"}},
        {"an empty item survives", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"last line without an end", "a\r\nb", {"a", "b"}},
        {"bare CR and LF end lines too", "a\rb\nc\r\n", {"a", "b", "c"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Items list{"old"};
        SetListText(list, row.text);
        EXPECT_EQ(list, row.items);
    }
}

TEST(TStorvaneWithoutLibrary, GivesNeutralAnswers) {
    storetesting::ScopedMaildir maildir;
    TStorvane binding("libstorvane-missing.so", "/nonexistent/libstorvane.so");
    binding.Load();
    EXPECT_FALSE(binding.Loaded());
    EXPECT_EQ(binding.OpenOrCreateFolder("Inbox"), 0u);
    EXPECT_EQ(binding.GetMessage(1, 1), nullptr);
    EXPECT_EQ(binding.GetMessageCount(1), 1);
    std::int32_t id = 5;
    EXPECT_EQ(binding.GetFirstMessage(1, id), nullptr);
    EXPECT_EQ(id, -1);
    id = 5;
    EXPECT_EQ(binding.GetNextMessage(1, id), nullptr);
    EXPECT_EQ(id, -1);
    Items list{"kept"};
    std::string text = "old";
    binding.GetFolderNames(list, text);
    EXPECT_EQ(list, Items{"kept"});
    EXPECT_EQ(text, "");
    EXPECT_FALSE(binding.HasFolder("Inbox"));
    EXPECT_EQ(binding.CreateMessage(1, "x", 0), 0u);
    binding.MoveMessage(1, 2, 3);
    binding.RegisterNotification(1, 2);
    binding.FreeMem(nullptr);
    binding.Unload();
    // Nothing was made in the store either.
    EXPECT_FALSE(platform::FileExists(maildir.root() + "/tarnix-special-folders"));
}

TEST(TStorvaneWithoutLibrary, ALibraryFileInTheCurrentFolderIsLoadedByThatNameOnly) {
    storetesting::TempDir dir;
    storetesting::WriteFile(dir.path() + "/libfake-storvane.so", "not a library");
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    // The file is there, so the fallback (the real library) is not tried.
    TStorvane binding("libfake-storvane.so", TStorvane::kFallbackPath);
    binding.Load();
    EXPECT_FALSE(binding.Loaded());
    ASSERT_EQ(::chdir(old), 0);
}

namespace {

class TStorvaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetMessageBoxHook(
            [this](const std::string& text, const std::string& caption, unsigned) {
                boxes.push_back(text + " | " + caption);
                return int(platform::IDOK);
            });
        binding.Load();
        ASSERT_TRUE(binding.Loaded());
    }
    void TearDown() override {
        binding.Unload();
        platform::SetMessageBoxHook({});
        EXPECT_EQ(boxes, Items{});
    }
    Items folderNames() {
        Items list;
        std::string text;
        binding.GetFolderNames(list, text);
        return list;
    }

    storetesting::ScopedMaildir maildir;
    Items boxes;
    TStorvane binding;
};

} // namespace

TEST_F(TStorvaneTest, ListsTheDefaultFoldersAndTheirText) {
    Items list{"old", "items"};
    std::string text;
    binding.GetFolderNames(list, text);
    EXPECT_EQ(list, (Items{"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts"}));
    EXPECT_EQ(text, "Inbox;Outbox;Sent Items;Deleted Items;Drafts;");
}

TEST_F(TStorvaneTest, HasFolderIgnoresCaseButKnowsNoSpecialNames) {
    EXPECT_TRUE(binding.HasFolder("sent items"));
    EXPECT_TRUE(binding.HasFolder("INBOX"));
    EXPECT_FALSE(binding.HasFolder("Sent"));
    EXPECT_FALSE(binding.HasFolder("Sent Item"));
    EXPECT_FALSE(binding.HasFolder(""));
}

TEST_F(TStorvaneTest, OpenOrCreateFolderMakesAMissingFolderOnce) {
    std::uint32_t spam = binding.OpenOrCreateFolder("Spam");
    EXPECT_NE(spam, 0u);
    std::uint32_t again = binding.OpenOrCreateFolder("Spam");
    EXPECT_NE(again, 0u);
    EXPECT_EQ(folderNames(),
              (Items{"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Spam"}));
    // A special name always finds its folder.
    std::uint32_t deleted = binding.OpenOrCreateFolder("Deleted");
    EXPECT_NE(deleted, 0u);
    EXPECT_EQ(folderNames().size(), 6u);
    for (std::uint32_t folder : {spam, again, deleted})
        binding.CloseFolder(folder);
}

TEST_F(TStorvaneTest, WalksMovesAndReadsThroughTheLibrary) {
    std::uint32_t inbox = binding.OpenOrCreateFolder("Inbox");
    std::uint32_t spam = binding.OpenOrCreateFolder("Spam (filtered)");
    std::int32_t id = 0;
    EXPECT_EQ(binding.GetFirstMessage(inbox, id), nullptr);
    EXPECT_EQ(id, -1);
    binding.CloseFolder(inbox);
    inbox = binding.OpenOrCreateFolder("Inbox");
    EXPECT_EQ(binding.CreateMessage(inbox, "Subject: one\r\n\r\n", 0), 1u);
    EXPECT_EQ(binding.CreateMessage(inbox, "Subject: two\r\n\r\n", 0), 2u);
    EXPECT_EQ(binding.GetMessageCount(inbox), 2);
    char* text = binding.GetFirstMessage(inbox, id);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(id, 1);
    EXPECT_STREQ(text, "Subject: one\r\n\r\n");
    binding.FreeMem(text);
    binding.MoveMessage(inbox, spam, 1);
    text = binding.GetNextMessage(inbox, id);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(id, 2);
    binding.FreeMem(text);
    EXPECT_EQ(binding.GetNextMessage(inbox, id), nullptr);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(binding.GetMessageCount(spam), 1);
    text = binding.GetMessage(spam, 1);
    EXPECT_STREQ(text, "Subject: one\r\n\r\n");
    binding.FreeMem(text);
    EXPECT_EQ(binding.GetMessage(0, 1), nullptr); // a folder of 0 is not passed on
    binding.MoveMessage(inbox, 0, 2);             // neither here
    EXPECT_EQ(binding.GetMessageCount(inbox), 1);
    binding.CloseFolder(inbox);
    binding.CloseFolder(spam);
}

TEST_F(TStorvaneTest, UnloadTwiceIsHarmless) {
    binding.Unload();
    EXPECT_FALSE(binding.Loaded());
    binding.Unload();
    EXPECT_EQ(binding.OpenOrCreateFolder("Inbox"), 0u);
    binding.Load(); // and it can be loaded again
    EXPECT_TRUE(binding.Loaded());
    EXPECT_EQ(folderNames().size(), 5u);
}
