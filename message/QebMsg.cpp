#include "QebMsg.h"

#include "MimeHeaders.h"
#include "TextLines.h"

#include <iterator>
#include <string_view>

namespace {

bool Contains(const std::string& text, std::string_view word) {
    return text.find(word) != std::string::npos;
}

// Lines handed in by a caller may hold line breaks or NUL bytes; lines this
// parser split never do, and for those splitting the joined text again gives
// the same lines.
bool NeedsResplit(std::span<const std::string> lines) {
    constexpr std::string_view breaks("\r\n\0", 3);
    for (const std::string& line : lines)
        if (line.find_first_of(breaks) != std::string::npos)
            return true;
    return false;
}

// The usual text-to-integer reading of a short text: leading blanks, an
// optional sign, then decimal digits to the end; anything else is no number.
bool ReadInteger(std::string_view text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    int number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + (text[i] - '0');
    }
    value = negative ? -number : number;
    return true;
}

// A uuencode begin line: longer than 10 characters, "begin" in any case,
// characters 7 to 9 a mode from 1 to 776; the name is up to 64 characters
// from the 11th on, not trimmed.
bool IsUUBeginLine(const std::string& line, std::string& name) {
    if (line.size() <= 10)
        return false;
    for (int i = 0; i < 5; ++i)
        if ((line[i] | 0x20) != "begin"[i]) // exact case folding for these five letters
            return false;
    int mode = 0;
    if (!ReadInteger(std::string_view(line).substr(6, 3), mode) || mode < 1 || mode > 776)
        return false;
    name = line.substr(10, 64);
    return true;
}

bool IsUUEndLine(const std::string& line) {
    return LowerText(TrimText(line)) == "end";
}

void Take(std::vector<std::string>& to, std::string& line, bool owned) {
    if (owned)
        to.push_back(std::move(line));
    else
        to.push_back(line);
}

std::string WithoutFinalLineBreak(std::string text) {
    if (!text.empty())
        text.resize(text.size() - 2);
    return text;
}

} // namespace

void TQebMsg::ParseRawMail(const std::vector<std::string>& lines) {
    if (lines.empty()) {
        RawMail.clear();
        return;
    }
    for (const std::string& line : lines) {
        if (line.empty())
            break;
        Headers.push_back(line);
    }
    ParseHeaders();
    // The whole message, header block included, is the outermost part. It
    // is parsed where it stands (owned = false: its lines are only read and
    // copied, never moved from or written). RawMail holds a copy of the lines
    // after the parse only when it is kept, or when the parse failed; a
    // copy made only to be emptied again is not made.
    if (!ClearRawMailAfterParse) {
        RawMail = lines;
        ParsePart(RawMail, false, 0);
        return;
    }
    RawMail.clear();
    try {
        ParsePart(std::span(const_cast<std::string*>(lines.data()), lines.size()), false, 0);
    } catch (...) {
        RawMail = lines;
        throw;
    }
}

void TQebMsg::ParseHeaders() {
    if (Headers.empty())
        return;
    // Preset from the first line: for an mbox envelope line "From sender
    // date", the sender and the date.
    From = Headers[0].size() > 5 ? Headers[0].substr(5, 72) : std::string();

    enum Treatment { None, Decode, Normalize, Upper };
    struct Row {
        const char* key;
        std::string TQebMsg::*field;
        Treatment treatment;
        const char* absent; // nullptr: the field keeps its value
    };
    static const Row rows[] = {
        {"FROM:", &TQebMsg::From, Decode, nullptr},
        {"SENDER:", &TQebMsg::Sender, Normalize, nullptr},
        {"MESSAGE-ID:", &TQebMsg::MessageID, None, nullptr},
        {"IN-REPLY-TO:", &TQebMsg::InReplyTo, None, nullptr},
        {"RETURN-PATH:", &TQebMsg::ReturnPath, None, nullptr},
        {"REPLY-TO:", &TQebMsg::ReplyTo, Normalize, nullptr},
        {"TO:", &TQebMsg::SendTo, Normalize, nullptr},
        {"CC:", &TQebMsg::CC, Normalize, nullptr},
        {"DATE:", &TQebMsg::Date, None, nullptr},
        {"SUBJECT:", &TQebMsg::Subject, Decode, nullptr},
        {"CONTENT-TYPE:", &TQebMsg::ContentType, Upper, "TEXT/PLAIN"},
        {"CONTENT-TRANSFER-ENCODING:", &TQebMsg::ContentTransferEncoding, Upper, "7BIT"},
    };
    for (const Row& row : rows) {
        std::string& field = this->*row.field;
        const auto line = FindHeader(row.key, Headers);
        if (!line) {
            if (row.absent)
                field = row.absent;
            continue;
        }
        std::string value = HeaderValue(row.key, *line);
        switch (row.treatment) {
        case None:
            field = std::move(value);
            break;
        case Decode:
            field = DecodeEncodedWords(value);
            break;
        case Normalize:
            field = NormalizeAddressList(value);
            break;
        case Upper:
            field = UpperText(value);
            break;
        }
    }
}

TQebMsg::PartInfo TQebMsg::GetPartInfo(std::span<const std::string> lines) {
    PartInfo info;
    const auto headers =
        FindHeaders({"CONTENT-TYPE:", "CONTENT-TRANSFER-ENCODING:", "CONTENT-DISPOSITION:"}, lines);
    if (const auto& line = headers[0]) {
        info.ContentType = UpperText(HeaderValue("CONTENT-TYPE:", *line));
        info.FileName = HeaderValue("NAME", *line);
    } else {
        info.ContentType = "TEXT/PLAIN";
    }
    if (const auto& line = headers[1])
        info.Encoding = UpperText(HeaderValue("CONTENT-TRANSFER-ENCODING:", *line));
    else
        info.Encoding = "7BIT";
    if (info.FileName.empty() && headers[2])
        info.FileName = HeaderValue("FILENAME", *headers[2]);
    if (!info.FileName.empty()) {
        info.FileName.erase(0, 1); // the "=" of the parameter
        if (const std::size_t semicolon = info.FileName.find(';'); semicolon != std::string::npos)
            info.FileName = TrimText(std::string_view(info.FileName).substr(0, semicolon));
        info.FileName = DecodeEncodedWords(StripQuotes(info.FileName));
    }
    info.FileName = TrimText(info.FileName);
    return info;
}

void TQebMsg::ParsePart(Lines lines, bool owned, int depth) {
    const PartInfo info = GetPartInfo(lines);
    const std::string& type = info.ContentType;
    const auto body = [&] { return lines.subspan(HeaderBlockLength(lines)); };

    if (Contains(type, "TEXT")) {
        if (!info.FileName.empty() || type == "TEXT/HTML")
            AddAttachment(body(), owned, type, info.FileName, info.Encoding);
        else
            AddBodyText(body(), owned, info.Encoding);
        return;
    }
    if (Contains(type, "MULTIPART")) {
        if (depth >= kMaxNesting) {
            AppendText(body(), owned);
            return;
        }
        std::vector<std::string> all;
        if (NeedsResplit(lines))
            all = SplitLines(JoinLineRange(lines));
        else if (owned)
            all.assign(std::make_move_iterator(lines.begin()),
                       std::make_move_iterator(lines.end()));
        else
            all.assign(lines.begin(), lines.end());
        // `all` holds clean lines now, so it is split as multipart again
        // (a multipart part of clean lines always is): this cannot recurse
        // on the same lines.
        std::vector<Part> parts;
        SplitMultipart(parts, all, depth);
        for (Part& part : parts)
            ParsePart(part.Lines, true, part.Depth);
        return;
    }
    if (info.Encoding == "X-UUENCODE" || !info.FileName.empty()) {
        AddAttachment(body(), owned, type, info.FileName, info.Encoding);
        return;
    }
    if (type == "MESSAGE/RFC822") {
        // The enclosed message adds its text and attachments; its header
        // fields do not replace the outer ones.
        if (depth >= kMaxNesting)
            AppendText(body(), owned);
        else
            ParsePart(body(), owned, depth + 1);
        return;
    }
    if (info.Encoding == "BASE64" || info.Encoding == "QUOTED-PRINTABLE") {
        AddAttachment(body(), owned, type, std::string(), info.Encoding);
        return;
    }
    AppendText(body(), owned);
}

// The lines of a multipart text are split in place: every leaf part is a
// run of the given lines (delimiters left out), so nothing is joined or
// copied per part, however many parts or levels there are. Nested multipart
// parts are flattened, each split with its own boundary.
void TQebMsg::SplitMultipart(std::vector<Part>& parts, Lines lines, int depth) {
    const auto header = FindHeader("CONTENT-TYPE:", lines);
    if (!header || !Contains(UpperText(*header), "MULTIPART") || depth >= kMaxNesting) {
        parts.push_back({lines, depth});
        return;
    }
    const std::size_t count = lines.size();
    const std::string delimiter = BoundaryOf(*header);
    const std::string closing = delimiter + "--";
    // The preamble goes: everything up to the first delimiter.
    std::size_t first = HeaderBlockLength(lines);
    while (first < count && lines[first] != delimiter)
        ++first;
    if (first >= count) {
        SplitMultipart(parts, Lines(), depth + 1);
        return;
    }
    std::size_t start = first + 1, i = first + 1;
    while (i < count && lines[i] != closing) {
        if (lines[i] == delimiter) {
            SplitMultipart(parts, lines.subspan(start, i - start), depth + 1);
            start = ++i;
            if (i >= count)
                break;
        }
        ++i; // the line after a delimiter joins the new part unexamined
    }
    // The last part runs to the closing delimiter or to the end; the
    // epilogue after the closing delimiter goes.
    SplitMultipart(parts, lines.subspan(start, i - start), depth + 1);
}

void TQebMsg::AddBodyText(Lines lines, bool owned, std::string encoding) {
    // Uuencoded blocks come out: from its begin line up to (not including)
    // the next "end" line, empty lines left out, each block becomes an
    // attached file. The "end" line stays in the text.
    std::string name;
    std::size_t first = 0;
    while (first < lines.size() && !IsUUBeginLine(lines[first], name))
        ++first;
    std::vector<std::string> kept;
    if (first < lines.size()) {
        for (std::size_t i = 0; i < first; ++i)
            Take(kept, lines[i], owned);
        for (std::size_t i = first; i < lines.size();) {
            if (!IsUUBeginLine(lines[i], name)) {
                Take(kept, lines[i], owned);
                ++i;
                continue;
            }
            std::vector<std::string> block;
            for (; i < lines.size() && !IsUUEndLine(lines[i]); ++i)
                if (!lines[i].empty())
                    Take(block, lines[i], owned);
            AddAttachment(block, true, "APPLICATION/OCTET-STREAM", name, "X-UUENCODE");
        }
        lines = kept;
        owned = true;
        encoding = "X-UUENCODE";
    }
    if (encoding == "QUOTED-PRINTABLE") {
        std::vector<std::string> decoded = SplitLines(QPDecode(JoinLineRange(lines)));
        AppendText(decoded, true);
    } else if (encoding == "BASE64") {
        std::vector<std::string> decoded = SplitLines(DecodeBase64Text(JoinLineRange(lines)));
        AppendText(decoded, true);
    } else {
        AppendText(lines, owned);
    }
}

void TQebMsg::AppendText(Lines lines, bool owned) {
    if (owned)
        Text.insert(Text.end(), std::make_move_iterator(lines.begin()),
                    std::make_move_iterator(lines.end()));
    else
        Text.insert(Text.end(), lines.begin(), lines.end());
}

void TQebMsg::AddAttachment(Lines lines, bool owned, const std::string& contentType,
                            std::string fileName, const std::string& encoding) {
    if (fileName.empty()) {
        // Named after the subject; the extension tells the type.
        fileName = Subject;
        if (contentType == "TEXT/HTML")
            fileName = ChangeFileExtension(fileName, ".html");
        else if (contentType == "IMAGE/JPEG")
            fileName = ChangeFileExtension(fileName, ".jpeg");
        else if (contentType == "IMAGE/GIF")
            fileName = ChangeFileExtension(fileName, ".gif");
    }
    constexpr std::string_view forbidden = "\\/:*?\"<>|";
    std::erase_if(fileName, [&](char c) { return forbidden.find(c) != std::string_view::npos; });

    TAttachedFile& item = AttachedFiles.Add(fileName);
    if (encoding == "BASE64" || encoding == "X-UUENCODE") {
        if (owned)
            item.EncodedLines.assign(std::make_move_iterator(lines.begin()),
                                     std::make_move_iterator(lines.end()));
        else
            item.EncodedLines.assign(lines.begin(), lines.end());
        if (encoding == "BASE64")
            item.DecodeBase64();
        else
            item.DecodeUU();
        item.EncodedLines.clear();
    } else if (encoding == "QUOTED-PRINTABLE") {
        item.Content.Data =
            WithoutFinalLineBreak(JoinLines(SplitLines(QPDecode(JoinLineRange(lines)))));
    } else {
        item.Content.Data = WithoutFinalLineBreak(JoinLineRange(lines));
    }
}
