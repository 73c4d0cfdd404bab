#include "message/TextLines.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string text;
    Lines lines;
};

const SplitCase kSplitCases[] = {
    {"Empty", "", {}},
    {"NoLineEnd", "abc", {"abc"}},
    {"CrLf", "a\r\nb\r\n", {"a", "b"}},
    {"LoneCrAndLoneLf", "a\rb\nc", {"a", "b", "c"}},
    {"LfCrIsTwoLineEnds", "a\n\rb", {"a", "", "b"}},
    {"OnlyALineEnd", "\r\n", {""}},
    {"EmptyLinesKept", "\r\n\r\nx\r\n\r\n", {"", "", "x", ""}},
    {"CrCrLf", "a\r\r\nb", {"a", "", "b"}},
    {"EndsAtFirstNul", std::string("ab\r\ncd\0ef\r\ngh", 13), {"ab", "cd"}},
    {"NulFirst", std::string("\0abc", 4), {}},
    {"EightBitBytesKept", "\xe9t\xe9\n\xff", {"\xe9t\xe9", "\xff"}},
};

class SplitLinesTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLinesTable, GivesTheLines) {
    EXPECT_EQ(SplitLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitLinesTable, ::testing::ValuesIn(kSplitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JoinLines, EveryLineEndsWithCrLfTheLastOneToo) {
    EXPECT_EQ(JoinLines({}), "");
    EXPECT_EQ(JoinLines({""}), "\r\n");
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST(JoinLines, SplittingTheJoinedTextGivesTheSameLines) {
    const Lines lines = {"", "From x", "", "  ", "body", ""};
    EXPECT_EQ(SplitLines(JoinLines(lines)), lines);
}

} // namespace
