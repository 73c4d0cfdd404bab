#include "engine/unSpamManager.h"

#include "EngineTestSupport.h"
#include "message/QebAttFile.h"
#include "message/QebMsg.h"
#include "message/TextLines.h"
#include "platform/core/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

using enginetest::FakeWriter;
using enginetest::KnowledgeFolder;
using enginetest::MessageBoxRecorder;
using enginetest::ReadFile;
using enginetest::WriteFile;

using Lines = std::vector<std::string>;

const std::string kData = TARNIX_TEST_DATA "/engine/";

std::string fixture(const std::string& name) {
    return ReadFile(kData + name);
}

void copyKnowledgeFixture() {
    for (const auto& entry : std::filesystem::directory_iterator(kData + "knowledge"))
        std::filesystem::copy_file(entry.path(), entry.path().filename());
}

std::string message(const std::string& from, const std::string& subject, const std::string& body) {
    return "From: " + from + "\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

// A manager over its own counters and lists, in a fresh knowledge folder.
struct Engine {
    explicit Engine(TFileWriter writer = AtomicFileWriter())
        : manager(counters, black, white, std::move(writer)) {}
    TMemoryCounters counters;
    TSortedTextList black, white;
    TSpamManager manager;
};

// ---------------------------------------------------------------------------
// Preparing a message

TEST(PrepareMessage, TheFirstSeparatorPatternThatOccursWins) {
    struct Row {
        const char* name;
        std::string raw;
        std::optional<std::size_t> bodyStart;
    };
    const Row rows[] = {
        {"CR LF CR LF", "A: 1\r\n\r\nbody", 4},
        {"only LF LF", "A: 1\nB: 2\n\nbody", 9},
        {"a later CR LF CR LF beats an earlier LF LF", "A: 1\n\nx\r\n\r\nbody", 7},
        {"LF CR LF CR", "A: 1\n\r\n\rbody", 4},
        {"LF LF before CR CR", "A: 1\r\rB\n\nbody", 7},
        {"CR CR", "A: 1\r\rbody", 4},
        {"no separator", "A: 1\r\nB: 2\r\n", std::nullopt},
        {"nothing after a zero byte counts", std::string("A: 1\r\n\0\r\n\r\nbody", 15),
         std::nullopt},
    };
    Engine engine;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TPreparedMessage prepared = engine.manager.PrepareMessage(row.raw);
        EXPECT_EQ(prepared.BodyStart, row.bodyStart);
        if (row.bodyStart) {
            EXPECT_EQ(prepared.HeaderBlock, row.raw.substr(0, *row.bodyStart));
            EXPECT_EQ(TSpamManager::SignatureText(row.raw, prepared),
                      row.raw.substr(*row.bodyStart));
        } else {
            EXPECT_FALSE(prepared.HeaderBlock);
            EXPECT_EQ(prepared.HeaderMap.Count(), 0);
            EXPECT_TRUE(prepared.BodyLines.empty());
        }
    }
}

TEST(PrepareMessage, TheHeaderMapJoinsFoldedAndRepeatedHeaders) {
    struct Row {
        const char* name;
        std::string headerBlock;
        std::vector<std::pair<std::string, std::string>> entries; // key, stored value
    };
    const Row rows[] = {
        {"folded line keeps its blank", "Subject: Hello\r\n world", {{"Subject", "Hello, world"}}},
        {"folded with a tab", "Subject: a\n\tb", {{"Subject", "a,\tb"}}},
        {"repeated name", "Received: x\r\nReceived: y", {{"Received", "x,y"}}},
        {"no blank after the colon",
         "X-Test:value\r\n more\r\nA: 1",
         {{"", "X-Test:value, more"}, {"A", "1"}}},
        {"case kept, first \": \" splits", "FROM: a: b", {{"FROM", "a: b"}}},
        {"empty value", "A: \r\nA: x", {{"A", "x"}}},
        {"an empty line continues the header", "A: 1\r\rB: 2", {{"A", "1,"}, {"B", "2"}}},
        {"lines without a name share the empty name",
         "From x  Mon\r\nA: 1\r\nnoname",
         {{"", "From x  Mon,noname"}, {"A", "1"}}},
        {"a backslash is stored doubled", "Path: C:\\x", {{"Path", "C:\\\\x"}}},
    };
    Engine engine;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TPreparedMessage prepared = engine.manager.PrepareMessage(row.headerBlock + "\n\n\n");
        ASSERT_TRUE(prepared.HeaderBlock);
        std::vector<std::pair<std::string, std::string>> entries;
        for (int i = 0; i < prepared.HeaderMap.Count(); ++i)
            entries.emplace_back(prepared.HeaderMap.KeyAt(i), prepared.HeaderMap.StoredValueAt(i));
        EXPECT_EQ(entries, row.entries);
    }
}

TEST(PrepareMessage, BodyLinesHoldTheTextAttachmentNamesAndHtmlText) {
    struct Row {
        const char* name;
        std::string raw;
        Lines bodyLines;
    };
    const std::string multipart =
        "Subject: x\r\nContent-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
        "--BB\r\nContent-Type: text/plain\r\n\r\nhi there\r\n"
        "--BB\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\n"
        "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
        "filename=\"a.pdf\"\r\n"
        "\r\nJVBERi0xLjQK\r\n"
        "--BB\r\nContent-Type: text/html; name=\"page.html\"\r\n"
        "Content-Disposition: attachment; filename=\"page.html\"\r\n\r\n"
        "<p>Cheap pills</p>\r\n<b>now</b>\r\n--BB--\r\n";
    const Row rows[] = {
        {"plain text", "Subject: x\n\nline one\nline two\n", {"line one", "line two"}},
        {"no text and no attachment", "Subject: x\n\n", {"_EMPTY_BODY "}},
        {"an attachment name and the text of an html attachment",
         multipart,
         {"hi there", " a.pdf page.html <p>Cheap pills</p>", "<b>now</b>"}},
    };
    Engine engine;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(engine.manager.PrepareMessage(row.raw).BodyLines, row.bodyLines);
    }
}

TEST(PrepareMessage, BodyLinesAreTheJoinedAndSplitTextInEveryCase) {
    auto part = [](const std::string& headers, const std::string& body) {
        return "--BB\r\n" + headers + "\r\n\r\n" + body + "\r\n";
    };
    auto multipart = [](const std::string& parts) {
        return "Subject: x\r\nContent-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n" + parts +
               "--BB--\r\n";
    };
    const std::string html = "Content-Type: text/html; name=\"p.html\"\r\n"
                             "Content-Disposition: attachment; filename=\"p.html\"";
    const std::string html64 = html + "\r\nContent-Transfer-Encoding: base64";
    const std::string pdf = "Content-Type: application/pdf; name=\"a.pdf\"\r\n"
                            "Content-Disposition: attachment; filename=\"a.pdf\"";
    const std::string text64 = "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64";
    struct Row {
        const char* name;
        std::string raw;
    };
    const Row rows[] = {
        {"html attachment with no text", multipart(part(html64, ""))},
        {"html text with CR-only line ends and an empty line",
         multipart(part(html64, "PGI+YQ08L2I+DQ1i"))},
        {"html text without a last line end", multipart(part(html64, "PGI+"))},
        {"attachment after an html attachment", multipart(part(html, "<b>x</b>") + part(pdf, ""))},
        {"text, then attachments", multipart(part("Content-Type: text/plain", "\r\nhello\r\n") +
                                             part(pdf, "") + part(html, "one\r\ntwo"))},
        {"decoded text with a zero byte", multipart(part(text64, "YQBiDQpj") + part(pdf, ""))},
        {"decoded text with a line break", multipart(part(text64, "YQ1i"))},
        {"html text with a zero byte", multipart(part(html64, "YQBi"))},
        {"empty text part", multipart(part("Content-Type: text/plain", ""))},
    };
    Engine engine;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(engine.manager.PrepareMessage(row.raw).BodyLines,
                  enginetest::ReferenceBodyLines(row.raw));
    }
}

// ---------------------------------------------------------------------------
// Classifying

class ManagerWithKnowledge : public testing::Test {
protected:
    void SetUp() override {
        copyKnowledgeFixture();
        engine.manager.Init();
    }
    KnowledgeFolder folder;
    Engine engine;
};

TEST_F(ManagerWithKnowledge, StagesDecideInOrderWithTheirReasons) {
    TSpamManager& manager = engine.manager;
    const std::string knownSpam = message("x <friend@good.example>", "s", "known spam");
    const std::string knownGood = message("spammer@bad.example", "s", "known good");
    ASSERT_FALSE(manager.Signatures().AddSpamSignature("\r\n\r\nknown spam\r\n"));
    ASSERT_FALSE(manager.Signatures().AddGoodSignature("\r\n\r\nknown good\r\n"));
    struct Row {
        const char* name;
        std::string raw;
        bool spam;
        std::string reason;
    };
    const Row rows[] = {
        {"spam signature beats the white list", knownSpam, true,
         "Spam, based on known message signiture"},
        {"good signature beats the black list", knownGood, false,
         "Not spam based on known message signiture"},
        {"black list", message("Spam Co <SPAMMER@bad.example>", "s", "x1"), true,
         "Spam, based on black list"},
        {"white list", message("friend@good.example", "Cheap V1agra", "x2"), false,
         "Not spam, based on white list"},
        {"Bayes", fixture("analyze-bayes.eml"), true, fixture("analyze-bayes.reason.txt")},
        {"no separator", "Subject: none\r\n", false, ""},
    };
    int scans = 0, spams = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string reason = "stale";
        EXPECT_EQ(manager.IsSpam(row.raw, reason), row.spam);
        EXPECT_EQ(reason, row.reason);
        EXPECT_EQ(manager.LastMessage(), row.raw);
        EXPECT_EQ(engine.counters.ScanCount(), ++scans);
        EXPECT_EQ(engine.counters.SpamCount(), spams += row.spam);
    }
}

TEST_F(ManagerWithKnowledge, AnalyzeExplainsEveryStage) {
    std::string report;
    EXPECT_TRUE(engine.manager.AnalyzeMessage(fixture("analyze-bayes.eml"), report));
    EXPECT_EQ(report, fixture("analyze-bayes.report.txt"));
    EXPECT_EQ(engine.counters.ScanCount(), 1);
    EXPECT_EQ(engine.counters.SpamCount(), 1);
}

TEST(Analyze, AKnownSpamSignatureDecidesEvenForAWhiteListedSender) {
    KnowledgeFolder folder;
    copyKnowledgeFixture();
    const std::string raw = fixture("analyze-signature.eml");
    std::string signatures = ReadFile("spamsig.txt");
    signatures += TSpamSigniture::Signature(raw.substr(raw.find("\r\n\r\n"))) + "\r\n";
    WriteFile("spamsig.txt", signatures);
    Engine engine;
    engine.manager.Init();
    std::string report, reason;
    EXPECT_TRUE(engine.manager.AnalyzeMessage(raw, report));
    EXPECT_EQ(report, fixture("analyze-signature.report.txt"));
    EXPECT_TRUE(engine.manager.IsSpam(raw, reason));
    EXPECT_EQ(reason, "Spam, based on known message signiture");
    EXPECT_EQ(engine.counters.ScanCount(), 2);
    EXPECT_EQ(engine.counters.SpamCount(), 2);
}

TEST(Analyze, WithoutASeparatorTheReportIsEmpty) {
    KnowledgeFolder folder;
    Engine engine;
    engine.manager.Init();
    std::string report = "stale";
    EXPECT_FALSE(engine.manager.AnalyzeMessage("no separator here", report));
    EXPECT_EQ(report, "");
    EXPECT_EQ(engine.counters.ScanCount(), 1);
    EXPECT_EQ(engine.counters.SpamCount(), 0);
}

TEST(Classify, AParserFailureReachesTheCallerAfterTheScanIsCounted) {
    KnowledgeFolder folder;
    Engine engine;
    engine.manager.Init();
    const std::string broken = "Subject: x\n\nbegin 644 a.txt\nM~~~~\nend\n";
    std::string reason;
    try {
        engine.manager.IsSpam(broken, reason);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Oops...");
    }
    EXPECT_EQ(engine.counters.ScanCount(), 1);
    EXPECT_THROW(engine.manager.LearnSpam(broken), std::runtime_error);
    EXPECT_EQ(engine.manager.SpamSignatureCount(), 0);
    // The lock was left: another thread gets in.
    std::thread other([&] { EXPECT_EQ(engine.manager.TokenCount(), 0); });
    other.join();
}

TEST(Classify, OperationsBeforeInitAreRefused) {
    KnowledgeFolder folder;
    Engine engine;
    std::string reason;
    EXPECT_THROW(engine.manager.IsSpam("A: 1\n\nx", reason), std::logic_error);
    EXPECT_THROW(engine.manager.LearnSpam("A: 1\n\nx"), std::logic_error);
    EXPECT_THROW(engine.manager.BeginUpdate(), std::logic_error);
    engine.manager.SaveKnowledge(); // does nothing
    EXPECT_FALSE(std::filesystem::exists("spamsig.txt"));
}

// ---------------------------------------------------------------------------
// Learning

TEST(Learn, TeachingTwiceChangesNothingAndTheOtherClassMovesTheMessage) {
    KnowledgeFolder folder;
    Engine engine;
    TSpamManager& manager = engine.manager;
    manager.Init();
    const std::string raw = message("Seller <seller@shop.example>", "Cheap offer", "buy now");
    manager.LearnSpam(raw);
    EXPECT_EQ(manager.SpamSignatureCount(), 1);
    EXPECT_EQ(engine.black.Items(), Lines{"seller@shop.example"});
    // From*Seller (From*seller is the same ignoring case), From*shop.example,
    // Subject*Cheap, Subject*offer, buy, now.
    const int tokens = manager.TokenCount();
    EXPECT_EQ(tokens, 6);
    manager.LearnSpam(raw);
    EXPECT_EQ(manager.SpamSignatureCount(), 1);
    EXPECT_EQ(manager.Bayes().Token(manager.Bayes().FindToken("buy").Index).SpamCount, 1);

    manager.LearnNotSpam(raw);
    EXPECT_EQ(manager.SpamSignatureCount(), 0);
    EXPECT_EQ(manager.GoodSignatureCount(), 1);
    EXPECT_TRUE(engine.black.Items().empty());
    EXPECT_EQ(engine.white.Items(), Lines{"seller@shop.example"});
    TMailToken buy = manager.Bayes().Token(manager.Bayes().FindToken("buy").Index);
    EXPECT_EQ(buy.SpamCount, 1); // the first teaching's counts stay
    EXPECT_EQ(buy.GoodCount, 1);
    EXPECT_EQ(manager.TokenCount(), tokens);
    // Learning neither counts nor remembers the message.
    EXPECT_EQ(engine.counters.ScanCount(), 0);
    EXPECT_EQ(manager.LastMessage(), "");
}

TEST(Learn, AMessageWithoutSeparatorTeachesNothing) {
    KnowledgeFolder folder;
    Engine engine;
    engine.manager.Init();
    engine.manager.LearnSpam("From: a\r\nSubject: b\r\n");
    EXPECT_EQ(engine.manager.SpamSignatureCount(), 0);
    EXPECT_EQ(engine.manager.TokenCount(), 0);
    EXPECT_EQ(engine.manager.BlackCount(), 0);
}

TEST(Learn, TokenProbabilitiesComeFromTheSignatureCountsAtTheNextStart) {
    KnowledgeFolder folder;
    {
        Engine engine;
        engine.manager.Init();
        for (int i = 0; i < 6; ++i)
            engine.manager.LearnSpam(
                message("s" + std::to_string(i), "xyz", "cheapest " + std::to_string(i)));
        for (int i = 0; i < 6; ++i)
            engine.manager.LearnNotSpam(
                message("g" + std::to_string(i), "xyz", "meeting " + std::to_string(i)));
        std::string reason;
        EXPECT_FALSE(engine.manager.IsSpam(message("z", "y", "cheapest"), reason));
        EXPECT_TRUE(engine.manager.FlushKnowledge());
    }
    Engine engine;
    engine.manager.Init();
    EXPECT_EQ(engine.manager.Bayes().TokenProbability("cheapest"), 0.99);
    EXPECT_EQ(engine.manager.Bayes().TokenProbability("meeting"), 0.01);
    // 6 spam / 6 good of 6 / 6 messages: 1 / (1 + 1).
    EXPECT_EQ(engine.manager.Bayes().TokenProbability("Subject*xyz"), 0.5);
    std::string reason;
    EXPECT_TRUE(engine.manager.IsSpam(message("z", "y", "cheapest"), reason));
}

// ---------------------------------------------------------------------------
// Saving

TEST(SaveKnowledge, WritesEveryStoreAtTheSecondQuietCallAndTheCountersWhenTheyChanged) {
    KnowledgeFolder folder;
    FakeWriter files;
    Engine engine(files.writer());
    TSpamManager& manager = engine.manager;
    manager.Init();
    const std::string raw = message("a <a@x.example>", "hello", "some words");

    manager.BeginUpdate();
    manager.LearnSpam(raw);
    std::string reason;
    manager.IsSpam(raw, reason);
    manager.SaveKnowledge();
    manager.SaveKnowledge();
    manager.SaveKnowledge();
    for (const char* name : {"spamsig.txt", "tokenlist.txt", "blacklist.txt"})
        EXPECT_EQ(files.writes(name), 0) << name;
    // The counters are written all the same.
    EXPECT_EQ(RegReadString(kSettingsKey, "scanCount", ""), "1");
    EXPECT_EQ(RegReadString(kSettingsKey, "spamCount", ""), "1");
    EXPECT_EQ(engine.counters.SavedScanCount(), 1);

    manager.EndUpdate();
    manager.SaveKnowledge(); // sees the changes
    EXPECT_EQ(files.writes("tokenlist.txt"), 0);
    manager.SaveKnowledge(); // quiet: writes
    for (const char* name : {"spamsig.txt", "notspamsig.txt", "tokenlist.txt",
                             "tokenlist.txt.lst.txt", "blacklist.txt", "whitelist.txt"})
        EXPECT_EQ(files.writes(name), 1) << name;
    manager.SaveKnowledge();
    EXPECT_EQ(files.writes("tokenlist.txt"), 1);

    // Unchanged counters are not written again.
    RegWriteString(kSettingsKey, "scanCount", "untouched");
    manager.SaveKnowledge();
    EXPECT_EQ(RegReadString(kSettingsKey, "scanCount", ""), "untouched");
}

TEST(SaveKnowledge, FailuresAreShownAfterTheLockIsLeftAndRetried) {
    KnowledgeFolder folder;
    FakeWriter files;
    Engine engine(files.writer());
    TSpamManager& manager = engine.manager;
    manager.Init();
    manager.LearnSpam(message("a <a@x.example>", "hello", "words"));
    files.fail("spamsig.txt");
    files.fail("tokenlist.txt");
    files.fail("blacklist.txt");

    std::vector<std::string> texts;
    std::vector<bool> lockFree;
    platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        texts.push_back(text);
        bool free = false;
        std::thread probe([&] {
            if (manager.Lock().try_lock()) {
                free = true;
                manager.Lock().unlock();
            }
        });
        probe.join();
        lockFree.push_back(free);
        return platform::IDOK;
    });
    manager.SaveKnowledge();
    manager.SaveKnowledge();
    EXPECT_EQ(texts, (Lines{"Cannot save changes in sig knowledge", "Cannot save database",
                            "Cannot save changes in sig knowledge"}));
    EXPECT_EQ(lockFree, std::vector<bool>(3, true));
    // The signature and list stores try again; the table counts as saved.
    manager.SaveKnowledge();
    EXPECT_EQ(texts.size(), 5u);
    platform::SetMessageBoxHook({});
    files.heal();
    manager.SaveKnowledge();
    EXPECT_EQ(files.writes("tokenlist.txt"), 1);
    EXPECT_EQ(files.writes("spamsig.txt"), 3);
    EXPECT_TRUE(platform::FileExists("blacklist.txt"));
    EXPECT_FALSE(platform::FileExists("tokenlist.txt"));
}

TEST(SaveKnowledge, FlushWritesWhatChangedAtOnce) {
    KnowledgeFolder folder;
    FakeWriter files;
    Engine engine(files.writer());
    engine.manager.Init();
    EXPECT_TRUE(engine.manager.FlushKnowledge());
    EXPECT_EQ(files.writes("tokenlist.txt"), 0);
    engine.manager.LearnNotSpam(message("a@x.example", "hello", "words"));
    EXPECT_TRUE(engine.manager.FlushKnowledge());
    EXPECT_EQ(files.writes("tokenlist.txt"), 1);
    EXPECT_EQ(files.writes("whitelist.txt"), 1);
    EXPECT_EQ(ReadFile("whitelist.txt"), "a@x.example\r\n");
    MessageBoxRecorder boxes;
    files.fail("notspamsig.txt");
    engine.manager.LearnNotSpam(message("b@x.example", "hello", "other words"));
    EXPECT_FALSE(engine.manager.FlushKnowledge());
    EXPECT_EQ(boxes.texts(), Lines{"Cannot save changes in sig knowledge"});
}

// ---------------------------------------------------------------------------
// Threads and nested calls

TEST(Concurrency, ClassifyingTeachingAndSavingAtOnceStaySerialised) {
    KnowledgeFolder folder;
    Engine engine;
    TSpamManager& manager = engine.manager;
    manager.Init();
    constexpr int kRounds = 150;
    std::atomic<bool> failed{false};
    std::thread classifier([&] {
        for (int i = 0; i < kRounds; ++i) {
            std::string reason;
            manager.IsSpam(message("c" + std::to_string(i % 7), "offer " + std::to_string(i),
                                   "cheap words here " + std::to_string(i)),
                           reason);
            if (reason.empty())
                failed = true;
        }
    });
    std::thread teacher([&] {
        for (int i = 0; i < kRounds; ++i) {
            manager.BeginUpdate();
            manager.LearnSpam(message("s" + std::to_string(i), "spam " + std::to_string(i),
                                      "cheap words " + std::to_string(i)));
            manager.LearnNotSpam(message("g" + std::to_string(i), "note " + std::to_string(i),
                                         "meeting notes " + std::to_string(i)));
            manager.EndUpdate();
            if (i % 50 == 49)
                manager.Prune();
        }
    });
    std::thread saver([&] {
        for (int i = 0; i < kRounds; ++i)
            manager.SaveKnowledge();
    });
    classifier.join();
    teacher.join();
    saver.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(engine.counters.ScanCount(), kRounds);
    EXPECT_EQ(manager.SpamSignatureCount(), kRounds);
    EXPECT_EQ(manager.GoodSignatureCount(), kRounds);
    EXPECT_EQ(manager.BlackCount(), kRounds);
    manager.SaveKnowledge();
    manager.SaveKnowledge();
    EXPECT_TRUE(manager.FlushKnowledge());
    TSortedTextList black, white;
    TMemoryCounters counters;
    TSpamManager reloaded(counters, black, white);
    reloaded.Init();
    EXPECT_EQ(reloaded.SpamSignatureCount(), kRounds);
    EXPECT_EQ(reloaded.TokenCount(), manager.TokenCount());
}

TEST(Concurrency, ACallFromTheEventPumpOnTheSameThreadCompletes) {
    KnowledgeFolder folder;
    Engine engine;
    TSpamManager& manager = engine.manager;
    manager.Init();
    manager.LearnSpam(message("x", "y", "nested words"));
    // Base64 decoding lets pending events run after every line.
    const std::string outer =
        "Subject: outer\r\nContent-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
        "--BB\r\nContent-Type: text/plain\r\n\r\nouter text\r\n"
        "--BB\r\nContent-Type: application/octet-stream; name=\"b.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAAA\r\nAAAA\r\nAAAA\r\n--BB--\r\n";
    const std::string nested = message("x", "y", "nested words");
    int pumped = 0;
    bool nestedSpam = false;
    std::string nestedReason;
    platform::SetProcessEventsHook([&] {
        if (pumped++ > 0)
            return;
        nestedSpam = manager.IsSpam(nested, nestedReason);
        manager.SaveKnowledge();
        manager.LearnNotSpam(message("n", "m", "learned inside"));
    });
    std::string reason;
    bool spam = manager.IsSpam(outer, reason);
    platform::SetProcessEventsHook({});
    EXPECT_GE(pumped, 3);
    EXPECT_TRUE(nestedSpam);
    EXPECT_EQ(nestedReason, "Spam, based on known message signiture");
    EXPECT_FALSE(spam);
    EXPECT_EQ(reason.substr(0, 26), "0.5 = SPAM probability\r\n--");
    EXPECT_EQ(engine.counters.ScanCount(), 2);
    EXPECT_EQ(manager.GoodSignatureCount(), 1);
    // The nested call overwrote the last message; the outer one set it first.
    EXPECT_EQ(manager.LastMessage(), nested);
}

} // namespace
