#include "engine/TokenTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace {

// The table against a plain sorted map, through long random mixes of
// learning (few and many new tokens between order queries), searching,
// loading and pruning.
class TokenTableModel : public testing::Test {
protected:
    std::string randomToken() {
        // A small alphabet gives many shared prefixes and repeats.
        static const char letters[] = "aAbB:-.z";
        std::string text;
        for (int n = 3 + static_cast<int>(random() % 6); n > 0; --n)
            text += letters[random() % 8];
        return text;
    }

    void learn(const std::string& text) {
        auto& record = table.FindOrAdd(text);
        ++record.SpamCount;
        ++model[text];
    }

    void expectSameAsModel() {
        ASSERT_EQ(table.Count(), static_cast<int>(model.size()));
        int index = 0;
        for (const auto& [text, count] : model) {
            const auto& record = table.Item(index);
            ASSERT_EQ(table.TextOf(record), text) << "at " << index;
            ASSERT_EQ(record.SpamCount, count);
            ++index;
        }
    }

    void expectSearchesLikeModel(int probes) {
        for (int i = 0; i < probes; ++i) {
            std::string text = randomToken();
            auto position = table.FindToken(text);
            auto bound = model.lower_bound(text);
            ASSERT_EQ(position.Index, std::distance(model.begin(), bound)) << text;
            ASSERT_EQ(position.Found, bound != model.end() && bound->first == text) << text;
            const auto* record = table.Find(text);
            ASSERT_EQ(record != nullptr, position.Found);
        }
    }

    std::mt19937 random{42};
    TTokenTable table;
    std::map<std::string, int> model;
};

TEST_F(TokenTableModel, LearningInBatchesOfAnySizeKeepsByteOrder) {
    for (int round = 0; round < 40; ++round) {
        // Alternate small batches (inserted one by one) with large ones (merged).
        int batch = round % 3 == 0 ? 2000 : 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < batch; ++i)
            learn(randomToken());
        expectSearchesLikeModel(50);
    }
    expectSameAsModel();
}

TEST_F(TokenTableModel, OneByOneInsertionsSplitChunksCorrectly) {
    // Load a large ordered table, then add tokens that all fall in one place,
    // one order query after each, so that one chunk grows and splits.
    for (int i = 0; i < 3000; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "k%05d", i * 2);
        table.Append(text, 1, 0, 0.0);
        model[text] = 1;
    }
    for (int i = 0; i < 1500; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "k%05d!", 2000 + (i % 7));
        learn(text + std::to_string(i));
        auto position = table.FindToken(text + std::to_string(i));
        ASSERT_TRUE(position.Found);
        ASSERT_EQ(position.Index,
                  std::distance(model.begin(), model.find(text + std::to_string(i))));
    }
    expectSameAsModel();
}

TEST_F(TokenTableModel, RetainKeepsOrderAndLookups) {
    for (int i = 0; i < 5000; ++i)
        learn(randomToken());
    table.FindToken("x"); // place the pending tokens
    std::vector<bool> keep(static_cast<std::size_t>(table.Count()));
    for (auto id : table.OrderedIds()) {
        bool kept = table.Record(id).SpamCount >= 2;
        keep[id] = kept;
        if (!kept)
            model.erase(std::string(table.TextOf(table.Record(id))));
    }
    table.Retain(keep);
    expectSameAsModel();
    expectSearchesLikeModel(200);
    for (int i = 0; i < 300; ++i)
        learn(randomToken());
    expectSameAsModel();
}

TEST(TokenTable, RepeatedTextsOfADamagedFileStayAndLookupsSeeTheFirst) {
    TTokenTable table;
    table.Append("bbb", 1, 0, 0.25);
    table.Append("bbb", 2, 0, 0.75);
    table.Append("aaa", 3, 0, 0.5);
    ASSERT_EQ(table.Count(), 3);
    EXPECT_EQ(table.Find("bbb")->SpamCount, 1);
    EXPECT_EQ(table.Item(1).SpamCount, 2);
    EXPECT_EQ(table.TextOf(table.Item(2)), "aaa");
    table.FindOrAdd("ccc");
    EXPECT_EQ(table.Count(), 4);
    EXPECT_NE(table.Find("ccc"), nullptr);
}

} // namespace
