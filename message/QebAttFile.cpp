#include "QebAttFile.h"

#include "platform/core/filetypes.h"
#include "platform/core/hooks.h"
#include "platform/core/tempdir.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void Oops() {
    throw std::runtime_error("Oops...");
}

// Base64 digit values; 64 is the pad mark, 99 anything else (not skipped).
constexpr std::array<unsigned char, 256> MakeBase64Table() {
    std::array<unsigned char, 256> table{};
    for (auto& value : table)
        value = 99;
    for (int i = 0; i < 26; ++i) {
        table['A' + i] = static_cast<unsigned char>(i);
        table['a' + i] = static_cast<unsigned char>(26 + i);
    }
    for (int i = 0; i < 10; ++i)
        table['0' + i] = static_cast<unsigned char>(52 + i);
    table['+'] = 62;
    table['/'] = 63;
    table['='] = 64;
    return table;
}
constexpr std::array<unsigned char, 256> kBase64Value = MakeBase64Table();

// Position of the last of the given delimiters, npos when none occurs.
std::size_t LastDelimiter(std::string_view text, std::string_view delimiters) {
    return text.find_last_of(delimiters);
}

// Decodes one uuencoded line (not the begin line) onto `out`.
void DecodeUULine(const std::string& line, std::string& out) {
    // An empty line has no count character; it carries nothing.
    if (line.empty())
        return;
    const int count = std::min(UUValue(line[0]), 45);
    const std::size_t available = line.size() - 1;
    const std::size_t digits = count == 45 ? 60 : std::min<std::size_t>(available, 60);
    unsigned char values[60] = {};
    for (std::size_t i = 0; i < digits; ++i) {
        if (i >= available)
            Oops(); // a full line cut short
        values[i] = static_cast<unsigned char>(UUValue(line[1 + i]));
    }
    unsigned char row[45];
    for (int group = 0; group < 15; ++group) {
        const unsigned char* v = values + group * 4;
        row[group * 3] = static_cast<unsigned char>((v[0] << 2) | (v[1] >> 4));
        row[group * 3 + 1] = static_cast<unsigned char>(((v[1] & 15) << 4) | (v[2] >> 2));
        row[group * 3 + 2] = static_cast<unsigned char>(((v[2] & 3) << 6) | v[3]);
    }
    out.append(reinterpret_cast<const char*>(row), static_cast<std::size_t>(count));
}

} // namespace

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
    if (Position >= Data.size())
        return 0;
    count = std::min(count, Data.size() - Position);
    std::memcpy(buffer, Data.data() + Position, count);
    Position += count;
    return count;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0)
        return 0;
    if (Position + count > Data.size())
        Data.resize(Position + count);
    std::memcpy(Data.data() + Position, buffer, count);
    Position += count;
    return count;
}

std::size_t TBase64DecodingStream::Write(const void* buffer, std::size_t count) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::size_t produced = 0;
    // Bytes go to the target in chunks rather than one group at a time.
    unsigned char chunk[3 * 1024];
    std::size_t filled = 0;
    auto flush = [&]() {
        if (filled == 0)
            return true;
        const bool whole = FTarget.Write(chunk, filled) == filled;
        produced += filled;
        filled = 0;
        return whole;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char c = in[i];
        if (c == '\r' || c == '\n')
            continue;
        FGroup[FGroupCount++] = c;
        if (FGroupCount < 4)
            continue;
        FGroupCount = 0;
        const unsigned a = kBase64Value[FGroup[0]];
        const unsigned b = kBase64Value[FGroup[1]];
        unsigned c3 = kBase64Value[FGroup[2]];
        unsigned d = kBase64Value[FGroup[3]];
        int bytes = 3;
        if (a == 64) {
            bytes = 0;
        } else if (c3 == 64) {
            c3 = d = 0;
            bytes = 1;
        } else if (d == 64) {
            d = 0;
            bytes = 2;
        }
        if (bytes == 0)
            continue;
        if (filled + 3 > sizeof chunk && !flush())
            return 0;
        chunk[filled++] = static_cast<unsigned char>((a << 2) + (b >> 4));
        if (bytes > 1)
            chunk[filled++] = static_cast<unsigned char>(((b & 15) << 4) + (c3 >> 2));
        if (bytes > 2)
            chunk[filled++] = static_cast<unsigned char>(((c3 & 3) << 6) + d);
    }
    if (!flush())
        return 0;
    return produced;
}

std::size_t TBase64DecodingStream::Read(void*, std::size_t) {
    throw std::runtime_error("Invalid stream operation");
}

std::size_t TBase64DecodingStream::Seek(std::int64_t, int) {
    throw std::runtime_error("Invalid stream operation");
}

std::string DecodeBase64Text(std::string_view digits) {
    TMemoryStream target;
    TBase64DecodingStream stream(target);
    stream.Write(digits.data(), digits.size());
    return std::move(target.Data);
}

std::string QPDecode(std::string text) {
    const std::size_t size = text.size();
    std::size_t in = 0, out = 0;
    while (in < size) {
        const char c = text[in];
        if (c == '_') {
            text[out++] = ' ';
            ++in;
        } else if (c != '=') {
            text[out++] = c;
            ++in;
        } else if (in + 1 < size && (text[in + 1] == '\r' || text[in + 1] == '\n')) {
            in += 3; // "=", the line break character and the one after it
        } else if (in + 2 < size) {
            const int high = HexDigit(text[in + 1]);
            const int low = HexDigit(text[in + 2]);
            text[out++] = (high < 0 || low < 0) ? '@' : static_cast<char>(high * 16 + low);
            in += 3;
        } else {
            break; // "=" with fewer than two characters after it ends the text
        }
    }
    text.resize(out);
    if (std::size_t nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return text;
}

int UUValue(char c) {
    const auto code = static_cast<unsigned char>(c);
    if (code == '`' || code == ' ')
        return 0;
    if (code >= 33 && code <= 95)
        return code - 32;
    Oops();
}

std::string FileExtensionOf(std::string_view fileName) {
    const std::size_t at = LastDelimiter(fileName, ".\\:");
    if (at == std::string_view::npos || fileName[at] != '.')
        return "";
    return std::string(fileName.substr(at));
}

std::string ChangeFileExtension(std::string_view fileName, std::string_view extension) {
    std::size_t at = LastDelimiter(fileName, ".\\:");
    if (at == std::string_view::npos || fileName[at] != '.')
        at = fileName.size();
    std::string result(fileName.substr(0, at));
    result += extension;
    return result;
}

std::string FileNamePartOf(std::string_view pathName) {
    const std::size_t at = LastDelimiter(pathName, "\\:");
    return std::string(at == std::string_view::npos ? pathName : pathName.substr(at + 1));
}

std::string ContentTypeOf(std::string_view fileName) {
    const std::string extension = FileExtensionOf(fileName);
    if (!extension.empty()) {
        std::string type = platform::MimeTypeOfExtension(extension);
        if (!type.empty())
            return type;
    }
    return "application/octet-stream";
}

std::string TempFolder() {
    return platform::TempDirectory();
}

TMemoryStream& TAttachedFile::ContentStream() {
    Content.Position = 0;
    return Content;
}

void TAttachedFile::DecodeBase64() {
    TMemoryStream buffer;
    {
        TBase64DecodingStream stream(buffer);
        for (const std::string& line : EncodedLines) {
            stream.Write(line.data(), line.size());
            platform::ProcessPendingEvents();
        }
    }
    buffer.Position = 0;
    Content = std::move(buffer);
}

void TAttachedFile::DecodeUU() {
    // The original design passed the bytes through one fixed temporary file
    // shared by every thread (a race, and a symlink hazard in a shared
    // folder); decoding in memory gives the same bytes without either.
    std::string decoded;
    const std::size_t count = EncodedLines.size();
    for (std::size_t i = 1; i < count;) {
        DecodeUULine(EncodedLines[i], decoded);
        ++i;
        if (i < count && (EncodedLines[i] == "end" || EncodedLines[i] == "`"))
            break;
    }
    Content.Data = std::move(decoded);
    Content.Position = 0;
}

TAttachedFile& TAttachedFiles::Items(int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return *FItems[static_cast<std::size_t>(index)];
}

const TAttachedFile& TAttachedFiles::Items(int index) const {
    return const_cast<TAttachedFiles*>(this)->Items(index);
}

TAttachedFile& TAttachedFiles::Add(const std::string& name) {
    auto item = std::make_unique<TAttachedFile>();
    item->PathName = name;
    item->FileName = FileNamePartOf(name);
    item->ContentType = ContentTypeOf(name);
    FItems.push_back(std::move(item));
    return *FItems.back();
}
