#include "engine/unSpamBayes.h"

#include "EngineTestSupport.h"
#include "platform/core/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>

namespace {

using enginetest::FakeWriter;
using enginetest::KnowledgeFolder;
using enginetest::MessageBoxRecorder;
using enginetest::ReadFile;
using enginetest::WriteFile;

using Lines = std::vector<std::string>;

struct StoredToken {
    std::string text;
    std::int32_t spam;
    std::int32_t good;
};

void putInt(std::string& out, std::int64_t value) {
    auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((u >> (8 * i)) & 0xff);
}

std::string record(const std::string& text, std::int32_t spam, std::int32_t good,
                   std::int64_t length) {
    std::string out;
    putInt(out, spam);
    putInt(out, good);
    putInt(out, length);
    return out + text;
}

std::string tokenFile(const std::vector<StoredToken>& tokens) {
    std::string out;
    putInt(out, static_cast<std::int64_t>(tokens.size()));
    for (const auto& token : tokens)
        out += record(token.text, token.spam, token.good,
                      static_cast<std::int64_t>(token.text.size()));
    return out;
}

std::vector<TMailToken> tableOf(const TSpamBayes& bayes) {
    std::vector<TMailToken> tokens;
    for (int i = 0; i < bayes.TokenCount(); ++i)
        tokens.push_back(bayes.Token(i));
    return tokens;
}

std::vector<std::string> textsOf(const TSpamBayes& bayes) {
    std::vector<std::string> texts;
    for (const auto& token : tableOf(bayes))
        texts.push_back(token.TokenText);
    return texts;
}

// ---------------------------------------------------------------------------
// Tokens

TEST(Tokenizer, CutsRunsOfTokenCharactersOfThreeToNineteenBytes) {
    struct Row {
        const char* name;
        std::string text;
        std::vector<std::string> tokens;
    };
    const Row rows[] = {
        {"words", "Buy cheap V1agra now!!!", {"Buy", "cheap", "V1agra", "now"}},
        {"slashes", "a/bc/def.gh", {"def.gh"}},
        {"colon and short run", "e-mail: ab x.yz", {"e-mail:", "x.yz"}},
        {"dollar", "price:$100", {"price:$100"}},
        {"slashes again", "a/b/c/def", {"def"}},
        {"lengths",
         "ok abc 1234567890123456789 12345678901234567890",
         {"abc", "1234567890123456789"}},
        {"brackets and caret", "[ab] {cd} ^_`x <ef> (gh)", {"[ab]", "^_`x"}},
        {"at sign and quotes", "user@host.com \"abc\" 'def'", {"user", "host.com", "abc", "def"}},
        {"8-bit bytes separate",
         "ab\xe9"
         "cde caf\xc3\xa9s",
         {"cde", "caf"}},
        {"backslash is a token character", "C:\\\\dir", {"C:\\\\dir"}},
        {"equals and plus separate", "a=bcd+efg", {"bcd", "efg"}},
        {"empty", "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Tokenize(row.text), row.tokens);
    }
}

// The tokenizer's rule, byte by byte, as written: the reference for the
// block-wise scanner.
std::vector<std::string> referenceTokenize(const std::string& text) {
    auto isTokenChar = [](unsigned char c) {
        return (c >= 65 && c <= 122) || (c >= 45 && c <= 58 && c != 47) || c == 36;
    };
    std::vector<std::string> tokens;
    std::string run;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && isTokenChar(static_cast<unsigned char>(text[i]))) {
            run += text[i];
            continue;
        }
        if (run.size() >= 3 && run.size() <= 19)
            tokens.push_back(run);
        run.clear();
    }
    return tokens;
}

TEST(Tokenizer, AgreesWithTheByteByByteRuleOnRandomTexts) {
    std::mt19937 random(99);
    // Token characters, separators and the bytes at the edges of the ranges.
    const std::string alphabet = std::string("aZ[`z$-.9:/ @,!\"<>=\t{~\x80\xff") + '\0' + "AM";
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int n = static_cast<int>(random() % 90); n > 0; --n) {
            // Long runs as well as short ones, so that runs cross blocks.
            char c = alphabet[random() % alphabet.size()];
            text.append(1 + random() % (random() % 4 == 0 ? 25 : 3), c);
        }
        ASSERT_EQ(Tokenize(text), referenceTokenize(text)) << testing::PrintToString(text);
    }
}

TEST(MessageTokens, AreDistinctIgnoringCaseSortedAndInTheFormMetFirst) {
    std::mt19937 random(5);
    const std::string letters = "aAbB:.-$";
    for (int round = 0; round < 200; ++round) {
        Lines body(3);
        std::vector<std::string> met;
        for (int n = 0; n < 80; ++n) {
            std::string word = "Prefix" + std::string(random() % 3, 'x'); // shared prefixes
            for (int k = static_cast<int>(random() % 8); k > 0; --k)
                word += letters[random() % letters.size()];
            body[random() % 3] += word + " ";
        }
        for (const auto& line : body)
            for (const auto& token : Tokenize(line))
                met.push_back(token);
        Lines tokens = MessageTokens({}, body);
        for (std::size_t i = 1; i < tokens.size(); ++i)
            ASSERT_LT(platform::CompareTextIgnoreCase(tokens[i - 1], tokens[i]), 0);
        for (const auto& token : tokens) {
            auto first = std::find_if(met.begin(), met.end(), [&](const std::string& m) {
                return platform::SameTextIgnoreCase(m, token);
            });
            ASSERT_EQ(*first, token);
        }
        std::set<std::string> folded;
        for (auto token : met) {
            for (char& c : token)
                c = static_cast<char>(platform::FoldCase(static_cast<unsigned char>(c)));
            folded.insert(token);
        }
        ASSERT_EQ(tokens.size(), folded.size());
    }
}

TEST(MessageTokens, HeaderTokensCarryTheKeyAndTheStoredValue) {
    TAssArray headers;
    headers.SetValue("Subject", "Cheap pills");
    headers.SetValue("Date", "Mon, 1 Jan 2024");
    headers.SetValue("date", "Tue");
    headers.SetValue("Path", "C:\\dir");
    EXPECT_EQ(MessageTokens(headers, {}),
              (Lines{"date*Tue", "Path*C:\\\\dir", "Subject*Cheap", "Subject*pills"}));
}

TEST(MessageTokens, EachTokenCountsOnceIgnoringCaseInTheFormMetFirst) {
    TAssArray headers;
    EXPECT_EQ(MessageTokens(headers, {"free Free", "FREE gamma", "Beta alpha beta"}),
              (Lines{"alpha", "Beta", "free", "gamma"}));
    EXPECT_EQ(MessageTokens(headers, {"FREE free"}), Lines{"FREE"});
    // Long texts fold across whole machine words too.
    EXPECT_EQ(MessageTokens(headers, {"ABCDEFGHIJKLMNOPQRS abcdefghijklmnopqrs"}),
              Lines{"ABCDEFGHIJKLMNOPQRS"});
}

// ---------------------------------------------------------------------------
// Probabilities

TEST(TokenProbability, FollowsTheSharesOfBothClasses) {
    struct Row {
        std::int32_t spam, good, nSpam, nGood;
        double probability;
    };
    const Row rows[] = {
        {3, 3, 10, 20, 0.5},
        {6, 0, 10, 20, 0.99},
        {0, 6, 10, 20, 0.01},
        {9, 1, 10, 20, 0.9},
        {8, 2, 10, 20, 0.8},
        {30, 0, 10, 20, 0.99}, // the share is capped at 1
        // An empty class: any occurrence counts as its full share.
        {6, 0, 0, 20, 0.99},
        {0, 6, 10, 0, 0.01},
        {3, 3, 0, 20, 1.0 / 1.3},
        {3, 3, 10, 0, 0.3 / 1.3},
        {3, 3, 0, 0, 0.5},
        // Counts no learning makes (a damaged file) still give a usable value.
        {10, -4, 10, 20, 0.99},
        {0, 0, 10, 20, 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.spam << "/" << row.good << " of " << row.nSpam << "/" << row.nGood);
        EXPECT_DOUBLE_EQ(TSpamBayes::ComputeProbability(row.spam, row.good, row.nSpam, row.nGood),
                         row.probability);
    }
}

// ---------------------------------------------------------------------------
// The table: learning, searching, loading, writing

TEST(SpamBayes, LearningCountsTokensOncePerMessageInByteOrder) {
    KnowledgeFolder folder;
    TSpamBayes bayes(0, 0);
    TAssArray headers;
    headers.SetValue("Subject", "free offer");
    bayes.LearnSpamTokens(headers, {"Free free offer"});
    bayes.LearnGoodTokens({}, {"free"});
    auto tokens = tableOf(bayes);
    ASSERT_EQ(textsOf(bayes), (Lines{"Free", "Subject*free", "Subject*offer", "free", "offer"}));
    EXPECT_EQ(tokens[0].SpamCount, 1); // "free" of the same message is the same token
    EXPECT_EQ(tokens[0].GoodCount, 0);
    EXPECT_EQ(tokens[3].SpamCount, 0);
    EXPECT_EQ(tokens[3].GoodCount, 1);
    // A token learned while running has no probability until the next load.
    for (const auto& token : tokens)
        EXPECT_EQ(token.Probability, 0.0);
    EXPECT_EQ(bayes.TokenProbability("Free"), 0.0);
}

TEST(SpamBayes, FindTokenAnswersTheIndexWhereTheTokenIsOrWouldGo) {
    KnowledgeFolder folder;
    TSpamBayes bayes(0, 0);
    bayes.LearnSpamTokens({}, {"bbb ddd Zzz"});
    struct Row {
        const char* token;
        int index;
        bool found;
    };
    const Row rows[] = {{"Aaa", 0, false},  {"Zzz", 0, true}, {"aaa", 1, false}, {"bbb", 1, true},
                        {"bbbb", 2, false}, {"ddd", 2, true}, {"eee", 3, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.token);
        auto result = bayes.FindToken(row.token);
        EXPECT_EQ(result.Index, row.index);
        EXPECT_EQ(result.Found, row.found);
    }
}

TEST(SpamBayes, WritesTheBinaryTableAndItsReadableCopyByteForByte) {
    KnowledgeFolder folder;
    TSpamBayes bayes(0, 0);
    TAssArray spamHeaders;
    spamHeaders.SetValue("Subject", "Buy cheap");
    spamHeaders.SetValue("Date", "Mon, 1 Jan 2024 10:00:00");
    spamHeaders.SetValue("X-Path", "C:\\tmp");
    bayes.LearnSpamTokens(spamHeaders, {"cheap pills now", "caf\xe9 now"});
    TAssArray goodHeaders;
    goodHeaders.SetValue("Subject", "Meeting");
    bayes.LearnGoodTokens(goodHeaders, {"see you at noon, cheap"});
    ASSERT_TRUE(bayes.WriteKnowledge());
    const std::string data = TARNIX_TEST_DATA "/engine/";
    EXPECT_EQ(ReadFile("tokenlist.txt"), ReadFile(data + "learned.tokenlist.txt"));
    EXPECT_EQ(ReadFile("tokenlist.txt.lst.txt"), ReadFile(data + "learned.tokenlist.txt.lst.txt"));

    // And the file loads back as it was, with the probabilities of the
    // counts given at load time.
    TSpamBayes loaded(1, 1);
    auto before = tableOf(bayes), after = tableOf(loaded);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].TokenText, before[i].TokenText);
        EXPECT_EQ(after[i].SpamCount, before[i].SpamCount);
        EXPECT_EQ(after[i].GoodCount, before[i].GoodCount);
    }
}

TEST(SpamBayes, LoadingComputesProbabilitiesAboveFiveOccurrencesOnly) {
    KnowledgeFolder folder;
    WriteFile("tokenlist.txt", tokenFile({{"five", 5, 0}, {"mixed", 3, 3}, {"six", 6, 0}}));
    TSpamBayes bayes(10, 20);
    EXPECT_EQ(bayes.TokenProbability("five"), 0.0);
    EXPECT_EQ(bayes.TokenProbability("mixed"), 0.5);
    EXPECT_EQ(bayes.TokenProbability("six"), 0.99);
    EXPECT_EQ(bayes.TokenProbability("seven"), 0.0);
}

TEST(SpamBayes, DamagedTableFilesLoadWhatIsThere) {
    const std::int64_t huge = std::numeric_limits<std::int32_t>::max();
    const std::string a = record("aaa", 1, 2, 3), b = record("bbb", 3, 4, 3);
    auto withCount = [](std::int64_t n, const std::string& records) {
        std::string out;
        putInt(out, n);
        return out + records;
    };
    struct Row {
        const char* name;
        std::string file;
        Lines tokens;
    };
    const Row rows[] = {
        {"empty file", "", {}},
        {"count cut short", "\x02\x00\x00", {}},
        {"count only", withCount(5, ""), {}},
        {"count claims 2^31 - 1", withCount(huge, a + b), {"aaa", "bbb"}},
        {"count claims -2^31", withCount(std::numeric_limits<std::int32_t>::min(), a), {}},
        {"count smaller than the records", withCount(1, a + b), {"aaa"}},
        {"length 0 ends reading", withCount(3, a + record("", 1, 1, 0) + b), {"aaa"}},
        {"negative length ends reading", withCount(3, a + record("", 1, 1, -5) + b), {"aaa"}},
        {"100 bytes are dropped",
         withCount(2, record(std::string(100, 'x'), 1, 1, 100) + a + b),
         {"aaa", "bbb"}},
        {"99 bytes are kept",
         withCount(1, record(std::string(99, 'x'), 1, 1, 99)),
         {std::string(99, 'x')}},
        {"length 2^31 - 1 past the end", withCount(3, a + record("ccc", 1, 1, huge)), {"aaa"}},
        {"text cut short", withCount(3, a + record("cc", 1, 1, 3)), {"aaa"}},
        {"record head cut short",
         withCount(3, a + std::string("\x01\x00\x00\x00\x02", 5)),
         {"aaa"}},
        {"text up to a zero byte", withCount(1, record(std::string("ab\0cd", 5), 1, 1, 5)), {"ab"}},
        {"order is trusted", withCount(2, b + a), {"bbb", "aaa"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        KnowledgeFolder folder;
        WriteFile("tokenlist.txt", row.file);
        TSpamBayes bayes(10, 20);
        EXPECT_EQ(textsOf(bayes), row.tokens);
    }
}

TEST(SpamBayes, ADamagedOrderStillTakesNewTokensWithoutLosingAny) {
    KnowledgeFolder folder;
    WriteFile("tokenlist.txt", tokenFile({{"ddd", 1, 0}, {"bbb", 1, 0}, {"bbb", 2, 0}}));
    TSpamBayes bayes(10, 20);
    bayes.LearnSpamTokens({}, {"aaa bbb ccc eee"});
    auto tokens = tableOf(bayes);
    ASSERT_EQ(tokens.size(), 6u);
    int bbbCounts = 0;
    for (const auto& token : tokens)
        if (token.TokenText == "bbb")
            bbbCounts += token.SpamCount;
    EXPECT_EQ(bbbCounts, 4); // the first "bbb" learned once more
}

TEST(SpamBayes, PruneDropsRareTokensAndReportsEveryThousandth) {
    KnowledgeFolder folder;
    std::vector<StoredToken> stored;
    for (int i = 0; i < 2500; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, "t%04d", i);
        stored.push_back({text, i % 2 == 0 ? 2 : 0, i % 2 == 0 ? 0 : 1});
    }
    WriteFile("tokenlist.txt", tokenFile(stored));
    FakeWriter files;
    TSpamBayes bayes(10, 20, files.writer());
    std::vector<std::pair<std::string, std::string>> reports;
    bayes.Prune([&](const std::string& progress, const std::string& neurons) {
        reports.emplace_back(progress, neurons);
    });
    EXPECT_EQ(reports, (std::vector<std::pair<std::string, std::string>>{
                           {"Progress: 40%", "Neurons: 1499 <-> 2000"},
                           {"Progress: 80%", "Neurons: 499 <-> 1500"}}));
    ASSERT_EQ(bayes.TokenCount(), 1250);
    EXPECT_EQ(bayes.Token(0).TokenText, "t0000");
    EXPECT_EQ(bayes.Token(1249).TokenText, "t2498");
    EXPECT_TRUE(bayes.FindToken("t0002").Found);
    EXPECT_FALSE(bayes.FindToken("t0001").Found);
    // Pruning alone does not make the table due for writing.
    bayes.Save();
    bayes.Save();
    EXPECT_EQ(files.writes("tokenlist.txt"), 0);
    // A learned message after it does, and the smaller table is written.
    bayes.LearnGoodTokens({}, {"t0001"});
    bayes.Save();
    bayes.Save();
    EXPECT_EQ(files.writes("tokenlist.txt"), 1);
    TSpamBayes reloaded(10, 20);
    EXPECT_EQ(reloaded.TokenCount(), 1251);
}

TEST(SpamBayes, DeferredSaveWritesAfterAQuietCallAndNotInABatch) {
    KnowledgeFolder folder;
    FakeWriter files;
    TSpamBayes bayes(0, 0, files.writer());
    bayes.BeginUpdate();
    bayes.LearnSpamTokens({}, {"token"});
    bayes.Save();
    bayes.Save();
    EXPECT_EQ(files.writes("tokenlist.txt"), 0);
    bayes.EndUpdate();
    bayes.Save();
    EXPECT_EQ(files.writes("tokenlist.txt"), 0);
    bayes.Save();
    EXPECT_EQ(files.writes("tokenlist.txt"), 1);
    EXPECT_EQ(files.writes("tokenlist.txt.lst.txt"), 1);
    EXPECT_EQ(ReadFile("tokenlist.txt.lst.txt"), "1;0;token\r\n");
}

TEST(SpamBayes, AFailedWriteCountsAsDoneAndKeepsTheOldFile) {
    KnowledgeFolder folder;
    MessageBoxRecorder boxes;
    FakeWriter files;
    TSpamBayes bayes(0, 0, files.writer());
    WriteFile("tokenlist.txt", "old");
    files.fail("tokenlist.txt");
    bayes.LearnSpamTokens({}, {"token"});
    bayes.Save();
    EXPECT_FALSE(bayes.Save());
    EXPECT_TRUE(bayes.Save()); // not tried again without a further change
    EXPECT_EQ(files.writes("tokenlist.txt"), 1);
    EXPECT_EQ(files.writes("tokenlist.txt.lst.txt"), 0);
    EXPECT_EQ(boxes.texts(), Lines{"Cannot save database"});
    EXPECT_EQ(ReadFile("tokenlist.txt"), "old");
}

TEST(SpamBayes, AnyOtherSaveFailureKeepsTheMarksSoTheNextCallTriesAgain) {
    KnowledgeFolder folder;
    MessageBoxRecorder boxes;
    int calls = 0;
    TSpamBayes bayes(0, 0, [&](const std::string&, std::string_view) -> bool {
        if (++calls == 1)
            throw std::runtime_error("unexpected");
        return true;
    });
    bayes.LearnSpamTokens({}, {"token"});
    bayes.Save();
    EXPECT_FALSE(bayes.Save());
    EXPECT_TRUE(bayes.Save());
    EXPECT_EQ(calls, 3); // both files on the retry
    EXPECT_EQ(boxes.texts(), Lines{"Cannot save changes in Bayes knowledge"});
}

// ---------------------------------------------------------------------------
// Scoring

struct Score {
    bool spam;
    std::string good, bad, report;
};

Score classify(const std::vector<StoredToken>& table, std::int32_t nSpam, std::int32_t nGood,
               const Lines& body) {
    KnowledgeFolder folder;
    if (!table.empty())
        WriteFile("tokenlist.txt", tokenFile(table));
    TSpamBayes bayes(nSpam, nGood);
    Score score;
    score.spam = bayes.Classify({}, body, score.good, score.bad, score.report);
    return score;
}

std::string reportOf(const std::string& first, const Lines& slots) {
    std::string report = first + " = SPAM probability\r\n--------------------\r\n";
    for (const auto& slot : slots)
        report += slot + "\r\n";
    for (std::size_t i = slots.size(); i < 16; ++i)
        report += "0.5 \r\n";
    return report;
}

std::string joined(const Lines& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

// Counts that give these probabilities with nSpam = 10 and nGood = 20.
StoredToken at099(const std::string& text) {
    return {text, 6, 0};
}
StoredToken at001(const std::string& text) {
    return {text, 0, 6};
}

TEST(Classify, AnEmptyTableGivesTheNeutralScore) {
    Score score = classify({}, 0, 0, {"anything at all"});
    EXPECT_FALSE(score.spam);
    EXPECT_EQ(score.report, reportOf("0.5", {}));
    EXPECT_EQ(score.bad, "");
    EXPECT_EQ(score.good, joined(Lines(16, "")));
}

TEST(Classify, OneTellingTokenDecidesAlone) {
    Score score = classify({at099("V1agra"), {"other", 1, 1}}, 10, 20, {"V1agra other unknown"});
    EXPECT_TRUE(score.spam);
    EXPECT_EQ(score.report, reportOf("0.99", {"0.99 V1agra"}));
    EXPECT_EQ(score.bad, "V1agra\r\n");
    EXPECT_EQ(score.good, joined(Lines(15, "")));
}

TEST(Classify, TheThresholdIsTheDoubleNearestToNinetyPercent) {
    Score nearest = classify({{"edge", 9, 1}}, 10, 20, {"edge"});
    EXPECT_TRUE(nearest.spam);
    EXPECT_EQ(nearest.report, reportOf("0.9", {"0.9 edge"}));
    // 5 spam / 1 good of 1 / 18 messages gives the next smaller double.
    ASSERT_EQ(TSpamBayes::ComputeProbability(5, 1, 1, 18), std::nextafter(0.9, 0.0));
    Score below = classify({{"edge", 5, 1}}, 1, 18, {"edge"});
    EXPECT_FALSE(below.spam);
    EXPECT_EQ(below.report, reportOf("0.9", {"0.9 edge"}));
}

TEST(Classify, OppositeClampsNearlyCancel) {
    Score score = classify({at099("spammy"), at001("hammy")}, 10, 20, {"spammy hammy"});
    EXPECT_FALSE(score.spam);
    // 0.01 is a little further from 0.5 than 0.99: it takes the first slot.
    EXPECT_EQ(score.report, reportOf("0.5", {"0.01 hammy", "0.99 spammy"}));
    EXPECT_EQ(score.good, "hammy\r\n" + joined(Lines(14, "")));
    EXPECT_EQ(score.bad, "spammy\r\n");
}

TEST(Classify, SixteenTokensAtTheLowerClampScoreZero) {
    std::vector<StoredToken> table;
    Lines body, slots;
    for (int i = 10; i < 26; ++i) {
        table.push_back(at001("g" + std::to_string(i)));
        body.push_back("g" + std::to_string(i));
        slots.push_back("0.01 g" + std::to_string(i));
    }
    table.push_back(at099("late"));
    body.push_back("late"); // nothing enters once sixteen 0.01 tokens are in
    Score score = classify(table, 10, 20, body);
    EXPECT_FALSE(score.spam);
    EXPECT_EQ(score.report, reportOf("0", slots));
}

TEST(Classify, OnlyTheFirstSixteenEquallyTellingTokensInSetOrderCount) {
    std::vector<StoredToken> table;
    Lines body, slots;
    for (int i = 30; i >= 11; --i) { // the body order does not matter, the set order does
        table.push_back(at099("s" + std::to_string(i)));
        body.push_back("s" + std::to_string(i));
    }
    for (int i = 11; i <= 26; ++i)
        slots.push_back("0.99 s" + std::to_string(i));
    Score score = classify(table, 10, 20, body);
    EXPECT_TRUE(score.spam);
    EXPECT_EQ(score.report, reportOf("1", slots));
}

TEST(Classify, TheFormMetFirstIsTheOneLookedUp) {
    // The set keeps "FREE"; the table knows only "free".
    Score score = classify({at099("free")}, 10, 20, {"FREE free"});
    EXPECT_FALSE(score.spam);
    EXPECT_EQ(score.report, reportOf("0.5", {}));
}

TEST(Classify, AMoreTellingLateTokenPushesTheLastSlotOut) {
    std::vector<StoredToken> table;
    Lines body, slots{"0.01 zzz"};
    for (int i = 10; i < 26; ++i) {
        table.push_back(at099("a" + std::to_string(i)));
        body.push_back("a" + std::to_string(i));
        if (i < 25)
            slots.push_back("0.99 a" + std::to_string(i));
    }
    table.push_back(at001("zzz"));
    body.push_back("zzz");
    Score score = classify(table, 10, 20, body);
    EXPECT_TRUE(score.spam);
    EXPECT_EQ(score.report, reportOf("1", slots));
}

TEST(Classify, EqualInterestKeepsSetOrderAndTheLastBinaryDigitCounts) {
    struct Row {
        const char* name;
        std::vector<StoredToken> table;
        std::int32_t nSpam, nGood;
        Lines slots;
    };
    const Row rows[] = {
        {"0.75 first", {{"aaa", 6, 2}, {"bbb", 2, 6}}, 8, 16, {"0.75 aaa", "0.25 bbb"}},
        {"0.25 first", {{"aaa", 2, 6}, {"bbb", 6, 2}}, 8, 16, {"0.25 aaa", "0.75 bbb"}},
        {"0.8 beats 0.2", {{"aaa", 2, 8}, {"bbb", 8, 2}}, 10, 20, {"0.8 bbb", "0.2 aaa"}},
        {"exactly 0.5 never enters", {{"aaa", 3, 3}}, 10, 20, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Score score = classify(row.table, row.nSpam, row.nGood, {"bbb aaa"});
        EXPECT_EQ(score.report, reportOf("0.5", row.slots));
    }
}

TEST(Classify, AppendsTheWordListsAndReplacesTheReport) {
    KnowledgeFolder folder;
    WriteFile("tokenlist.txt", tokenFile({at099("cheap")}));
    TSpamBayes bayes(10, 20);
    std::string good = "G:", bad = "W:", report = "old report";
    EXPECT_TRUE(bayes.Classify({}, {"cheap"}, good, bad, report));
    EXPECT_EQ(bad, "W:cheap\r\n");
    EXPECT_EQ(good, "G:" + joined(Lines(15, "")));
    EXPECT_EQ(report, reportOf("0.99", {"0.99 cheap"}));
}

TEST(Classify, HeaderTokensScoreToo) {
    KnowledgeFolder folder;
    WriteFile("tokenlist.txt", tokenFile({at099("Subject*cheap"), at099("V1agra")}));
    TSpamBayes bayes(10, 20);
    TAssArray headers;
    headers.SetValue("Subject", "cheap");
    std::string good, bad, report;
    EXPECT_TRUE(bayes.Classify(headers, {"V1agra"}, good, bad, report));
    EXPECT_EQ(report, reportOf("0.999898", {"0.99 Subject*cheap", "0.99 V1agra"}));
}

// ---------------------------------------------------------------------------
// Numbers and exact comparisons

TEST(NumberText, IsTheShortestFormOfFifteenSignificantDigits) {
    struct Row {
        double value;
        const char* text;
    };
    const Row rows[] = {
        {0.99, "0.99"},
        {0.5, "0.5"},
        {1, "1"},
        {2.0 / 3.0, "0.666666666666667"},
        {0, "0"},
        {0.1 + 0.2, "0.3"},
        {0.999898, "0.999898"},
        {0.00001, "0.00001"},
        {0.000012345, "0.000012345"},
        {0.000001, "1E-6"},
        {0.0000012345, "1.2345E-6"},
        {9.9999999999999995e-6, "0.00001"}, // rounds up to 1E-5 at 15 digits
        {1.174456366419813e-32, "1.17445636641981E-32"},
        {123.456, "123.456"},
        {100, "100"},
        {123456789012345, "123456789012345"},
        {1e15, "1E15"},
        {-0.25, "-0.25"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(NumberText(row.value), row.text) << row.text;
}

// number(x) as the rule reads: round to 15 significant digits, strip the
// trailing zeros, fixed notation from 0.00001 up to 1E15.
std::string referenceNumberText(double value) {
    if (value == 0)
        return "0";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    std::string digits = std::string(1, buffer[0]) + std::string(buffer + 2, 14);
    int exponent = std::atoi(std::strchr(buffer, 'e') + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string text = value < 0 ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        text += digits.substr(0, 1) + (digits.size() > 1 ? "." + digits.substr(1) : "");
        return text + "E" + std::to_string(exponent);
    }
    if (exponent < 0)
        return text + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    std::size_t whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole)
        return text + digits + std::string(whole - digits.size(), '0');
    return text + digits.substr(0, whole) + "." + digits.substr(whole);
}

TEST(NumberText, AgreesWithFifteenDigitRoundingOnRandomValues) {
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 100000; ++round) {
        double value;
        switch (round % 4) {
        case 0:
            value = unit(random); // probabilities: mostly 16 or 17 digits
            break;
        case 1:
            value = static_cast<double>(random() % 1000000) / 1000000.0; // report values
            break;
        case 2:
            value = std::ldexp(unit(random), static_cast<int>(random() % 120) - 100);
            break;
        default:
            value = std::nextafter(static_cast<double>(random() % 100000) / 100.0,
                                   round % 8 < 4 ? 0.0 : 1e9); // near short decimals
        }
        ASSERT_EQ(NumberText(value), referenceNumberText(value)) << std::hexfloat << value;
    }
}

TEST(NumberText, UsesTheLocaleDecimalSeparator) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    bool found = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "hu_HU.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name)) {
            found = true;
            break;
        }
    if (!found)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    std::string text = NumberText(0.25);
    std::string small = NumberText(0.0000015);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "0,25");
    EXPECT_EQ(small, "1,5E-6");
}

// |p - 0.5| scaled by 2^112, exactly, for 2^-60 <= p <= 1.
__int128 scaledInterest(double p) {
    int exponent = 0;
    double mantissa = std::frexp(p, &exponent); // p = mantissa * 2^exponent, 0.5 <= mantissa < 1
    auto m = static_cast<__int128>(std::ldexp(mantissa, 53)); // 53-bit integer
    __int128 scaled = m << (exponent - 53 + 112);
    __int128 half = static_cast<__int128>(1) << 111;
    return scaled > half ? scaled - half : half - scaled;
}

TEST(Interest, IsComparedExactlyNotAfterRoundingToADouble) {
    // 0.5 - 0.01 and 0.99 - 0.5 are the same double, but not the same number.
    ASSERT_EQ(0.5 - 0.01, 0.99 - 0.5);
    struct Row {
        double p, q;
        int order;
    };
    const Row rows[] = {
        {0.01, 0.99, 1}, {0.99, 0.01, -1}, {0.75, 0.25, 0}, {0.8, 0.2, 1},
        {0.2, 0.8, -1},  {0.5, 0.5, 0},    {0.49, 0.51, 0}, {0.3, 0.7, 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CompareInterest(row.p, row.q), row.order) << row.p << " " << row.q;

    // Against exact integer arithmetic, on random doubles and on their mirror
    // images around 0.5, where the rounding of p - 0.5 hides the difference.
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    int hidden = 0;
    for (int round = 0; round < 200000; ++round) {
        double p = std::max(uniform(random), 0x1p-60);
        double q = round % 2 ? 1.0 - p : std::nextafter(1.0 - p, round % 4 ? 0.0 : 1.0);
        q = std::max(q, 0x1p-60);
        __int128 a = scaledInterest(p), b = scaledInterest(q);
        int exact = (a > b) - (a < b);
        if (exact != 0 && std::fabs(p - 0.5) == std::fabs(q - 0.5))
            ++hidden;
        ASSERT_EQ(CompareInterest(p, q), exact) << p << " " << q;
    }
    EXPECT_GT(hidden, 1000); // the cases a double comparison would get wrong did occur
}

TEST(RoundToMillionths, RoundsTheExactProductWithTiesToEven) {
    struct Row {
        double p;
        double rounded;
    };
    const Row rows[] = {
        {0.0078125, 0.007812}, // 7812.5 exactly: to even
        {0.0234375, 0.023438}, // 23437.5 exactly: to even
        {0.6000005, 0.600001}, // the double product is 600000.5, the exact one above it
        {0.6000015, 0.600001}, // the double product is 600001.5, the exact one below it
        {0.9998984, 0.999898}, {1.174456366419813e-32, 0}, {1, 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RoundToMillionths(row.p), row.rounded) << row.p;
}

} // namespace
