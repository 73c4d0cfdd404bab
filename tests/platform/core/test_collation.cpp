#include "platform/core/collation.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(Collation, IgnoresLetterCase) {
    EXPECT_EQ(platform::CompareTextIgnoreCase("Free", "free"), 0);
    EXPECT_EQ(platform::CompareTextIgnoreCase("BOX-1", "box-1"), 0);
    EXPECT_TRUE(platform::SameTextIgnoreCase("Sent Items", "sent items"));
    EXPECT_FALSE(platform::SameTextIgnoreCase("Sent Items", "Sent Item"));
    EXPECT_LT(platform::CompareTextIgnoreCase("abc", "ABCD"), 0); // a prefix sorts first
    EXPECT_GT(platform::CompareTextIgnoreCase("b", "ABCD"), 0);
}

TEST(Collation, SortsPunctuationThenDigitsThenLetters) {
    std::vector<std::string> words = {"zeta",  "_under", "Alpha",  "9lives", "-dash",     "beta",
                                      "[open", "$cash",  ":colon", "~tilde", "\xE9t\xE9", "ALPHA2"};
    std::sort(words.begin(), words.end(), platform::LessIgnoreCase());
    const std::vector<std::string> expected = {"$cash", "-dash",  "9lives", ":colon",
                                               "[open", "_under", "Alpha",  "ALPHA2",
                                               "beta",  "zeta",   "~tilde", "\xE9t\xE9"};
    EXPECT_EQ(words, expected);
}

} // namespace
