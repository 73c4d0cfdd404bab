#pragma once
// TQebMsg turns the source of one Internet message (a header block and a
// MIME body, as text lines) into its main header fields, its body text (the
// lines of every plain-text part, transfer-decoded, in message order) and
// its attached files (every other part, decoded into memory).
//
// A new object is made for every message and parsed once. The parser only
// reads the lines it is given. Structural damage (a missing delimiter, "end"
// line or header block, an unknown encoding) is handled by the parsing
// rules; the one error is a broken uuencoded block, which throws
// std::runtime_error("Oops...") out of ParseRawMail and leaves what was
// parsed until then in the object.
//
// Multipart and enclosed (message/rfc822) parts are opened down to
// kMaxNesting levels below the message. A container nested deeper is not
// opened: its header block is stripped and its body lines go to Text
// unchanged, like a part of an unknown type, so a hostile message can
// neither exhaust the stack nor hide its text.
#include "QebAttFile.h"

#include <span>
#include <string>
#include <vector>

enum TPriority { prHighest, prHigh, prNormal, prLow, prLowest };
enum TTextEncoding { te8Bit, teBase64 };

class TQebMsg {
public:
    static constexpr int kMaxNesting = 64;

    explicit TQebMsg(void* owner = nullptr) : FOwner(owner) {}
    TQebMsg(const TQebMsg&) = delete;
    TQebMsg& operator=(const TQebMsg&) = delete;

    void* Owner() const { return FOwner; }

    // Copies the lines into RawMail and parses them. Meant to be called
    // once; a second call adds to Headers, Text and AttachedFiles.
    void ParseRawMail(const std::vector<std::string>& lines);

    std::vector<std::string> RawMail;
    std::vector<std::string> Headers; // the header lines as they stand
    std::vector<std::string> Text;    // body text of all plain-text parts
    std::string From, Sender, MessageID, InReplyTo, ReturnPath, ReplyTo, SendTo, CC, Date, Subject;
    std::string ContentType;             // upper case
    std::string ContentTransferEncoding; // upper case
    TAttachedFiles AttachedFiles;
    bool ClearRawMailAfterParse = true;

    // Used only by a message writer; the parser neither reads nor fills them.
    std::string UserName, BCC;
    std::vector<std::string> ExtraHeaders;
    TPriority Priority = prNormal;
    std::string CharSet = "ISO-8859-1";
    TTextEncoding TextEncoding = te8Bit;
    std::string XMailer;

private:
    struct PartInfo {
        std::string ContentType, Encoding, FileName;
    };
    // One leaf of a multipart text: a run of lines of the list that
    // SplitMultipart was given, and how deep it is nested.
    struct Part {
        std::span<std::string> Lines;
        int Depth;
    };
    using Lines = std::span<std::string>;

    void ParseHeaders();
    // `owned`: the lines belong to this parse and may be moved from.
    void ParsePart(Lines lines, bool owned, int depth);
    static PartInfo GetPartInfo(std::span<const std::string> lines);
    void SplitMultipart(std::vector<Part>& parts, Lines lines, int depth);
    void AddAttachment(Lines lines, bool owned, const std::string& contentType,
                       std::string fileName, const std::string& encoding);
    void AddBodyText(Lines lines, bool owned, std::string encoding);
    void AppendText(Lines lines, bool owned);

    void* FOwner;
};
