#include "message/MimeHeaders.h"
#include "message/QebAttFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <random>

namespace {

using Lines = std::vector<std::string>;

// What a failing row shows: its name.
struct Named {
    const char* name;
};
std::ostream& operator<<(std::ostream& os, const Named& row) {
    return os << row.name;
}

template <typename Case>
std::string RowName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// --- FindHeader ------------------------------------------------------------

struct FindCase : Named {
    const char* key;
    Lines lines;
    std::optional<std::string> found;
};

const FindCase kFindCases[] = {
    {{"EmptyList"}, "SUBJECT:", {}, std::nullopt},
    {{"OnlyEmptyLines"}, "SUBJECT:", {"", ""}, std::nullopt},
    {{"KeyComparedInUpperCase"}, "SUBJECT:", {"sUbJeCt: x"}, "sUbJeCt: x"},
    {{"ToDoesNotMatchReplyTo"}, "TO:", {"Reply-To: a@b", "To: c@d"}, "To: c@d"},
    {{"FirstOfSeveralWins"}, "SUBJECT:", {"Subject: one", "Subject: two"}, "Subject: one"},
    {{"KeyMustStartTheLine"}, "SUBJECT:", {" Subject: x", "X-Subject: y"}, std::nullopt},
    {{"ContinuationTrimmedAndJoinedWithNothingBetween"},
     "SUBJECT:",
     {"Subject: Hello", "\t World  ", " again", "X: y", " not this"},
     "Subject: HelloWorldagain"},
    {{"LineOfBlanksContinuesTheHeader"}, "SUBJECT:", {"Subject: a", "   ", " b"}, "Subject: ab"},
    {{"ContinuationEndsAtAnEmptyLine"}, "SUBJECT:", {"Subject: a", "", " b"}, "Subject: a"},
    {{"NeverLooksPastTheBlockEnd"}, "SUBJECT:", {"From: a", "", "Subject: x"}, std::nullopt},
    {{"LeadingEmptyLinesSkipped"},
     "SUBJECT:",
     {"", "", "Subject: x", "", "Subject: y"},
     "Subject: x"},
    {{"LineOfBlanksBelongsToTheBlock"}, "SUBJECT:", {"From: a", " ", "Subject: x"}, "Subject: x"},
};

class FindHeaderTable : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindHeaderTable, FindsTheHeaderWithItsContinuations) {
    EXPECT_EQ(FindHeader(GetParam().key, GetParam().lines), GetParam().found);
    // Several keys at once find the same, each on its own.
    const auto found = FindHeaders({"FROM:", GetParam().key, "X:"}, GetParam().lines);
    EXPECT_EQ(found[0], FindHeader("FROM:", GetParam().lines));
    EXPECT_EQ(found[1], GetParam().found);
    EXPECT_EQ(found[2], FindHeader("X:", GetParam().lines));
}

INSTANTIATE_TEST_SUITE_P(Cases, FindHeaderTable, ::testing::ValuesIn(kFindCases),
                         RowName<FindCase>);

// --- HeaderValue -------------------------------------------------------------

struct ValueCase : Named {
    const char* key;
    std::string line;
    std::string value;
};

const ValueCase kValueCases[] = {
    {{"TrimmedAndCutAtSemicolon"}, "SUBJECT:", "Subject:   Hello; world ", "Hello"},
    {{"ControlCharactersTrimmed"}, "A:", "A:\t x \x01", "x"},
    {{"NothingBeforeTheSemicolon"}, "A:", "A: ;b", ""},
    {{"KeyAbsent"}, "X:", "nothing here", ""},
    {{"KeyFoundAnywhereInTheLine"}, "TO:", "Reply-To: x@y", "x@y"},
    {{"NameWithoutParameterIsEmpty"}, "NAME", "Content-Type: text/plain; charset=us-ascii", ""},
    {{"NameParameterKeepsItsEqualsSign"},
     "NAME",
     "Content-Type: application/zip; name=\"a.zip\"",
     "=\"a.zip\""},
    {{"FirstNameMayBeInsideFilename"},
     "NAME",
     "Content-Type: x/y; filename=f.txt; name=n.txt",
     "=f.txt"},
};

class HeaderValueTable : public ::testing::TestWithParam<ValueCase> {};

TEST_P(HeaderValueTable, GivesTheValue) {
    EXPECT_EQ(HeaderValue(GetParam().key, GetParam().line), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderValueTable, ::testing::ValuesIn(kValueCases),
                         RowName<ValueCase>);

// --- StripHeaderBlock ----------------------------------------------------------

struct StripCase : Named {
    Lines lines;
    Lines body;
};

const StripCase kStripCases[] = {
    {{"Empty"}, {}, {}},
    {{"HeaderAndBlankLinesGo"}, {"A: b", "C: d", "", "", "body", "", "more"}, {"body", "", "more"}},
    {{"LinesOfBlanksCountAsEmpty"}, {"A: b", "  ", "\t", "body"}, {"body"}},
    {{"NoHeaderBlock"}, {"", "", "body"}, {"body"}},
    {{"OnlyAHeader"}, {"A: b"}, {}},
    {{"FirstParagraphOfAHeaderlessPartGoes"}, {"text", "", "more"}, {"more"}},
};

class StripHeaderBlockTable : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripHeaderBlockTable, LeavesTheBody) {
    Lines lines = GetParam().lines;
    StripHeaderBlock(lines);
    EXPECT_EQ(lines, GetParam().body);
    EXPECT_EQ(HeaderBlockLength(GetParam().lines), GetParam().lines.size() - lines.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, StripHeaderBlockTable, ::testing::ValuesIn(kStripCases),
                         RowName<StripCase>);

// --- BoundaryOf -----------------------------------------------------------------

struct BoundaryCase : Named {
    std::string line;
    std::string delimiter;
};

const BoundaryCase kBoundaryCases[] = {
    {{"Quoted"}, "Content-Type: multipart/mixed; boundary=\"abc\"", "--abc"},
    {{"UnquotedCutAtSemicolon"}, "Content-Type: multipart/mixed; boundary=abc; x=y", "--abc"},
    {{"QuotedWithSemicolonInside"}, "Content-Type: multipart/mixed; BOUNDARY=\"a;b\"", "--a"},
    {{"BlanksAroundEquals"}, "Content-Type: multipart/mixed; boundary = abc", "--abc"},
    {{"FoldedHeaderAsFindHeaderJoinsIt"},
     *FindHeader("CONTENT-TYPE:", Lines{"Content-Type: multipart/mixed;", "\tboundary=\"xyz\""}),
     "--xyz"},
    {{"WithoutParameterReadsFromTheEighthCharacter"},
     "Content-Type: multipart/mixed",
     "--Type: multipart/mixed"},
    {{"EmptyParameter"}, "Content-Type: multipart/mixed; boundary=", "--"},
    {{"UnterminatedQuote"}, "Content-Type: multipart/mixed; boundary=\"abc", "--abc"},
    {{"ReadFromAtMost72Characters"},
     "Content-Type: multipart/mixed; boundary=" + std::string(80, 'x'),
     "--" + std::string(71, 'x')},
    {{"LongQuotedBoundaryLosesOnlyItsClosingQuote"},
     "Content-Type: multipart/mixed; boundary=\"" + std::string(70, 'y') + "\"",
     "--" + std::string(70, 'y')},
};

class BoundaryOfTable : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(BoundaryOfTable, GivesTheDelimiterLine) {
    EXPECT_EQ(BoundaryOf(GetParam().line), GetParam().delimiter);
}

INSTANTIATE_TEST_SUITE_P(Cases, BoundaryOfTable, ::testing::ValuesIn(kBoundaryCases),
                         RowName<BoundaryCase>);

// --- DecodeEncodedWords ----------------------------------------------------------

// The algorithm as it stands, word by word, starting over from the beginning
// of the text after every word: the reference the fast decoder must match.
std::string ReferenceDecodeEncodedWords(std::string text) {
    for (;;) {
        const std::size_t open = text.find("=?");
        if (open == std::string::npos)
            return text;
        const std::string before = text.substr(0, open);
        std::string rest = text.substr(open + 2);
        const std::size_t q = rest.find('?'); // Q - 1
        if (q == std::string::npos)
            return text;
        char kind = q + 1 < rest.size() ? rest[q + 1] : '\0';
        if (kind >= 'a' && kind <= 'z')
            kind = static_cast<char>(kind - 'a' + 'A');
        rest.erase(0, std::min(rest.size(), q + 3)); // the first Q + 2 characters
        const std::size_t r = rest.find("?=");
        if (r == std::string::npos)
            return text;
        const std::string data = rest.substr(0, r);
        const std::string after = rest.substr(r + 2);
        std::string decoded;
        if (kind == 'Q')
            decoded = QPDecode(data);
        else if (kind == 'B')
            decoded = DecodeBase64Text(data);
        text = before + decoded + after;
    }
}

struct WordsCase : Named {
    std::string text;
    std::string decoded;
};

const WordsCase kWordsCases[] = {
    {{"NoEncodedWord"}, "plain text", "plain text"},
    {{"QWordCharsetIgnored"}, "=?iso-8859-1?Q?Caf=E9_cr=E8me?=", "Caf\xe9 cr\xe8me"},
    {{"LowerCaseKind"}, "=?x?q?a_b?=", "a b"},
    {{"BWord"}, "=?utf-8?B?SGVsbG8=?=", "Hello"},
    {{"BlanksBetweenWordsRemain"}, "Re: =?x?Q?a?= =?x?b?Yg==?= c", "Re: a b c"},
    {{"NoFurtherQuestionMark"}, "cost =?abc", "cost =?abc"},
    {{"Unterminated"}, "=?x?Q?abc", "=?x?Q?abc"},
    {{"KindWithoutData"}, "=?x?Q", "=?x?Q"},
    {{"OtherKindDropped"}, "a=?x?X?zz?=b", "ab"},
    {{"EmptyCharset"}, "=??Q?a?=", "a"},
    {{"NulEndsQData"}, "=?x?Q?a=00b?=c", "ac"},
    {{"DecodedTextIsDecodedAgain"}, "=?x?Q?=3D?=?x?Q?y?=", "y"},
    {{"LastCharacterBeforeFormsANewWord"}, "a==?x?Q??x?Q?b?=?=", "ab"},
    {{"WordsStopAtTheFirstUnterminated"}, "=?x?Q?a?= =?x?Q?b", "a =?x?Q?b"},
    {{"QuestionMarkOfTheKindDoesNotClose"}, "=?x?Q?=41?=", "A"},
    {{"OneWordPerByteGivesTheSameText"}, "=?x?Q?H?==?x?Q?i?==?x?B?IQ==?=", "Hi!"},
};

class DecodeEncodedWordsTable : public ::testing::TestWithParam<WordsCase> {};

TEST_P(DecodeEncodedWordsTable, Decodes) {
    EXPECT_EQ(DecodeEncodedWords(GetParam().text), GetParam().decoded);
    EXPECT_EQ(ReferenceDecodeEncodedWords(GetParam().text), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeEncodedWordsTable, ::testing::ValuesIn(kWordsCases),
                         RowName<WordsCase>);

std::string QEncodeAll(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += '=';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::string Base64Encode(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                           (unsigned char)bytes[i + 2];
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = (unsigned char)bytes[i] << 16;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
    }
    return out;
}

// Texts made of the pieces that matter to the algorithm, so that words,
// broken words, escapes that make new "=?" and "?=", NULs and base64 data
// that decodes to them all meet often.
std::string RandomWordsText(std::mt19937& random) {
    static const std::vector<std::string> kTokens = {
        "=?",
        "?=",
        "?",
        "=",
        "Q",
        "q",
        "B",
        "b",
        "X",
        "_",
        "=3D",
        "=3F",
        "=5F",
        "=00",
        "=3d",
        "=\r\n",
        "=\n",
        "=Z",
        std::string(1, '\0'),
        "a",
        "x",
        " ",
        "\r",
        "\n",
        "iso",
        "PT8=",
        "Pz0=",
        "PQ==",
        "Pw==",
        "Xw==",
        "AA==",
        "YQ",
        "=?x?Q?",
        "=?x?B?",
        "=??Q?",
    };
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<std::size_t> pick(0, kTokens.size() - 1);
    std::string text;
    for (int n = length(random); n > 0; --n)
        text += kTokens[pick(random)];
    return text;
}

// An encoded word whose decoded text is `inner`, itself possibly holding
// encoded words, with random surroundings.
std::string NestedWordsText(std::mt19937& random, int depth) {
    std::string text = depth == 0 ? RandomWordsText(random) : NestedWordsText(random, depth - 1);
    std::uniform_int_distribution<int> coin(0, 2);
    const int how = coin(random);
    if (how == 0)
        text = "=?cs?Q?" + QEncodeAll(text) + "?=";
    else if (how == 1)
        text = "=?cs?B?" + Base64Encode(text) + "?=";
    // else: no wrapping at this level
    return RandomWordsText(random) + text + RandomWordsText(random);
}

TEST(DecodeEncodedWords, MatchesTheWordByWordAlgorithmOnGeneratedTexts) {
    std::mt19937 random(20240611);
    for (int i = 0; i < 30000; ++i) {
        const std::string text =
            i % 3 == 0 ? NestedWordsText(random, i % 5) : RandomWordsText(random);
        ASSERT_EQ(DecodeEncodedWords(text), ReferenceDecodeEncodedWords(text))
            << "text: " << ::testing::PrintToString(text);
    }
}

TEST(DecodeEncodedWords, MatchesTheWordByWordAlgorithmOnChainsThatReformWords) {
    // "=" * k + "??Q?" * k + "x" + "?" * k + "=" * k: every word leaves the
    // next one behind with the "=" before it and the "=" after it.
    for (int k : {1, 2, 3, 10, 50}) {
        const std::string text = std::string(k, '=') +
                                 [&] {
                                     std::string s;
                                     for (int i = 0; i < k; ++i)
                                         s += "??Q?";
                                     return s;
                                 }() +
                                 "x" + std::string(k, '?') + std::string(k, '=');
        EXPECT_EQ(DecodeEncodedWords(text), ReferenceDecodeEncodedWords(text)) << k;
    }
    // Escapes that survive several generations: "=3D3D3D...".
    std::string text = "=?a?Q?=3D3D3D3D3F?=??Q?z?=?=";
    EXPECT_EQ(DecodeEncodedWords(text), ReferenceDecodeEncodedWords(text));
}

// --- Address lists -------------------------------------------------------------

struct AddressCase : Named {
    std::string list;
    std::string normalized;
};

const AddressCase kAddressCases[] = {
    {{"BareAddressTwice"}, "a@b.c", "\"a@b.c\" <a@b.c>"},
    {{"TwoBareAddresses"}, "a@b.c, d@e.f", "\"a@b.c\" <a@b.c>, \"d@e.f\" <d@e.f>"},
    {{"QuotedDisplayNameDisappears"}, "\"Doe, John\" <jd@x.org>", "\"\" <jd@x.org>"},
    {{"PlainDisplayName"}, "John Doe <jd@x.org>", "\"John Doe\" <jd@x.org>"},
    {{"CommentIsTheDisplayName"}, "jd@x.org (John Doe)", "\"John Doe\" <jd@x.org>"},
    {{"EncodedDisplayName"}, "=?iso-8859-1?Q?J=F6rg?= <j@x.de>", "\"J\xf6rg\" <j@x.de>"},
    {{"LoneQuoteDeleted"}, "O\"Brien <ob@x.ie>", "\"OBrien\" <ob@x.ie>"},
    {{"SingleQuotesLeaveTheName"}, "Tom's <t@x>", "\"Toms\" <t@x>"},
    {{"Empty"}, "", "\"\" <>"},
    {{"EmptyLastItem"}, "a@b, ", "\"a@b\" <a@b>, \"\" <>"},
};

class NormalizeAddressListTable : public ::testing::TestWithParam<AddressCase> {};

TEST_P(NormalizeAddressListTable, RewritesItemByItem) {
    EXPECT_EQ(NormalizeAddressList(GetParam().list), GetParam().normalized);
}

INSTANTIATE_TEST_SUITE_P(Cases, NormalizeAddressListTable, ::testing::ValuesIn(kAddressCases),
                         RowName<AddressCase>);

struct ItemCase : Named {
    std::string item;
    std::string displayName;
    std::string address;
};

const ItemCase kItemCases[] = {
    {{"ClosingBeforeOpeningStops"}, ") x (", "\"\"", "<) x (>"},
    {{"EveryCommentGoes"}, "a (c1) b (c2) <x@y>", "\"c1\"", "<x@y>"},
    {{"CommentsAfterTheAddress"}, "x@y (a) (b)", "\"a\"", "<x@y>"},
    {{"BracketsTheWrongWayRound"}, "> a <", "\"> a <\"", "<>"},
    {{"NestedComment"}, "x (a (b) c) y", "\"a (b\"", "<x  c) y>"},
};

class AddressItemTable : public ::testing::TestWithParam<ItemCase> {};

TEST_P(AddressItemTable, GivesDisplayNameAndAddress) {
    EXPECT_EQ(DisplayNameOf(GetParam().item), GetParam().displayName);
    EXPECT_EQ(AddressOf(GetParam().item), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(Cases, AddressItemTable, ::testing::ValuesIn(kItemCases),
                         RowName<ItemCase>);

// The comment removal as it stands: from the start again after each one.
std::string ReferenceAddressOf(std::string item) {
    for (;;) {
        const std::size_t open = item.find('('), close = item.find(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            break;
        item.erase(open, close - open + 1);
    }
    item = TrimText(item);
    const std::size_t lt = item.find('<'), gt = item.find('>');
    if (lt != std::string::npos && gt != std::string::npos)
        item = gt > lt ? item.substr(lt + 1, gt - lt - 1) : std::string();
    return "<" + item + ">";
}

TEST(AddressOf, MatchesCommentRemovalFromTheStartOnGeneratedItems) {
    std::mt19937 random(7);
    const char kAlphabet[] = "()<> a";
    std::uniform_int_distribution<int> length(0, 24), pick(0, 5);
    for (int i = 0; i < 20000; ++i) {
        std::string item;
        for (int n = length(random); n > 0; --n)
            item += kAlphabet[pick(random)];
        ASSERT_EQ(AddressOf(item), ReferenceAddressOf(item)) << item;
    }
}

// --- Small helpers ---------------------------------------------------------------

TEST(StripQuotes, RemovesOneQuoteAtEachEnd) {
    EXPECT_EQ(StripQuotes(""), "");
    EXPECT_EQ(StripQuotes("\""), "");
    EXPECT_EQ(StripQuotes("\"\""), "");
    EXPECT_EQ(StripQuotes("'abc\""), "abc");
    EXPECT_EQ(StripQuotes("abc'"), "abc");
    EXPECT_EQ(StripQuotes("\"\"abc\"\""), "\"abc\"");
}

TEST(RemoveChar, RemovesEveryOccurrence) {
    EXPECT_EQ(RemoveChar("a:b::c:", ':'), "abc");
    EXPECT_EQ(RemoveChar("", ':'), "");
}

TEST(TrimText, RemovesBlanksAndControlCharactersOnly) {
    EXPECT_EQ(TrimText(" \t\r\n\x01 a b \x1f"), "a b");
    EXPECT_EQ(TrimText("\xa0x\xa0"), "\xa0x\xa0"); // 8-bit bytes are not blanks
}

} // namespace
