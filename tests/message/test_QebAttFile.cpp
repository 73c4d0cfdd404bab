#include "message/QebAttFile.h"

#include "platform/core/hooks.h"
#include "platform/core/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <stdexcept>

namespace {

// The MIME type table of the tests, set before anything reads it.
const bool kMimeTable = [] {
    ::setenv("TARNIX_MIME_TYPES", TARNIX_TEST_DATA "/message/mime.types", 1);
    return true;
}();

using Lines = std::vector<std::string>;

template <typename Case>
std::string RowName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// What a failing row shows: its name.
struct Named {
    const char* name;
};
std::ostream& operator<<(std::ostream& os, const Named& row) {
    return os << row.name;
}

// --- Base64 -------------------------------------------------------------------

struct Base64Case : Named {
    std::string digits;
    std::string bytes;
};

const Base64Case kBase64Cases[] = {
    {{"OneByte"}, "QQ==", "A"},
    {{"TwoBytes"}, "QUI=", "AB"},
    {{"ThreeBytes"}, "QUJD", "ABC"},
    {{"FourBytes"}, "QUJDRA==", "ABCD"},
    {{"GroupBeginningWithPadGivesNothing"}, "=AAAQQ==", "A"},
    {{"PadThirdIgnoresTheFourth"}, "QQ=A", "A"},
    {{"PadSecondCountsAs64"}, "Q=AA", std::string("D\0\0", 3)},
    {{"IncompleteGroupAtTheEndGivesNothing"}, "QUJDQQ", "ABC"},
    {{"CrAndLfSkipped"}, "QU\r\nJ\nD\r", "ABC"},
    {{"BlankIsTheDigit99"}, "QU JD", "AX\xc9"},
    {{"EveryOtherByteIs99CutTo8Bits"}, "!!!!", "\x92H#"},
    {{"Empty"}, "", ""},
};

class Base64Table : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64Table, DecodesWhole) {
    TMemoryStream target;
    TBase64DecodingStream stream(target);
    const std::string& digits = GetParam().digits;
    EXPECT_EQ(stream.Write(digits.data(), digits.size()), GetParam().bytes.size());
    EXPECT_EQ(target.Data, GetParam().bytes);
}

TEST_P(Base64Table, DecodesTheSameInOneBytePieces) {
    TMemoryStream target;
    TBase64DecodingStream stream(target);
    for (char digit : GetParam().digits) {
        const std::size_t before = target.Size();
        const std::size_t produced = stream.Write(&digit, 1);
        EXPECT_EQ(produced, target.Size() - before); // the bytes of this call
    }
    EXPECT_EQ(target.Data, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, Base64Table, ::testing::ValuesIn(kBase64Cases),
                         RowName<Base64Case>);

TEST(Base64DecodingStream, ReadAndSeekAreInvalid) {
    TMemoryStream target;
    TBase64DecodingStream stream(target);
    char buffer[4];
    for (auto operation : {+[](TBase64DecodingStream&s, char*b) { s.Read(b, 4); },
                           +[](TBase64DecodingStream&s, char*) { s.Seek(0, 0); }}) {
        try {
            operation(stream, buffer);
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Invalid stream operation");
        }
    }
}

TEST(AttachedFile, DecodeBase64LetsEventsRunAfterEveryLine) {
    int events = 0;
    platform::SetProcessEventsHook([&] { ++events; });
    TAttachedFile file;
    file.EncodedLines = {"QU", "JDR", "A=="}; // groups cross the lines
    file.DecodeBase64();
    platform::SetProcessEventsHook(nullptr);
    EXPECT_EQ(file.Content.Data, "ABCD");
    EXPECT_EQ(file.Content.Position, 0u);
    EXPECT_EQ(events, 3);
}

// --- Quoted-printable --------------------------------------------------------------

struct QPCase : Named {
    std::string text;
    std::string decoded;
};

const QPCase kQPCases[] = {
    {{"Escape"}, "a=3Db", "a=b"},
    {{"LowerCaseHex"}, "=3d=4a", "=J"},
    {{"UnderscoreIsABlank"}, "a_b", "a b"},
    {{"SoftLineBreak"}, "a=\r\nb", "ab"},
    {{"EqualsLfDropsTheNextCharacterToo"}, "a=\nbc", "ac"},
    {{"NotHexGives64"}, "=ZZ!", "@!"},
    {{"HalfHexGives64"}, "=4Z", "@"},
    {{"OneCharacterAfterEqualsEnds"}, "x=4", "x"},
    {{"EqualsAtTheEnd"}, "ab=", "ab"},
    {{"EqualsCrAtTheEnd"}, "ab=\r", "ab"},
    {{"DecodedNulEndsTheText"}, "a=00b", "a"},
    {{"LiteralNulEndsTheText"}, std::string("a\0b", 3), "a"},
    {{"EightBitBytesKept"}, "\xe9=E9", "\xe9\xe9"},
    {{"OnlySoftBreaks"}, "=\r\n=\r\n", ""},
    // The same text as one line and as one-byte lines joined by soft breaks.
    {{"WholeLine"}, "Hello\r\n", "Hello\r\n"},
    {{"OneByteLines"}, "H=\r\ne=\r\nl=\r\nl=\r\no\r\n", "Hello\r\n"},
};

class QPDecodeTable : public ::testing::TestWithParam<QPCase> {};

TEST_P(QPDecodeTable, Decodes) {
    EXPECT_EQ(QPDecode(GetParam().text), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(Cases, QPDecodeTable, ::testing::ValuesIn(kQPCases), RowName<QPCase>);

// --- Uuencode ---------------------------------------------------------------

TEST(UUValue, MapsTheAlphabetAndRejectsTheRest) {
    EXPECT_EQ(UUValue('`'), 0);
    EXPECT_EQ(UUValue(' '), 0);
    EXPECT_EQ(UUValue('!'), 1);
    EXPECT_EQ(UUValue('M'), 45);
    EXPECT_EQ(UUValue('_'), 63);
    for (char c : {'a', '~', '\x7f', '\0', '\x1f', '\xe9'})
        EXPECT_THROW(
            {
                try {
                    UUValue(c);
                } catch (const std::runtime_error& error) {
                    EXPECT_STREQ(error.what(), "Oops...");
                    throw;
                }
            },
            std::runtime_error)
            << int(c);
}

// A plain uuencoder with a chosen number of bytes per line.
Lines UUEncode(const std::string& bytes, std::size_t perLine) {
    auto digit = [](unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); };
    Lines lines{"begin 644 file.bin"};
    for (std::size_t at = 0; at < bytes.size(); at += perLine) {
        const std::string chunk = bytes.substr(at, perLine);
        std::string line(1, digit(static_cast<unsigned>(chunk.size())));
        for (std::size_t i = 0; i < chunk.size(); i += 3) {
            unsigned char b[3] = {};
            for (std::size_t j = 0; j < 3 && i + j < chunk.size(); ++j)
                b[j] = static_cast<unsigned char>(chunk[i + j]);
            line += digit(b[0] >> 2);
            line += digit(((b[0] & 3) << 4) | (b[1] >> 4));
            line += digit(((b[1] & 15) << 2) | (b[2] >> 6));
            line += digit(b[2] & 63);
        }
        lines.push_back(line);
    }
    lines.push_back("`");
    lines.push_back("end");
    return lines;
}

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes + "and some more text to fill a few lines";
}

TEST(DecodeUU, FullLinesAndOneByteLinesGiveTheSameBytes) {
    for (std::size_t perLine : {45u, 1u, 7u}) {
        TAttachedFile file;
        file.EncodedLines = UUEncode(AllBytes(), perLine);
        file.DecodeUU();
        EXPECT_EQ(file.Content.Data, AllBytes()) << perLine;
    }
}

struct UUCase : Named {
    Lines lines;       // after the begin line
    std::string bytes; // the content, unless it fails
    bool oops = false;
};

const UUCase kUUCases[] = {
    {{"ThreeBytes"}, {"#86)C"}, "abc"},
    {{"OnlyTheBeginLine"}, {}, ""},
    {{"GraveAccentAfterDataEnds"}, {"#86)C", "`", "#86)C"}, "abc"},
    {{"EndAfterDataEnds"}, {"#86)C", "end", "#86)C"}, "abc"},
    {{"EndMustStandAlone"}, {"#86)C", " end"}, "", true},
    {{"LineAfterBeginIsAlwaysDecoded"}, {"end"}, "", true},
    {{"GraveAccentFirstGivesNothingAndGoesOn"}, {"`", "#86)C"}, "abc"},
    {{"CountAboveTheDataFillsZeroBits"}, {"#86"}, std::string("a`\0", 3)},
    {{"CharactersPastTheSixtiethIgnored"}, {"#86)C" + std::string(56, '!') + "abc"}, "abc"},
    {{"CharactersBeyondTheCountStillChecked"}, {"#86)Ca"}, "", true},
    {{"FullLineCutShort"}, {"M86)C"}, "", true},
    {{"CountAbove45IsAFullLine"}, {"_86)C"}, "", true},
    {{"CharacterOutsideTheAlphabet"}, {"#86)c"}, "", true},
    {{"EmptyLineCarriesNothing"}, {"#86)C", "", "#86)C"}, "abcabc"},
};

class DecodeUUTable : public ::testing::TestWithParam<UUCase> {};

TEST_P(DecodeUUTable, DecodesOrFails) {
    TAttachedFile file;
    file.Content.Data = "before";
    file.EncodedLines = {"begin 644 x.bin"};
    file.EncodedLines.insert(file.EncodedLines.end(), GetParam().lines.begin(),
                             GetParam().lines.end());
    if (!GetParam().oops) {
        file.DecodeUU();
        EXPECT_EQ(file.Content.Data, GetParam().bytes);
        return;
    }
    try {
        file.DecodeUU();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Oops...");
    }
    EXPECT_EQ(file.Content.Data, "before"); // nothing half-decoded
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeUUTable, ::testing::ValuesIn(kUUCases), RowName<UUCase>);

// --- File names and types -------------------------------------------------------

struct TypeCase : Named {
    std::string fileName;
    std::string type;
};

const TypeCase kTypeCases[] = {
    {{"Html"}, "page.html", "text/html"},
    {{"ExtensionCaseIgnored"}, "PAGE.HTM", "text/html"},
    {{"OnlyAnExtension"}, ".html", "text/html"},
    {{"LastDotCounts"}, "archive.html.zip", "application/zip"},
    {{"NoExtension"}, "README", "application/octet-stream"},
    {{"UnknownExtension"}, "x.qqqq", "application/octet-stream"},
    {{"TrailingDot"}, "name.", "application/octet-stream"},
    {{"BackslashAfterTheDot"}, "dir.html\\file", "application/octet-stream"},
    {{"ColonAfterTheDot"}, "Re.html: news", "application/octet-stream"},
};

class ContentTypeOfTable : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ContentTypeOfTable, FromTheExtension) {
    EXPECT_EQ(ContentTypeOf(GetParam().fileName), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(Cases, ContentTypeOfTable, ::testing::ValuesIn(kTypeCases),
                         RowName<TypeCase>);

TEST(ChangeFileExtension, ReplacesOrAppends) {
    EXPECT_EQ(ChangeFileExtension("a.txt", ".html"), "a.html");
    EXPECT_EQ(ChangeFileExtension("subject", ".html"), "subject.html");
    EXPECT_EQ(ChangeFileExtension("", ".html"), ".html");
    EXPECT_EQ(ChangeFileExtension("Re: hello.world", ".gif"), "Re: hello.gif");
    EXPECT_EQ(ChangeFileExtension("v1.2: news", ".jpeg"), "v1.2: news.jpeg");
}

TEST(AttachedFiles, AddDerivesNameAndTypeAndKeepsItemsInPlace) {
    TAttachedFiles files;
    TAttachedFile& first = files.Add("C:\\mail\\picture.GIF");
    EXPECT_EQ(first.PathName, "C:\\mail\\picture.GIF");
    EXPECT_EQ(first.FileName, "picture.GIF");
    EXPECT_EQ(first.ContentType, "image/gif");
    EXPECT_TRUE(first.Content.Data.empty());
    for (int i = 0; i < 1000; ++i)
        files.Add("f" + std::to_string(i));
    EXPECT_EQ(&files.Items(0), &first);
    EXPECT_EQ(files.Count(), 1001);
    EXPECT_EQ(files.Items(1000).FileName, "f999");
    EXPECT_THROW(files.Items(1001), std::out_of_range);
    EXPECT_THROW(files.Items(-1), std::out_of_range);
}

TEST(AttachedFile, ContentStreamIsRewoundEveryTime) {
    TAttachedFile file;
    file.Content.Data = "content";
    char buffer[16];
    for (int pass = 0; pass < 2; ++pass) {
        TMemoryStream& stream = file.ContentStream();
        ASSERT_EQ(stream.Read(buffer, sizeof buffer), 7u);
        EXPECT_EQ(std::string(buffer, 7), "content");
        EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
    }
}

TEST(MemoryStream, WritesOverAndPastTheEnd) {
    TMemoryStream stream;
    stream.Write("abcdef", 6);
    stream.Seek(4);
    stream.Write("XYZ", 3);
    EXPECT_EQ(stream.Data, "abcdXYZ");
    stream.Seek(9);
    stream.Write("!", 1);
    EXPECT_EQ(stream.Data, std::string("abcdXYZ\0\0!", 10));
    stream.Seek(2);
    char buffer[3];
    EXPECT_EQ(stream.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "cdX");
}

TEST(TempFolder, IsTheSystemsTemporaryFolder) {
    EXPECT_EQ(TempFolder(), platform::TempDirectory());
    EXPECT_EQ(TempFolder().back(), '/');
}

} // namespace
