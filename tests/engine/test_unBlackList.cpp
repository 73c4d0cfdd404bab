#include "engine/unBlackList.h"

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

namespace {

using enginetest::FakeWriter;
using enginetest::KnowledgeFolder;
using enginetest::MessageBoxRecorder;
using enginetest::ReadFile;
using enginetest::WriteFile;

TAssArray headersFrom(std::initializer_list<std::pair<const char*, const char*>> entries) {
    TAssArray map;
    for (const auto& [key, value] : entries)
        map.AppendValue(key, value, true);
    return map;
}

TEST(SortedTextList, KeepsItemsSortedIgnoringCaseWithRepeats) {
    TSortedTextList list;
    for (const char* item : {"b", "A", "a", "C", "", "B"})
        list.Add(item);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"", "A", "a", "b", "B", "C"}));
    EXPECT_EQ(list.IndexOf("B"), 3);
    EXPECT_EQ(list.IndexOf("c"), 5);
    EXPECT_EQ(list.IndexOf(""), 0);
    EXPECT_EQ(list.IndexOf("bb"), -1);
    list.Delete(3);
    EXPECT_EQ(list.IndexOf("b"), 3); // the other "B"
    EXPECT_THROW(list.Delete(9), std::out_of_range);
}

TEST(BlackList, SenderAddressIsBetweenTheFirstAngleBrackets) {
    struct Row {
        const char* name;
        TAssArray headers;
        const char* sender;
    };
    const Row rows[] = {
        {"name and address", headersFrom({{"From", "John Smith <Box-1>"}}), "Box-1"},
        {"bare address", headersFrom({{"From", "box-1"}}), "box-1"},
        {"no closing bracket", headersFrom({{"From", "Name <box-1"}}), ""},
        {"empty brackets", headersFrom({{"From", "<>"}}), ""},
        {"capital header name", headersFrom({{"FROM", "box-1"}}), ""},
        {"no From at all", headersFrom({{"Subject", "hi"}}), ""},
        {"two From lines", headersFrom({{"From", "a <box-1>"}, {"From", "b <box-2>"}}), "box-1"},
        {"closing bracket before", headersFrom({{"From", "x> y <z>"}}), "z"},
        {"kept as written", headersFrom({{"From", " Box 1 "}}), " Box 1 "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TBlackList::SenderAddress(row.headers), row.sender);
    }
}

TEST(BlackList, LookupsIgnoreCaseAndAnEmptySenderMatchesOnlyAnEmptyEntry) {
    KnowledgeFolder folder;
    TSortedTextList black, white;
    black.Add("box-1");
    TBlackList lists(black, white);
    EXPECT_TRUE(lists.IsBlackListed(headersFrom({{"From", "John Smith <Box-1>"}})));
    EXPECT_FALSE(lists.IsWhiteListed(headersFrom({{"From", "John Smith <Box-1>"}})));
    EXPECT_FALSE(lists.IsBlackListed(headersFrom({{"From", "<>"}})));
    white.Add("");
    EXPECT_TRUE(lists.IsWhiteListed(headersFrom({{"From", "<>"}})));
}

TEST(BlackList, TeachingMovesTheSenderOverAndTeachingAgainChangesNothing) {
    KnowledgeFolder folder;
    FakeWriter files;
    TSortedTextList black, white;
    white.Add("Box-1");
    white.Add("other");
    TBlackList lists(black, white, files.writer());
    auto message = headersFrom({{"From", "J <box-1>"}});
    lists.LearnSpamSender(message);
    EXPECT_EQ(black.Items(), std::vector<std::string>{"box-1"});
    EXPECT_EQ(white.Items(), std::vector<std::string>{"other"});
    lists.Save();
    lists.Save();
    EXPECT_EQ(files.writes("blacklist.txt"), 1);

    lists.LearnSpamSender(message);
    lists.Save();
    lists.Save();
    EXPECT_EQ(files.writes("blacklist.txt"), 1); // nothing changed, nothing written
    EXPECT_EQ(black.Count(), 1);

    lists.LearnSpamSender(headersFrom({{"From", "Name <box-1"}})); // empty sender
    EXPECT_EQ(black.Count(), 1);

    lists.LearnGoodSender(message);
    EXPECT_EQ(black.Count(), 0);
    EXPECT_EQ(white.Items(), (std::vector<std::string>{"box-1", "other"}));
}

TEST(BlackList, FilesLoadAnyLineEndAndAreWrittenSortedWithCrLf) {
    KnowledgeFolder folder;
    WriteFile("blacklist.txt", "zed\rAlpha\n\nbeta\r\nalpha");
    WriteFile("whitelist.txt", "");
    FakeWriter files;
    TSortedTextList black, white;
    TBlackList lists(black, white, files.writer());
    EXPECT_EQ(black.Items(), (std::vector<std::string>{"", "Alpha", "alpha", "beta", "zed"}));
    EXPECT_EQ(lists.BlackCount(), 5);
    EXPECT_EQ(lists.WhiteCount(), 0);

    // An edit made directly in a list, then MarkChanged: written at the
    // second Save after it.
    white.Add("friend");
    lists.MarkChanged();
    lists.Save();
    EXPECT_EQ(files.writes("whitelist.txt"), 0);
    lists.Save();
    EXPECT_EQ(ReadFile("blacklist.txt"), "\r\nAlpha\r\nalpha\r\nbeta\r\nzed\r\n");
    EXPECT_EQ(ReadFile("whitelist.txt"), "friend\r\n");
}

TEST(BlackList, AFailedWriteShowsTheMessageAndTriesAgain) {
    KnowledgeFolder folder;
    MessageBoxRecorder boxes;
    FakeWriter files;
    TSortedTextList black, white;
    TBlackList lists(black, white, files.writer());
    WriteFile("whitelist.txt", "old\r\n");
    files.fail("whitelist.txt");
    lists.LearnGoodSender(headersFrom({{"From", "new"}}));
    lists.Save();
    EXPECT_FALSE(lists.Save());
    EXPECT_FALSE(lists.Save());
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Cannot save changes in sig knowledge",
                                                       "Cannot save changes in sig knowledge"}));
    EXPECT_EQ(ReadFile("whitelist.txt"), "old\r\n");
    files.heal();
    EXPECT_TRUE(lists.Save());
    EXPECT_EQ(ReadFile("whitelist.txt"), "new\r\n");
    EXPECT_EQ(boxes.texts().size(), 2u);
}

} // namespace
