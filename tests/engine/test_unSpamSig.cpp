#include "engine/unSpamSig.h"

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

namespace {

using enginetest::FakeWriter;
using enginetest::KnowledgeFolder;
using enginetest::MessageBoxRecorder;
using enginetest::ReadFile;
using enginetest::WriteFile;

TEST(SpamSigniture, SignatureIsTheLowerCaseHexMd5OfTheBytes) {
    struct Row {
        std::string text;
        const char* md5;
    };
    const Row rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {std::string("\r\n\r\nbody\xff\x00x", 11), "90b8102692383085353efd2f3e33c6ce"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TSpamSigniture::Signature(row.text), row.md5);
}

TEST(SpamSigniture, TeachingTwiceCountsOnceAndTheOtherClassGivesItUp) {
    KnowledgeFolder folder;
    TSpamSigniture store;
    EXPECT_FALSE(store.AddSpamSignature("\n\nbody"));
    EXPECT_TRUE(store.AddSpamSignature("\n\nbody"));
    EXPECT_EQ(store.SpamSignatureCount(), 1);
    EXPECT_TRUE(store.IsSpamSignature("\n\nbody"));
    EXPECT_FALSE(store.IsGoodSignature("\n\nbody"));

    // One changed byte, or another kind of blank line, is another message.
    EXPECT_FALSE(store.IsSpamSignature("\n\nbodY"));
    EXPECT_FALSE(store.IsSpamSignature("\r\n\r\nbody"));

    EXPECT_FALSE(store.AddGoodSignature("\n\nbody"));
    EXPECT_EQ(store.SpamSignatureCount(), 0);
    EXPECT_EQ(store.GoodSignatureCount(), 1);
    EXPECT_TRUE(store.IsGoodSignature("\n\nbody"));
    EXPECT_FALSE(store.IsSpamSignature("\n\nbody"));
}

TEST(SpamSigniture, FilesLoadSortedWithoutRepeatsAndAreWrittenBackSorted) {
    KnowledgeFolder folder;
    const std::string a = TSpamSigniture::Signature("a"); // 0cc1...
    const std::string b = TSpamSigniture::Signature("b"); // 92eb...
    std::string upperB = b;
    for (char& c : upperB)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    WriteFile("spamsig.txt", b + "\r\n" + a + "\n" + upperB + "\r" + b + "\r\n");
    WriteFile("notspamsig.txt", a + "\r\n");

    FakeWriter files;
    TSpamSigniture store(files.writer());
    EXPECT_EQ(store.SpamSignatureCount(), 2);
    EXPECT_EQ(store.GoodSignatureCount(), 1);
    EXPECT_TRUE(store.IsSpamSignature("b"));
    EXPECT_TRUE(store.IsGoodSignature("a"));

    store.AddGoodSignature("c"); // any change makes both files due
    store.Save();
    store.Save();
    EXPECT_EQ(ReadFile("spamsig.txt"), a + "\r\n" + b + "\r\n");
    std::string c = TSpamSigniture::Signature("c"); // 4a8a...
    EXPECT_EQ(ReadFile("notspamsig.txt"), a + "\r\n" + c + "\r\n");
}

TEST(SpamSigniture, MissingFilesGiveEmptyLists) {
    KnowledgeFolder folder;
    TSpamSigniture store;
    EXPECT_EQ(store.SpamSignatureCount(), 0);
    EXPECT_EQ(store.GoodSignatureCount(), 0);
    EXPECT_FALSE(std::filesystem::exists("spamsig.txt"));
}

TEST(SpamSigniture, DeferredSaveWritesAtTheSecondQuietCallAndNeverInABatch) {
    KnowledgeFolder folder;
    FakeWriter files;
    TSpamSigniture store(files.writer());
    store.AddSpamSignature("x");
    store.Save(); // the change is seen: now pending
    EXPECT_EQ(files.writes("spamsig.txt"), 0);
    store.AddSpamSignature("y"); // changes keep coming: still nothing written
    store.Save();
    EXPECT_EQ(files.writes("spamsig.txt"), 0);
    store.Save(); // quiet since the last call: written
    EXPECT_EQ(files.writes("spamsig.txt"), 1);
    EXPECT_EQ(files.writes("notspamsig.txt"), 1);
    store.Save();
    store.Save();
    EXPECT_EQ(files.writes("spamsig.txt"), 1);

    store.BeginUpdate();
    store.BeginUpdate();
    store.AddGoodSignature("z");
    for (int i = 0; i < 3; ++i)
        store.Save();
    store.EndUpdate();
    store.Save();
    EXPECT_EQ(files.writes("notspamsig.txt"), 1); // batches nest
    store.EndUpdate();
    store.Save();
    EXPECT_EQ(files.writes("notspamsig.txt"), 1);
    store.Save();
    EXPECT_EQ(files.writes("notspamsig.txt"), 2);
}

TEST(SpamSigniture, AFailedWriteKeepsTheOldFileAndTriesAgainAtEveryCall) {
    KnowledgeFolder folder;
    MessageBoxRecorder boxes;
    FakeWriter files;
    TSpamSigniture store(files.writer());
    WriteFile("spamsig.txt", "old\r\n");
    files.fail("spamsig.txt");
    store.AddSpamSignature("x");
    store.Save();
    EXPECT_FALSE(store.Save());
    EXPECT_FALSE(store.Save());
    EXPECT_EQ(boxes.texts(), (std::vector<std::string>{"Cannot save changes in sig knowledge",
                                                       "Cannot save changes in sig knowledge"}));
    EXPECT_EQ(boxes.captions().front(), kKnowledgeMessageCaption);
    EXPECT_EQ(ReadFile("spamsig.txt"), "old\r\n");
    files.heal();
    EXPECT_TRUE(store.Save());
    EXPECT_EQ(ReadFile("spamsig.txt"), TSpamSigniture::Signature("x") + "\r\n");
    EXPECT_EQ(files.writes("spamsig.txt"), 3);
    store.Save();
    EXPECT_EQ(files.writes("spamsig.txt"), 3);
    EXPECT_EQ(boxes.texts().size(), 2u);
}

} // namespace
