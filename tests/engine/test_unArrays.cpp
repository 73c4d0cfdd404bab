#include "engine/unArrays.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(AssArray, ValuesAreStoredEncodedAndReadBackDecoded) {
    struct Row {
        const char* name;
        std::string value;
        std::string stored;
    };
    const Row rows[] = {
        {"plain", "hello", "hello"},
        {"backslash", "a\\b", "a\\\\b"},
        {"line breaks", "a\r\nb\nc\rd", "a\\r\\nb\\nc\\rd"},
        {"backslash before r", "\\r", "\\\\r"},
        {"empty", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TAssArray map;
        map.SetValue("K", row.value);
        ASSERT_EQ(map.Count(), 1);
        EXPECT_EQ(map.StoredValueAt(0), row.stored);
        EXPECT_EQ(map.GetValue("K"), row.value);
    }
}

TEST(AssArray, DecodingDropsUnknownEscapesAndALoneTrailingBackslash) {
    EXPECT_EQ(TAssArray::DecodeValue("a\\xb"), "ab");
    EXPECT_EQ(TAssArray::DecodeValue("ab\\"), "ab");
    EXPECT_EQ(TAssArray::DecodeValue("\\\\\\n\\r"), "\\\n\r");
}

TEST(AssArray, EncodeThenDecodeGivesBackEveryValue) {
    std::mt19937 random(7);
    const char alphabet[] = {'a', '\\', '\r', '\n', 'r', 'n', ',', '\t', '\0'};
    for (int round = 0; round < 500; ++round) {
        std::string value;
        for (int i = random() % 12; i > 0; --i)
            value += alphabet[random() % sizeof alphabet];
        EXPECT_EQ(TAssArray::DecodeValue(TAssArray::EncodeValue(value)), value);
    }
}

TEST(AssArray, KeysCompareExactlyAndTheDefaultFillsEmptyResults) {
    TAssArray map;
    map.SetValue("FROM", "x");
    map.SetValue("Empty", "");
    EXPECT_EQ(map.GetValue("From"), "");
    EXPECT_EQ(map.GetValue("From", "dflt"), "dflt");
    EXPECT_EQ(map.GetValue("FROM", "dflt"), "x");
    EXPECT_EQ(map.GetValue("Empty", "dflt"), "dflt");
    EXPECT_EQ(map.GetValue("Empty"), "");
}

TEST(AssArray, SetValueReplacesTheFirstEntryOrAppendsInOrder) {
    TAssArray map;
    map.SetValue("b", "1");
    map.SetValue("a", "2");
    map.SetValue("b", "3");
    ASSERT_EQ(map.Count(), 2);
    EXPECT_EQ(map.KeyAt(0), "b");
    EXPECT_EQ(map.StoredValueAt(0), "3");
    EXPECT_EQ(map.KeyAt(1), "a");
}

TEST(AssArray, AppendValueJoinsWithACommaOnlyAfterANonEmptyValue) {
    TAssArray map;
    map.AppendValue("Received", "x", true);
    EXPECT_EQ(map.GetValue("Received"), "x");
    map.AppendValue("Received", "y", true);
    EXPECT_EQ(map.GetValue("Received"), "x,y");
    map.AppendValue("Received", "z", false);
    EXPECT_EQ(map.GetValue("Received"), "x,yz");

    map.SetValue("Empty", "");
    map.AppendValue("Empty", "v", true);
    EXPECT_EQ(map.GetValue("Empty"), "v");

    map.AppendValue("Enc", "a\\", true);
    map.AppendValue("Enc", "\nb", true);
    EXPECT_EQ(map.StoredValueAt(map.Count() - 1), "a\\\\,\\nb");
    EXPECT_EQ(map.GetValue("Enc"), "a\\,\nb");
}

TEST(AssArray, KeysLoseTabsAndLineBreaksSoTheGivenKeyNoLongerFindsThem) {
    TAssArray map;
    map.SetValue("X\tY\r\n", "1");
    ASSERT_EQ(map.Count(), 1);
    EXPECT_EQ(map.KeyAt(0), "XY");
    EXPECT_EQ(map.GetValue("X\tY\r\n"), "");
    EXPECT_EQ(map.GetValue("XY"), "1");
    // The tab-containing key never matches, so it appends again.
    map.SetValue("X\tY\r\n", "2");
    EXPECT_EQ(map.Count(), 2);
    EXPECT_EQ(map.GetValue("XY"), "1");
}

TEST(AssArray, ManyKeysKeepFirstEntrySemantics) {
    // Beyond the linear-scan size the map looks keys up through its index;
    // the answers must stay those of a scan from the first entry.
    TAssArray map;
    for (int i = 0; i < 100; ++i)
        map.AppendValue("k" + std::to_string(i % 40), std::to_string(i), true);
    map.SetValue("dup\t", "first");
    map.SetValue("dup\t", "second"); // appends a second "dup"
    ASSERT_EQ(map.Count(), 42);
    EXPECT_EQ(map.GetValue("k0"), "0,40,80");
    EXPECT_EQ(map.GetValue("k39"), "39,79");
    EXPECT_EQ(map.GetValue("dup"), "first");
    map.SetValue("dup", "third");
    EXPECT_EQ(map.StoredValueAt(40), "third");
    EXPECT_EQ(map.StoredValueAt(41), "second");
}

} // namespace
