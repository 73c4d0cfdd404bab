// The engine on the real corpus: every message is taught, the knowledge goes
// to the files and comes back unchanged, and every taught message is known
// again by its signature.
#include "engine/unSpamManager.h"

#include "EngineTestSupport.h"
#include "message/QebAttFile.h"
#include "message/QebMsg.h"
#include "message/TextLines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

namespace fs = std::filesystem;
using enginetest::KnowledgeFolder;
using enginetest::ReadFile;

struct Message {
    std::string name, raw;
};

std::vector<Message> readClass(const fs::path& folder) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<Message> messages;
    for (const auto& path : paths)
        messages.push_back({path.filename().string(), ReadFile(path.string())});
    return messages;
}

struct Engine {
    TMemoryCounters counters;
    TSortedTextList black, white;
    TSpamManager manager{counters, black, white};
};

TEST(EngineCorpus, TeachesEverythingAndKnowsItAgainAfterAReload) {
    const fs::path corpus = TARNIX_CORPUS_DIR;
    if (!fs::is_directory(corpus / "ham") || !fs::is_directory(corpus / "spam"))
        GTEST_SKIP() << "no corpus at " << corpus;
    const auto ham = readClass(corpus / "ham");
    const auto spam = readClass(corpus / "spam");
    KnowledgeFolder folder;

    std::set<std::string> unparsable;
    auto teach = [&](TSpamManager& manager, const std::vector<Message>& messages, bool isSpam) {
        for (const auto& message : messages) {
            try {
                isSpam ? manager.LearnSpam(message.raw) : manager.LearnNotSpam(message.raw);
            } catch (const std::runtime_error& error) {
                ASSERT_STREQ(error.what(), "Oops...") << message.name;
                unparsable.insert(message.raw);
            }
        }
    };
    std::vector<TMailToken> taught;
    int longTokens = 0;
    {
        Engine engine;
        engine.manager.Init();
        engine.manager.BeginUpdate();
        teach(engine.manager, ham, false);
        engine.manager.Prune();
        teach(engine.manager, spam, true);
        engine.manager.Prune();
        engine.manager.EndUpdate();
        ASSERT_TRUE(engine.manager.FlushKnowledge());
        std::lock_guard lock(engine.manager.Lock());
        std::string previous;
        for (int i = 0; i < engine.manager.TokenCount(); ++i) {
            TMailToken token = engine.manager.Bayes().Token(i);
            if (i > 0) {
                ASSERT_LT(previous, token.TokenText);
            }
            previous = token.TokenText;
            ASSERT_GE(token.SpamCount + token.GoodCount, 2) << "pruned: " << token.TokenText;
            if (token.TokenText.size() >= 100)
                ++longTokens;
            else
                taught.push_back(token);
        }
        ASSERT_GT(taught.size(), 10000u);
    }
    const std::string written = ReadFile("tokenlist.txt");

    Engine engine;
    engine.manager.Init();
    {
        std::lock_guard lock(engine.manager.Lock());
        TSpamBayes& bayes = engine.manager.Bayes();
        ASSERT_EQ(bayes.TokenCount(), static_cast<int>(taught.size()));
        for (int i = 0; i < bayes.TokenCount(); ++i) {
            TMailToken token = bayes.Token(i);
            ASSERT_EQ(token.TokenText, taught[static_cast<std::size_t>(i)].TokenText);
            ASSERT_EQ(token.SpamCount, taught[static_cast<std::size_t>(i)].SpamCount);
            ASSERT_EQ(token.GoodCount, taught[static_cast<std::size_t>(i)].GoodCount);
        }
        ASSERT_TRUE(bayes.WriteKnowledge());
    }
    if (longTokens == 0) {
        EXPECT_EQ(ReadFile("tokenlist.txt"), written);
    }

    const std::set<std::string> spamSignatures = [&] {
        std::lock_guard lock(engine.manager.Lock());
        const auto& list = engine.manager.Signatures().SpamSignatures();
        return std::set<std::string>(list.begin(), list.end());
    }();
    auto check = [&](const std::vector<Message>& messages, bool isSpam) {
        for (const auto& message : messages) {
            if (unparsable.contains(message.raw))
                continue;
            std::string reason;
            bool verdict = engine.manager.IsSpam(message.raw, reason);
            TPreparedMessage prepared = engine.manager.PrepareMessage(message.raw);
            ASSERT_EQ(prepared.BodyLines, enginetest::ReferenceBodyLines(message.raw))
                << message.name;
            std::string signature =
                TSpamSigniture::Signature(TSpamManager::SignatureText(message.raw, prepared));
            // A body taught as good and then as spam counts as spam.
            bool expectSpam = isSpam || spamSignatures.contains(signature);
            ASSERT_EQ(verdict, expectSpam) << message.name;
            ASSERT_EQ(reason, expectSpam ? "Spam, based on known message signiture"
                                         : "Not spam based on known message signiture")
                << message.name;
        }
    };
    check(ham, false);
    check(spam, true);
    EXPECT_EQ(engine.counters.ScanCount(),
              static_cast<std::int32_t>(ham.size() + spam.size() - unparsable.size()));
}

} // namespace
