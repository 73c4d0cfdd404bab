#include "message/MimeHeaders.h"
#include "message/QebMsg.h"
#include "message/TextLines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace {

// The MIME type table of the tests, set before anything reads it.
const bool kMimeTable = [] {
    ::setenv("TARNIX_MIME_TYPES", TARNIX_TEST_DATA "/message/mime.types", 1);
    return true;
}();

using Lines = std::vector<std::string>;

struct File {
    std::string name, type, content;
    bool operator==(const File&) const = default;
};
std::ostream& operator<<(std::ostream& os, const File& file) {
    return os << "{" << file.name << " | " << file.type << " | "
              << ::testing::PrintToString(file.content) << "}";
}

std::vector<File> FilesOf(TAttachedFiles& files) {
    std::vector<File> result;
    for (int i = 0; i < files.Count(); ++i) {
        TAttachedFile& file = files.Items(i);
        result.push_back({file.FileName, file.ContentType, file.ContentStream().Data});
    }
    return result;
}

// A failing parse that is not the documented "Oops..." fails the test.
bool ParseOrOops(TQebMsg& message, const Lines& lines) {
    try {
        message.ParseRawMail(lines);
        return true;
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Oops...");
        return false;
    }
}

using Field = std::string TQebMsg::*;

struct ParseCase {
    const char* name;
    std::string source; // lines end at "\n"
    Lines text;
    std::vector<File> files;
    std::vector<std::pair<Field, std::string>> fields = {};
};
std::ostream& operator<<(std::ostream& os, const ParseCase& row) {
    return os << row.name;
}

const ParseCase kParseCases[] = {
    {"NoContentTypeEverythingAfterTheHeaderIsText",
     "From: a@example.org\nSubject: s\n\n\nbody1\n\n  body2\n",
     {"body1", "", "  body2"},
     {},
     {{&TQebMsg::ContentType, "TEXT/PLAIN"}, {&TQebMsg::ContentTransferEncoding, "7BIT"}}},
    {"FoldedSubjectRunsTogether",
     "Subject: Hello\n\tWorld\n\nx\n",
     {"x"},
     {},
     {{&TQebMsg::Subject, "HelloWorld"}}},
    {"EncodedWordSubject",
     "Subject: =?iso-8859-1?Q?Gr=FC=DFe?= aus Bern\n\nx\n",
     {"x"},
     {},
     {{&TQebMsg::Subject, "Gr\xfc\xdf"
                          "e aus Bern"}}},
    {"SubjectCutAtSemicolon",
     "Subject: Sale; today only\n\nx\n",
     {"x"},
     {},
     {{&TQebMsg::Subject, "Sale"}}},
    {"EnvelopeLinePresetsFrom",
     "From " + std::string(80, 's') + "\nSubject: none\n\nbody\n",
     {"body"},
     {},
     {{&TQebMsg::From, std::string(72, 's')}}},
    {"HeaderFields",
     "From sender@example.org  Mon Jan  1 10:00:00 2001\n"
     "Return-Path: <bounce@example.org>\n"
     "Message-ID: <id@example.org>\n"
     "In-Reply-To: <prev@example.org>\n"
     "Sender: list-owner@example.org\n"
     "Reply-To: \"List\" <list@example.org>, other@example.org\n"
     "To: Bob <bob@example.org>\n"
     "Cc: carol@example.org (Carol)\n"
     "Date: Mon, 1 Jan 2001 10:00:00 +0000\n"
     "Subject: Hi there\n"
     "Content-Type: TEXT/plain; charset=us-ascii\n"
     "Content-Transfer-Encoding: 8bit\n"
     "From: =?iso-8859-1?B?SvZyZw==?= <j@example.org>\n"
     "\n"
     "body\n",
     {"body"},
     {},
     {{&TQebMsg::From, "J\xf6rg <j@example.org>"},
      {&TQebMsg::ReturnPath, "<bounce@example.org>"},
      {&TQebMsg::MessageID, "<id@example.org>"},
      {&TQebMsg::InReplyTo, "<prev@example.org>"},
      {&TQebMsg::Sender, "\"list-owner@example.org\" <list-owner@example.org>"},
      {&TQebMsg::ReplyTo, "\"\" <list@example.org>, \"other@example.org\" <other@example.org>"},
      {&TQebMsg::SendTo, "\"Bob\" <bob@example.org>"},
      {&TQebMsg::CC, "\"Carol\" <carol@example.org>"},
      {&TQebMsg::Date, "Mon, 1 Jan 2001 10:00:00 +0000"},
      {&TQebMsg::Subject, "Hi there"},
      {&TQebMsg::ContentType, "TEXT/PLAIN"},
      {&TQebMsg::ContentTransferEncoding, "8BIT"}}},
    {"HtmlOnlyBodyIsAnAttachmentNamedAfterTheSubject",
     "Subject: Offer\nContent-Type: text/html\n\n<p>hi</p>\n<p>there</p>\n",
     {},
     {{"Offer.html", "text/html", "<p>hi</p>\r\n<p>there</p>"}}},
    {"HtmlOnlyWithoutSubject",
     "Content-Type: text/html\n\n<p>hi</p>\n",
     {},
     {{".html", "text/html", "<p>hi</p>"}}},
    {"MultipartAlternative",
     "From: Ann <ann@example.org>\nSubject: Lunch\n"
     "Content-Type: multipart/alternative; boundary=\"XX\"\n\n"
     "This is a multi-part message.\n"
     "--XX\nContent-Type: text/plain; charset=us-ascii\n\nNoon?\n"
     "--XX\nContent-Type: text/html\n\n<b>Noon?</b>\n"
     "--XX--\nepilogue\n",
     {"Noon?"},
     {{"Lunch.html", "text/html", "<b>Noon?</b>"}},
     {{&TQebMsg::ContentType, "MULTIPART/ALTERNATIVE"}}},
    {"NestedMultipartIsFlattened",
     "Subject: Nest\nContent-Type: multipart/mixed; boundary=outer\n\n"
     "--outer\nContent-Type: multipart/alternative;\n\tboundary=inner\n\n"
     "--inner\nContent-Type: text/plain\n\none\n"
     "--inner\nContent-Type: text/html\n\n<i>one</i>\n--inner--\n"
     "--outer\nContent-Type: text/plain\n\ntwo\n--outer--\n",
     {"one", "two"},
     {{"Nest.html", "text/html", "<i>one</i>"}}},
    {"EnclosedMessageAddsTextAndFilesNotFields",
     "From: outer@example.org\nSubject: Fwd: hello\n"
     "Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
     "--b1\nContent-Type: text/plain\n\nSee below.\n"
     "--b1\nContent-Type: message/rfc822\n\n"
     "From: inner@example.org\nSubject: hello\n"
     "Content-Type: multipart/alternative; boundary=\"b2\"\n\n"
     "--b2\nContent-Type: text/plain\n\nInner text\n"
     "--b2\nContent-Type: text/html\n\n<p>Inner</p>\n--b2--\n"
     "--b1--\n",
     {"See below.", "Inner text"},
     {{"Fwd hello.html", "text/html", "<p>Inner</p>"}},
     {{&TQebMsg::From, "outer@example.org"}, {&TQebMsg::Subject, "Fwd: hello"}}},
    {"UuencodedBlockInText",
     "Subject: files\nContent-Type: text/plain\n\n"
     "Here it is:\n\nbegin 644 abc.txt\n#86)C\n\n`\nend\nBye\n",
     {"Here it is:", "", "end", "Bye"},
     {{"abc.txt", "text/plain", "abc"}}},
    {"TwoUuencodedBlocksAndOneWithoutEnd",
     "\nbegin 644 one.bin\n#86)C\nend\nmiddle\nBEGIN 600 two.zip\n\"86)\n",
     {"end", "middle"},
     {{"one.bin", "application/octet-stream", "abc"}, {"two.zip", "application/zip", "ab"}}},
    {"Mode777IsNoUuencodeBlock",
     "\nbegin 777 x.txt\n#86)C\nend\n",
     {"begin 777 x.txt", "#86)C", "end"},
     {}},
    {"Base64TextIsDecodedIntoText",
     "Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\nSGVsbG8K\nd29ybGQ=\n",
     {"Hello", "world"},
     {}},
    {"QuotedPrintableTextIsDecodedIntoText",
     "Content-Type: text/plain; charset=iso-8859-1\n"
     "Content-Transfer-Encoding: quoted-printable\n\n"
     "Caf=E9 au lait, soft=\nbreak here_too\n",
     {"Caf\xe9 au lait, softbreak here too"},
     {}},
    {"QuotedPrintableHtmlAttachmentWithoutFinalLineBreak",
     "Subject: x\nContent-Type: text/html\nContent-Transfer-Encoding: quoted-printable\n\n"
     "<p>a=3Db</p>\n<p>c</p>\n",
     {},
     {{"x.html", "text/html", "<p>a=b</p>\r\n<p>c</p>"}}},
    {"Base64PartOfOtherTypeIsNamedAfterTheSubject",
     "Subject: report\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n\n"
     "JVBERi0=\n",
     {},
     {{"report", "application/octet-stream", "%PDF-"}}},
    {"JpegWithoutNameGetsJpegExtension",
     "Subject: pic.of.day\nContent-Type: image/jpeg\nContent-Transfer-Encoding: base64\n\n/9j/\n",
     {},
     {{"pic.of.jpeg", "image/jpeg", "\xff\xd8\xff"}}},
    {"GifWithoutNameGetsGifExtension",
     "Subject: anim\nContent-Type: image/gif\nContent-Transfer-Encoding: base64\n\nR0lGODlh\n",
     {},
     {{"anim.gif", "image/gif", "GIF89a"}}},
    {"TextWithNameIsAnAttachment",
     "Content-Type: text/plain; name=\"notes.txt\"\n\na\nb\n",
     {},
     {{"notes.txt", "text/plain", "a\r\nb"}}},
    {"FileNameFromTheDisposition",
     "Content-Type: application/octet-stream\n"
     "Content-Disposition: attachment; filename=\"data.zip\"\n"
     "Content-Transfer-Encoding: base64\n\nUEsDBA==\n",
     {},
     {{"data.zip", "application/zip", "PK\x03\x04"}}},
    {"EncodedWordFileName",
     "Content-Type: application/octet-stream; name=\"=?iso-8859-1?Q?r=E9sum=E9.txt?=\"\n\nx\n",
     {},
     {{"r\xe9sum\xe9.txt", "text/plain", "x"}}},
    {"ForbiddenCharactersLeaveTheFileName",
     "Content-Type: application/octet-stream; name=\"a/b:c?*|.txt\"\n\nx\n",
     {},
     {{"abc.txt", "text/plain", "x"}}},
    {"UuencodePart",
     "Content-Type: application/octet-stream; name=\"x.bin\"\n"
     "Content-Transfer-Encoding: x-uuencode\n\nbegin 644 x.bin\n#86)C\n`\nend\n",
     {},
     {{"x.bin", "application/octet-stream", "abc"}}},
    {"UnknownSevenBitPartIsText",
     "Content-Type: application/x-foo\n\nraw line\n",
     {"raw line"},
     {}},
    {"TypeContainingTextIsText",
     "Content-Type: multipart/context; boundary=b\n\n--b\nx\n--b--\n",
     {"--b", "x", "--b--"},
     {}},
    {"DelimiterWithTrailingBlanksIsNoDelimiter",
     "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
     "--b\nContent-Type: text/plain\n\none\n--b  \nContent-Type: text/plain\n\nstill one\n--b--\n",
     {"one", "--b  ", "Content-Type: text/plain", "", "still one"},
     {}},
    {"MissingClosingDelimiterRunsToTheEnd",
     "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n\nfirst\n--b\n\nlast\nto the end\n",
     {"first", "last", "to the end"},
     {}},
    {"TwoDelimitersInARowGiveAnEmptyPart",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\n--b\nContent-Type: "
     "text/plain\n\nx\n--b--\n",
     {"x"},
     {}},
    {"LineAfterADelimiterIsNeverADelimiter",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b\n--b--\n\ntail\n",
     {"x", "tail"},
     {}},
    {"DelimiterRightAfterAnInnerDelimiterIsPartOfThePart",
     "Content-Type: multipart/mixed; boundary=b\n\n--b\n--b\n--b\n\nContent-Type: text/html\n\n"
     "<p>\n--b--\n",
     {"Content-Type: text/html", "", "<p>"},
     {}},
    {"NoDelimiterAtAllGivesNothing",
     "Content-Type: multipart/mixed; boundary=b\n\nonly a preamble\n",
     {},
     {}},
    {"NoHeaderBlockTheFirstBlockIsRead",
     "\nSubject: x\nContent-Type: text/html\n\n<p>\n",
     {},
     {{".html", "text/html", "Subject: x\r\nContent-Type: text/html\r\n\r\n<p>"}},
     {{&TQebMsg::Subject, ""}, {&TQebMsg::ContentType, ""}}},
};

class ParseRawMailTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseRawMailTable, GivesFieldsTextAndFiles) {
    const ParseCase& row = GetParam();
    TQebMsg message;
    const Lines lines = SplitLines(row.source);
    message.ParseRawMail(lines);
    EXPECT_EQ(message.Text, row.text);
    EXPECT_EQ(FilesOf(message.AttachedFiles), row.files);
    for (const auto& [field, value] : row.fields)
        EXPECT_EQ(message.*field, value);
    EXPECT_TRUE(message.RawMail.empty());
    const Lines header(lines.begin(), std::find(lines.begin(), lines.end(), std::string()));
    EXPECT_EQ(message.Headers, header);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseRawMailTable, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseRawMail, EmptyLinesLeaveEveryFieldAtItsInitialValue) {
    TQebMsg message;
    message.ParseRawMail({});
    for (Field field :
         {&TQebMsg::From, &TQebMsg::Sender, &TQebMsg::MessageID, &TQebMsg::InReplyTo,
          &TQebMsg::ReturnPath, &TQebMsg::ReplyTo, &TQebMsg::SendTo, &TQebMsg::CC, &TQebMsg::Date,
          &TQebMsg::Subject, &TQebMsg::ContentType, &TQebMsg::ContentTransferEncoding,
          &TQebMsg::UserName, &TQebMsg::BCC, &TQebMsg::XMailer})
        EXPECT_EQ(message.*field, "");
    EXPECT_TRUE(message.Headers.empty() && message.Text.empty() && message.RawMail.empty());
    EXPECT_EQ(message.AttachedFiles.Count(), 0);
    EXPECT_EQ(message.CharSet, "ISO-8859-1");
    EXPECT_EQ(message.Priority, prNormal);
    EXPECT_EQ(message.TextEncoding, te8Bit);
    EXPECT_TRUE(message.ClearRawMailAfterParse);
}

TEST(ParseRawMail, KeepsRawMailWhenAsked) {
    TQebMsg message;
    message.ClearRawMailAfterParse = false;
    const Lines lines = {"Subject: x", "", "body"};
    message.ParseRawMail(lines);
    EXPECT_EQ(message.RawMail, lines);
    EXPECT_EQ(message.Text, Lines{"body"});
}

TEST(ParseRawMail, BrokenUuencodeRaisesOopsAndKeepsWhatWasParsed) {
    const Lines lines =
        SplitLines("Subject: broken\nContent-Type: multipart/mixed; boundary=b\n\n"
                   "--b\nContent-Type: text/plain\n\nfirst part\n"
                   "--b\nContent-Type: text/plain\n\nbegin 644 bad.bin\n#86)c\nend\n"
                   "--b\nContent-Type: text/plain\n\nnever reached\n--b--\n");
    TQebMsg message;
    try {
        message.ParseRawMail(lines);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Oops...");
    }
    EXPECT_EQ(message.Subject, "broken");
    EXPECT_EQ(message.Text, Lines{"first part"});
    ASSERT_EQ(message.AttachedFiles.Count(), 1);
    EXPECT_EQ(message.AttachedFiles.Items(0).FileName, "bad.bin");
    EXPECT_TRUE(message.AttachedFiles.Items(0).Content.Data.empty());
    EXPECT_EQ(message.RawMail, lines); // the parse did not get to its end
}

TEST(ParseRawMail, LinesHoldingLineBreaksAreSplitLikeTheText) {
    const std::string source = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n"
                               "--b\nContent-Type: text/html\n\n<p>y</p>\r--b--\r\n";
    TQebMsg asOneLine, asLines;
    asOneLine.ParseRawMail({source});
    asLines.ParseRawMail(SplitLines(source));
    EXPECT_EQ(asOneLine.Text, Lines{"x"});
    EXPECT_EQ(asOneLine.Text, asLines.Text);
    EXPECT_EQ(FilesOf(asOneLine.AttachedFiles), FilesOf(asLines.AttachedFiles));
}

// --- Nesting -----------------------------------------------------------------

// `levels` multipart containers, one inside the other, around a text part.
std::string NestedMultipart(int levels) {
    std::string head, tail;
    for (int i = 0; i < levels; ++i) {
        const std::string b = "b" + std::to_string(i);
        head += "Content-Type: multipart/mixed; boundary=" + b + "\n\n--" + b + "\n";
        tail = "--" + b + "--\n" + tail;
    }
    return head + "Content-Type: text/plain\n\ndeep\n" + tail;
}

std::string NestedMessages(int levels) {
    std::string source;
    for (int i = 0; i < levels; ++i)
        source += "Subject: level " + std::to_string(i) + "\nContent-Type: message/rfc822\n\n";
    return source + "Content-Type: text/plain\n\ndeep\n";
}

TEST(ParseRawMail, ContainersAreOpenedDownToTheNestingLimit) {
    for (auto* nested : {&NestedMultipart, &NestedMessages}) {
        TQebMsg message;
        message.ParseRawMail(SplitLines(nested(TQebMsg::kMaxNesting)));
        EXPECT_EQ(message.Text, Lines{"deep"});
    }
}

TEST(ParseRawMail, ADeeperContainerGivesItsBodyLinesUnopened) {
    const int limit = TQebMsg::kMaxNesting;
    // The container at the limit: its body, the text part inside it as it
    // stands.
    TQebMsg multipart;
    multipart.ParseRawMail(SplitLines(NestedMultipart(limit + 1)));
    const std::string inner = "b" + std::to_string(limit);
    EXPECT_EQ(multipart.Text,
              (Lines{"--" + inner, "Content-Type: text/plain", "", "deep", "--" + inner + "--"}));
    TQebMsg messages;
    messages.ParseRawMail(SplitLines(NestedMessages(limit + 1)));
    EXPECT_EQ(messages.Text, (Lines{"Content-Type: text/plain", "", "deep"}));
}

TEST(ParseRawMail, ThousandsOfLevelsParseWithoutExhaustingTheStack) {
    const int levels = 20000, limit = TQebMsg::kMaxNesting;
    TQebMsg multipart;
    multipart.ParseRawMail(SplitLines(NestedMultipart(levels)));
    const std::string inner = "b" + std::to_string(limit);
    ASSERT_FALSE(multipart.Text.empty());
    EXPECT_EQ(multipart.Text.front(), "--" + inner);
    EXPECT_EQ(multipart.Text.back(), "--" + inner + "--");
    // Its delimiter, three lines per deeper level and for the text, and the
    // closing delimiters of its own level and the deeper ones.
    EXPECT_EQ(multipart.Text.size(),
              std::size_t(1 + 3 * (levels - limit - 1) + 3 + levels - limit));

    TQebMsg messages;
    messages.ParseRawMail(SplitLines(NestedMessages(levels)));
    ASSERT_FALSE(messages.Text.empty());
    EXPECT_EQ(messages.Text.front(), "Subject: level " + std::to_string(limit + 1));
    EXPECT_EQ(messages.Text.back(), "deep");
    EXPECT_EQ(messages.Text.size(), std::size_t(3 * (levels - limit - 1) + 3));
}

// --- The rules as they stand --------------------------------------------------------

// The parsing rules done the slow, plain way, on lists of lines, with
// every join, split and removal done literally and every search starting
// from the first line: what the parser must match.
class ReferenceParser {
public:
    std::string Subject;
    Lines Text;
    TAttachedFiles Files;

    void Parse(const Lines& raw) {
        Lines copy = raw;
        ParsePart(copy);
    }

private:
    static bool Has(const std::string& text, const char* word) {
        return text.find(word) != std::string::npos;
    }

    void GetPartInfo(const Lines& lines, std::string& type, std::string& encoding,
                     std::string& name) {
        name.clear();
        if (auto line = FindHeader("CONTENT-TYPE:", lines)) {
            type = UpperText(HeaderValue("CONTENT-TYPE:", *line));
            name = HeaderValue("NAME", *line);
        } else {
            type = "TEXT/PLAIN";
        }
        auto line = FindHeader("CONTENT-TRANSFER-ENCODING:", lines);
        encoding = line ? UpperText(HeaderValue("CONTENT-TRANSFER-ENCODING:", *line)) : "7BIT";
        if (name.empty()) {
            if (auto disposition = FindHeader("CONTENT-DISPOSITION:", lines))
                name = HeaderValue("FILENAME", *disposition);
        }
        if (!name.empty()) {
            name.erase(0, 1);
            if (name.find(';') != std::string::npos)
                name = TrimText(name.substr(0, name.find(';')));
            name = DecodeEncodedWords(StripQuotes(name));
        }
        name = TrimText(name);
    }

    static bool FindUUBegin(const Lines& lines, std::size_t& index, std::string& name) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.size() <= 10 || LowerText(line.substr(0, 5)) != "begin")
                continue;
            const std::string mode = line.substr(6, 3);
            std::size_t at = 0;
            while (at < mode.size() && mode[at] == ' ')
                ++at;
            if (at < mode.size() && (mode[at] == '+' || mode[at] == '-'))
                ++at;
            if (at == mode.size() || mode.find_first_not_of("0123456789", at) != std::string::npos)
                continue;
            const int value = std::stoi(mode);
            if (value < 1 || value > 776)
                continue;
            index = i;
            name = line.substr(10, 64);
            return true;
        }
        return false;
    }

    void ParsePart(Lines& lines) {
        std::string type, encoding, name;
        GetPartInfo(lines, type, encoding, name);
        if (Has(type, "TEXT")) {
            StripHeaderBlock(lines);
            if (!name.empty() || type == "TEXT/HTML") {
                AddAttachment(lines, type, name, encoding);
                return;
            }
            std::size_t k;
            std::string uuName;
            while (FindUUBegin(lines, k, uuName)) {
                Lines block;
                while (k < lines.size() && LowerText(TrimText(lines[k])) != "end") {
                    if (!lines[k].empty())
                        block.push_back(lines[k]);
                    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(k));
                }
                AddAttachment(block, "APPLICATION/OCTET-STREAM", uuName, "X-UUENCODE");
                encoding = "X-UUENCODE";
            }
            if (encoding == "QUOTED-PRINTABLE") {
                lines = SplitLines(QPDecode(JoinLines(lines)));
            } else if (encoding == "BASE64") {
                TMemoryStream buffer;
                TBase64DecodingStream stream(buffer);
                const std::string joined = JoinLines(lines);
                stream.Write(joined.data(), joined.size());
                lines = SplitLines(buffer.Data);
            }
            Text.insert(Text.end(), lines.begin(), lines.end());
        } else if (Has(type, "MULTIPART")) {
            std::vector<Lines> parts;
            SplitMultipart(parts, JoinLines(lines));
            for (Lines& part : parts)
                ParsePart(part);
        } else if (encoding == "X-UUENCODE" || !name.empty()) {
            StripHeaderBlock(lines);
            AddAttachment(lines, type, name, encoding);
        } else if (type == "MESSAGE/RFC822") {
            StripHeaderBlock(lines);
            ParsePart(lines);
        } else if (encoding == "BASE64" || encoding == "QUOTED-PRINTABLE") {
            StripHeaderBlock(lines);
            AddAttachment(lines, type, "", encoding);
        } else {
            StripHeaderBlock(lines);
            Text.insert(Text.end(), lines.begin(), lines.end());
        }
    }

    void SplitMultipart(std::vector<Lines>& parts, const std::string& text) {
        Lines l = SplitLines(text);
        const auto header = FindHeader("CONTENT-TYPE:", l);
        if (!header || !Has(UpperText(*header), "MULTIPART")) {
            parts.push_back(l);
            return;
        }
        StripHeaderBlock(l);
        const std::string b = BoundaryOf(*header), e = b + "--";
        while (!l.empty() && l.front() != b)
            l.erase(l.begin());
        Lines p;
        std::size_t i = 1;
        while (i < l.size() && l[i] != e) {
            if (l[i] == b) {
                SplitMultipart(parts, JoinLines(p));
                p.clear();
                ++i;
                if (i >= l.size())
                    break;
            }
            p.push_back(l[i]);
            ++i;
        }
        SplitMultipart(parts, JoinLines(p));
    }

    void AddAttachment(Lines lines, const std::string& type, std::string name,
                       const std::string& encoding) {
        if (name.empty()) {
            name = Subject;
            if (type == "TEXT/HTML")
                name = ChangeFileExtension(name, ".html");
            else if (type == "IMAGE/JPEG")
                name = ChangeFileExtension(name, ".jpeg");
            else if (type == "IMAGE/GIF")
                name = ChangeFileExtension(name, ".gif");
        }
        for (char c : std::string("\\/:*?\"<>|"))
            name = RemoveChar(name, c);
        TAttachedFile& item = Files.Add(name);
        auto withoutFinalBreak = [](std::string s) {
            return s.empty() ? s : s.substr(0, s.size() - 2);
        };
        if (encoding == "BASE64") {
            item.EncodedLines = lines;
            item.DecodeBase64();
            item.EncodedLines.clear();
        } else if (encoding == "X-UUENCODE") {
            item.EncodedLines = lines;
            item.DecodeUU();
            item.EncodedLines.clear();
        } else if (encoding == "QUOTED-PRINTABLE") {
            lines = SplitLines(QPDecode(JoinLines(lines)));
            item.Content.Data = withoutFinalBreak(JoinLines(lines));
        } else {
            item.Content.Data = withoutFinalBreak(JoinLines(lines));
        }
    }
};

// Random messages: nested multiparts and enclosed messages around text,
// html, encoded and uuencoded parts, with the damage real mail has.
class MessageMaker {
public:
    explicit MessageMaker(unsigned seed) : random_(seed) {}

    Lines Make() {
        Lines lines = {"From sender@example.org  Mon Jan  1 10:00:00 2001",
                       "Subject: " + Pick({"report", "Re: hello.world", "", "pic.of: day"})};
        Append(lines, Part(0));
        // Damage: a line lost, doubled, or blanks added to one.
        for (int damage = Number(0, 2); damage > 0 && !lines.empty(); --damage) {
            const std::size_t at = static_cast<std::size_t>(Number(0, int(lines.size()) - 1));
            switch (Number(0, 2)) {
            case 0:
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            case 1:
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), lines[at]);
                break;
            default:
                lines[at] += "  ";
            }
        }
        return lines;
    }

private:
    std::mt19937 random_;
    int boundaries_ = 0;

    int Number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int percent) { return Number(1, 100) <= percent; }
    std::string Pick(std::initializer_list<const char*> choices) {
        return *(choices.begin() + Number(0, int(choices.size()) - 1));
    }
    static void Append(Lines& to, const Lines& from) {
        to.insert(to.end(), from.begin(), from.end());
    }

    Lines BodyLines() {
        Lines lines;
        for (int n = Number(0, 4); n > 0; --n)
            lines.push_back(Pick({"plain words", "", "  ", "Caf=E9 soft=", "a_b", "SGVsbG8K",
                                  "QUJD", "end", "--b0", "x: y", "begin 644 f.txt", "#86)C", "`",
                                  "begin 777 no.txt", "Content-Type: text/html"}));
        return lines;
    }

    Lines UUBlock() {
        Lines lines = {"begin 644 " + Pick({"a.txt", "b.zip", "c"})};
        for (int n = Number(0, 3); n > 0; --n)
            if (Chance(5))
                lines.push_back(Pick({"#86)c", "M86)C"})); // broken: "Oops..."
            else if (Chance(20))
                lines.push_back("M" + std::string(60, '!'));
            else
                lines.push_back(Pick({"#86)C", "`", ""}));
        if (Chance(80))
            lines.push_back(Pick({"end", " END ", "`"}));
        return lines;
    }

    Lines Part(int depth) {
        Lines lines;
        const int kind = Number(0, depth < 4 ? 9 : 5);
        const std::string name =
            Chance(30) ? "; name=\"" + Pick({"n.txt", "=?x?Q?p=E9.gif?=", "a/b.zip", ""}) + "\""
                       : "";
        switch (kind) {
        case 0:
            lines = {"Content-Type: text/plain" + name};
            break;
        case 1:
            lines = {"Content-Type: text/html" + name};
            break;
        case 2:
            lines = {"Content-Type: " +
                         Pick({"text/plain", "application/pdf", "image/jpeg", "image/gif"}) + name,
                     "Content-Transfer-Encoding: " + Pick({"base64", "quoted-printable", "8bit"})};
            break;
        case 3:
            lines = {"Content-Type: application/octet-stream",
                     "Content-Disposition: attachment; filename=" + Pick({"x.bin", "\"y.html\""}),
                     "Content-Transfer-Encoding: " + Pick({"base64", "x-uuencode", "7bit"})};
            break;
        case 4:
            break; // no header block at all
        case 5:
            lines = {"Content-Type: text/plain", "Content-Transfer-Encoding: x-uuencode"};
            break;
        default: {
            if (kind == 9) {
                lines = {"Content-Type: message/rfc822", "", "Subject: inner"};
                Append(lines, Part(depth + 1));
                return lines;
            }
            const std::string boundary = "b" + std::to_string(boundaries_++);
            if (Chance(30))
                lines = {"Content-Type: multipart/mixed;", "\tboundary=\"" + boundary + "\""};
            else
                lines = {"Content-Type: multipart/" + Pick({"mixed", "alternative"}) +
                         "; boundary=" + boundary};
            lines.push_back("");
            if (Chance(50))
                lines.push_back("preamble");
            for (int n = Number(0, 3); n > 0; --n) {
                lines.push_back(Chance(90) ? "--" + boundary : "--" + boundary + " ");
                Append(lines, Part(depth + 1));
            }
            if (Chance(80))
                lines.push_back("--" + boundary + "--");
            if (Chance(50))
                lines.push_back("epilogue");
            return lines;
        }
        }
        lines.push_back("");
        Append(lines, kind == 5 || Chance(20) ? UUBlock() : BodyLines());
        if (Chance(30))
            Append(lines, UUBlock());
        Append(lines, BodyLines());
        return lines;
    }
};

TEST(ParseRawMail, MatchesTheRulesAsTheyStandOnGeneratedMessages) {
    MessageMaker maker(4242);
    int oops = 0, files = 0, text = 0;
    for (int i = 0; i < 4000; ++i) {
        const Lines lines = maker.Make();
        TQebMsg message;
        const bool parsed = ParseOrOops(message, lines);
        ReferenceParser reference;
        reference.Subject = message.Subject;
        bool referenceParsed = true;
        try {
            reference.Parse(lines);
        } catch (const std::runtime_error&) {
            referenceParsed = false;
        }
        const std::string source = ::testing::PrintToString(JoinLines(lines));
        ASSERT_EQ(parsed, referenceParsed) << source;
        ASSERT_EQ(message.Text, reference.Text) << source;
        ASSERT_EQ(FilesOf(message.AttachedFiles), FilesOf(reference.Files)) << source;
        oops += !parsed;
        files += message.AttachedFiles.Count() > 0;
        text += !message.Text.empty();
    }
    // The generated messages reach every outcome often.
    EXPECT_GT(oops, 100);
    EXPECT_GT(files, 1000);
    EXPECT_GT(text, 1000);
}

// --- Messages that once broke a parser: no crash, no hang, only "Oops..." ---------

TEST(ParseRawMail, HostileFixturesParseOrRaiseOops) {
    const std::filesystem::path folder = TARNIX_TEST_DATA "/message/hostile";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        TQebMsg message;
        SCOPED_TRACE(entry.path().filename().string());
        ParseOrOops(message, SplitLines(bytes.str()));
        ++count;
    }
    EXPECT_GT(count, 0);
}

} // namespace
