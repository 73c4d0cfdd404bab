#pragma once
// Attached files of a parsed message and the transfer decoders that fill
// them: base64 (a write-only decoding stream), quoted-printable and
// uuencode, plus the MIME type of a file name and the temporary folder.
//
// Decoding never rejects base64 or quoted-printable input: wrong characters
// give wrong bytes. Only a broken uuencoded line is an error ("Oops..."),
// which ends the parse of the whole message.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// An in-memory byte stream: the bytes and a read/write position.
class TMemoryStream {
public:
    std::string Data;
    std::size_t Position = 0;

    std::size_t Size() const { return Data.size(); }
    // Reads up to count bytes from Position; returns how many were read.
    std::size_t Read(void* buffer, std::size_t count);
    // Writes at Position (overwriting, then extending); returns count.
    std::size_t Write(const void* buffer, std::size_t count);
    void Seek(std::size_t position) { Position = position; }
};

// A stream that can only be written: base64 digits in, decoded bytes out to
// a target stream it does not own. Digits of an incomplete group are held
// over to the next Write; an incomplete group left at the end gives nothing.
// Nothing is skipped but CR and LF, nothing is an error: a byte that is not
// a base64 digit counts as the value 99.
class TBase64DecodingStream {
public:
    explicit TBase64DecodingStream(TMemoryStream& target) : FTarget(target) {}

    // Returns the number of bytes this call produced (0 when the target
    // took fewer bytes than it was given).
    std::size_t Write(const void* buffer, std::size_t count);
    // Both throw std::runtime_error("Invalid stream operation").
    [[noreturn]] std::size_t Read(void* buffer, std::size_t count);
    [[noreturn]] std::size_t Seek(std::int64_t offset, int origin);

private:
    TMemoryStream& FTarget;
    unsigned char FGroup[4] = {};
    int FGroupCount = 0;
};

// Base64 decoding of a whole text through a TBase64DecodingStream.
std::string DecodeBase64Text(std::string_view digits);

// Quoted-printable decoding in one pass: "_" is a blank, "=" CR/LF and the
// character after it vanish, "=XY" is the byte 0xXY (64 when XY is not
// hexadecimal), a "=" with fewer than two characters after it ends the text,
// and the result ends at its first NUL byte.
std::string QPDecode(std::string text);

// The value of a hexadecimal digit (either case), -1 for any other character.
int HexDigit(char c);

// The 6-bit value of a uuencode character: "`" and blank give 0, "!" to "_"
// give 1 to 63; anything else throws std::runtime_error("Oops...").
int UUValue(char c);

// The extension of a file name with its dot: the text from the last "." that
// no "\" or ":" follows; "" when there is none.
std::string FileExtensionOf(std::string_view fileName);
// The file name with its extension replaced by `extension`, or `extension`
// appended when it has none.
std::string ChangeFileExtension(std::string_view fileName, std::string_view extension);
// The name without any folder part: the text after the last "\" or ":".
std::string FileNamePartOf(std::string_view pathName);

// The MIME type registered for the file name's extension;
// "application/octet-stream" when none is.
std::string ContentTypeOf(std::string_view fileName);

// The system's temporary folder, with its trailing separator.
std::string TempFolder();

// One attached file: its name, MIME type and decoded content. The encoded
// lines are held only while the content is being decoded.
class TAttachedFile {
public:
    std::string FileName;    // PathName without any folder part
    std::string PathName;    // the name as given to TAttachedFiles::Add
    std::string ContentType; // from the extension of PathName
    std::vector<std::string> EncodedLines;
    TMemoryStream Content;

    // Content rewound to its start; it stays owned by the item.
    TMemoryStream& ContentStream();
    // Content := base64 decoding of EncodedLines. Lets the calling thread
    // handle its pending events after every line, as a long attachment
    // would otherwise freeze the windows of the thread that parses.
    void DecodeBase64();
    // Content := uudecoding of EncodedLines, whose first line is the
    // "begin" line. Decodes in memory. On a character outside the uuencode
    // alphabet, or a 45-byte line with fewer than 60 characters after its
    // count, throws std::runtime_error("Oops...") and leaves Content as it
    // was.
    void DecodeUU();
};

// The attached files of one message, in the order they were added. Items
// stay at their address until the collection is destroyed or cleared.
class TAttachedFiles {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    // 0-based; throws std::out_of_range outside 0 .. Count() - 1.
    TAttachedFile& Items(int index);
    const TAttachedFile& Items(int index) const;
    // Appends an item with PathName := name, FileName and ContentType
    // derived from it, and an empty content.
    TAttachedFile& Add(const std::string& name);
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TAttachedFile>> FItems;
};
