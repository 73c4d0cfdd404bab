#include "MimeHeaders.h"

#include "QebAttFile.h"

#include <algorithm>
#include <deque>

namespace {

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

char UpperChar(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsBlankLine(const std::string& line) {
    return std::all_of(line.begin(), line.end(), IsTrimmed);
}

// Position of the first occurrence of an upper-case key in the upper-cased
// text, without building that text.
std::size_t FindUpper(std::string_view text, std::string_view key) {
    if (key.empty())
        return 0;
    if (text.size() < key.size())
        return std::string_view::npos;
    const std::size_t last = text.size() - key.size();
    for (std::size_t i = 0; i <= last; ++i) {
        if (UpperChar(text[i]) != key[0])
            continue;
        std::size_t j = 1;
        while (j < key.size() && UpperChar(text[i + j]) == key[j])
            ++j;
        if (j == key.size())
            return i;
    }
    return std::string_view::npos;
}

bool StartsWithUpper(std::string_view text, std::string_view key) {
    if (text.size() < key.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (UpperChar(text[i]) != key[i])
            return false;
    return true;
}

// Every byte value, for the one-byte pieces that Q decoding makes.
struct ByteTable {
    char bytes[256];
    constexpr ByteTable() : bytes() {
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<char>(i);
    }
};
constexpr ByteTable kBytes{};

// Encoded-word decoding that does exactly what "find the first =?, decode
// that word, start again from the beginning of the new text" does, in time
// linear in the text, also when decoded text forms new encoded words.
//
// The text is kept as `out` (final: the text before the first "=?", which
// holds none, so only its last character can still start one) and a list of
// pending pieces. A piece is a single special character ("=", "_" or NUL,
// the only ones Q decoding changes and the only start of "=?" and end of
// "?=") or a run of other characters, pointing into the input or into a
// decoded buffer. The special pieces are also threaded on a list of their
// own, so that searching for "?=" and Q-decoding visit only them: a run that
// Q decoding leaves unchanged is never copied or scanned again, however
// often it is decoded. Every special piece visited is consumed or turned
// into a run, and every word shortens the text by at least seven
// characters, so the total work is linear.
class EncodedWordDecoder {
public:
    std::string Run(std::string_view text) {
        Insert(text, kNone, kNone);
        for (;;) {
            // The first "=?": the last character of out and the first one
            // pending, or a "=" piece followed by "?".
            bool startsInOut = !out_.empty() && out_.back() == '=' && head_ != kNone &&
                               pieces_[head_].data[0] == '?';
            int open = kNone; // the "=" piece, when it is pending
            if (!startsInOut) {
                for (;;) {
                    const int special = shead_;
                    if (special == kNone)
                        return Finish();
                    Finalize(special);
                    const int next = pieces_[special].next;
                    if (pieces_[special].data[0] == '=' && next != kNone &&
                        pieces_[next].data[0] == '?') {
                        open = special;
                        break;
                    }
                    Finalize(next);
                }
            }
            // The "?" of "=?" starts a piece; the rest of the word follows.
            Cursor at{startsInOut ? head_ : pieces_[open].next, 0};
            int lastSpecial = open; // last special piece before the data
            at = Next(at);
            while (at.piece != kNone && CharAt(at) != '?') {
                if (pieces_[at.piece].special)
                    lastSpecial = at.piece;
                at = Next(at);
            }
            // The set name, its "?", the kind and the character after the
            // kind go; the data starts after them.
            char kind = 0;
            for (int step = 0; step < 3 && at.piece != kNone; ++step) {
                at = Next(at);
                if (at.piece == kNone)
                    break;
                if (step == 0)
                    kind = UpperChar(CharAt(at));
                if (step < 2 && pieces_[at.piece].special)
                    lastSpecial = at.piece;
            }
            if (at.piece == kNone)
                return Finish();
            const int dataFirst = SplitAt(at);
            // The data ends at the first "?=" that lies wholly after its start.
            int close = kNone;
            for (int t = lastSpecial == kNone ? shead_ : pieces_[lastSpecial].snext; t != kNone;
                 t = pieces_[t].snext) {
                if (pieces_[t].data[0] != '=' || t == dataFirst)
                    continue;
                const Piece& before = pieces_[pieces_[t].prev];
                if (!before.special && before.data[before.size - 1] == '?') {
                    close = t;
                    break;
                }
            }
            if (close == kNone)
                return Finish();

            if (startsInOut)
                out_.pop_back();
            Drop(head_, dataFirst);
            const int afterFirst = pieces_[close].next;
            const int afterSpecial = pieces_[close].snext;
            const int question = pieces_[close].prev;
            Unlink(close);
            pieces_[question].size -= 1;
            if (pieces_[question].size == 0)
                Unlink(question);
            if (kind == 'Q')
                DecodeQ(afterFirst, afterSpecial);
            else if (kind == 'B')
                DecodeB(afterFirst, afterSpecial);
            else
                Drop(head_, afterFirst);
        }
    }

private:
    static constexpr int kNone = -1;

    struct Piece {
        const char* data;
        std::size_t size;
        int prev, next;   // pending text, in order
        int sprev, snext; // special pieces, in order
        bool special;
    };
    struct Cursor {
        int piece; // kNone: past the end
        std::size_t offset;
    };

    static bool IsSpecial(char c) { return c == '=' || c == '_' || c == '\0'; }

    std::vector<Piece> pieces_;
    int head_ = kNone, tail_ = kNone;
    int shead_ = kNone, stail_ = kNone;
    std::string out_;
    std::deque<std::string> buffers_; // decoded B data; deque keeps them in place

    char CharAt(Cursor at) const { return pieces_[at.piece].data[at.offset]; }

    Cursor Next(Cursor at) const {
        if (at.offset + 1 < pieces_[at.piece].size)
            return {at.piece, at.offset + 1};
        return {pieces_[at.piece].next, 0};
    }

    // Links piece p before `at` (kNone: at the end), and a special piece also
    // before `specialAt` on the special list.
    void LinkBefore(int p, int at, int specialAt) {
        Piece& piece = pieces_[p];
        piece.next = at;
        piece.prev = at == kNone ? tail_ : pieces_[at].prev;
        (piece.prev == kNone ? head_ : pieces_[piece.prev].next) = p;
        (at == kNone ? tail_ : pieces_[at].prev) = p;
        if (!piece.special)
            return;
        piece.snext = specialAt;
        piece.sprev = specialAt == kNone ? stail_ : pieces_[specialAt].sprev;
        (piece.sprev == kNone ? shead_ : pieces_[piece.sprev].snext) = p;
        (specialAt == kNone ? stail_ : pieces_[specialAt].sprev) = p;
    }

    void UnlinkSpecial(int p) {
        Piece& piece = pieces_[p];
        (piece.sprev == kNone ? shead_ : pieces_[piece.sprev].snext) = piece.snext;
        (piece.snext == kNone ? stail_ : pieces_[piece.snext].sprev) = piece.sprev;
        piece.special = false;
    }

    void Unlink(int p) {
        if (pieces_[p].special)
            UnlinkSpecial(p);
        Piece& piece = pieces_[p];
        (piece.prev == kNone ? head_ : pieces_[piece.prev].next) = piece.next;
        (piece.next == kNone ? tail_ : pieces_[piece.next].prev) = piece.prev;
    }

    int NewPiece(const char* data, std::size_t size, bool special) {
        pieces_.push_back({data, size, kNone, kNone, kNone, kNone, special});
        return static_cast<int>(pieces_.size()) - 1;
    }

    // Cuts text into pieces and links them, in order, before `at`.
    void Insert(std::string_view text, int at, int specialAt) {
        std::size_t i = 0;
        while (i < text.size()) {
            if (IsSpecial(text[i])) {
                LinkBefore(NewPiece(text.data() + i, 1, true), at, specialAt);
                ++i;
                continue;
            }
            std::size_t end = i + 1;
            while (end < text.size() && !IsSpecial(text[end]))
                ++end;
            LinkBefore(NewPiece(text.data() + i, end - i, false), at, specialAt);
            i = end;
        }
    }

    // The piece that starts at `at`, splitting a run when needed.
    int SplitAt(Cursor at) {
        if (at.offset == 0)
            return at.piece;
        const Piece& piece = pieces_[at.piece];
        const int rest =
            NewPiece(piece.data + at.offset, piece.size - at.offset, false); // runs only
        pieces_[at.piece].size = at.offset;
        LinkBefore(rest, pieces_[at.piece].next, kNone);
        return rest;
    }

    // Moves the pending pieces before `upTo` (kNone: all) to out.
    void Finalize(int upTo) {
        while (head_ != upTo) {
            const int p = head_;
            out_.append(pieces_[p].data, pieces_[p].size);
            Unlink(p);
        }
    }

    void Drop(int from, int upTo) {
        while (from != upTo) {
            const int next = pieces_[from].next;
            Unlink(from);
            from = next;
        }
    }

    std::string Finish() {
        Finalize(kNone);
        return std::move(out_);
    }

    // Removes up to `count` characters right after piece p, inside the data
    // (before afterFirst); a removed special piece moves `nextSpecial` on.
    void ConsumeAfter(int p, std::size_t count, int afterFirst, int& nextSpecial) {
        while (count > 0) {
            const int q = pieces_[p].next;
            if (q == kNone || q == afterFirst)
                return;
            Piece& piece = pieces_[q];
            if (piece.special) {
                nextSpecial = piece.snext;
                Unlink(q);
                --count;
                continue;
            }
            const std::size_t taken = std::min(count, piece.size);
            piece.data += taken;
            piece.size -= taken;
            count -= taken;
            if (piece.size == 0)
                Unlink(q);
        }
    }

    // QPDecode of the data [head_, afterFirst), whose special pieces are
    // [shead_, afterSpecial): only the special pieces change.
    void DecodeQ(int afterFirst, int afterSpecial) {
        int t = shead_;
        while (t != afterSpecial) {
            int nextSpecial = pieces_[t].snext;
            const char c = pieces_[t].data[0];
            if (c == '_') {
                UnlinkSpecial(t);
                pieces_[t].data = &kBytes.bytes[static_cast<unsigned char>(' ')];
                t = nextSpecial;
                continue;
            }
            if (c == '\0') { // the decoded text ends at its first NUL
                Drop(t, afterFirst);
                return;
            }
            char following[2];
            int seen = 0;
            for (int q = pieces_[t].next; q != kNone && q != afterFirst && seen < 2;
                 q = pieces_[q].next)
                for (std::size_t i = 0; i < pieces_[q].size && seen < 2; ++i)
                    following[seen++] = pieces_[q].data[i];
            if (seen > 0 && (following[0] == '\r' || following[0] == '\n')) {
                ConsumeAfter(t, 2, afterFirst, nextSpecial);
                Unlink(t);
                t = nextSpecial;
                continue;
            }
            if (seen < 2) { // "=" with fewer than two characters after it
                ConsumeAfter(t, 2, afterFirst, nextSpecial);
                Unlink(t);
                return;
            }
            const int high = HexDigit(following[0]), low = HexDigit(following[1]);
            const int byte = (high < 0 || low < 0) ? 64 : high * 16 + low;
            ConsumeAfter(t, 2, afterFirst, nextSpecial);
            if (byte == 0) {
                Drop(t, afterFirst);
                return;
            }
            pieces_[t].data = &kBytes.bytes[byte];
            if (!IsSpecial(static_cast<char>(byte)))
                UnlinkSpecial(t); // a "=" or "_" made here is decoded by a later word only
            t = nextSpecial;
        }
    }

    void DecodeB(int afterFirst, int afterSpecial) {
        std::string digits;
        for (int p = head_; p != afterFirst; p = pieces_[p].next)
            digits.append(pieces_[p].data, pieces_[p].size);
        Drop(head_, afterFirst);
        buffers_.push_back(DecodeBase64Text(digits));
        Insert(buffers_.back(), afterFirst, afterSpecial);
    }
};

} // namespace

std::string TrimText(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsTrimmed(text[begin]))
        ++begin;
    while (end > begin && IsTrimmed(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string UpperText(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = UpperChar(c);
    return result;
}

std::string LowerText(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

namespace {

// The first line that the header search looks at: leading empty lines are
// skipped; the block then runs to the next empty line.
std::size_t FirstBlockStart(std::span<const std::string> lines) {
    std::size_t begin = 0;
    while (begin < lines.size() && lines[begin].empty())
        ++begin;
    return begin;
}

// The header line at `index` with its continuation lines appended, trimmed.
std::string HeaderWithContinuations(std::span<const std::string> lines, std::size_t index) {
    std::string header = lines[index];
    for (std::size_t j = index + 1;
         j < lines.size() && !lines[j].empty() && (lines[j][0] == ' ' || lines[j][0] == '\t'); ++j)
        header += TrimText(lines[j]);
    return header;
}

} // namespace

std::optional<std::string> FindHeader(std::string_view key, std::span<const std::string> lines) {
    for (std::size_t i = FirstBlockStart(lines); i < lines.size() && !lines[i].empty(); ++i)
        if (StartsWithUpper(lines[i], key))
            return HeaderWithContinuations(lines, i);
    return std::nullopt;
}

std::vector<std::optional<std::string>> FindHeaders(std::initializer_list<std::string_view> keys,
                                                    std::span<const std::string> lines) {
    std::vector<std::optional<std::string>> found(keys.size());
    std::size_t shortest = std::string_view::npos, missing = keys.size();
    for (std::string_view key : keys)
        shortest = std::min(shortest, key.size());
    for (std::size_t i = FirstBlockStart(lines); i < lines.size() && !lines[i].empty(); ++i) {
        if (lines[i].size() < shortest)
            continue;
        std::size_t k = 0;
        for (std::string_view key : keys) {
            if (!found[k] && StartsWithUpper(lines[i], key)) {
                found[k] = HeaderWithContinuations(lines, i);
                if (--missing == 0)
                    return found;
            }
            ++k;
        }
    }
    return found;
}

std::string HeaderValue(std::string_view key, std::string_view line) {
    const std::size_t at = FindUpper(line, key);
    if (at == std::string_view::npos)
        return "";
    std::string value = TrimText(line.substr(at + key.size()));
    if (const std::size_t semicolon = value.find(';'); semicolon != std::string::npos)
        value = TrimText(std::string_view(value).substr(0, semicolon));
    return value;
}

std::size_t HeaderBlockLength(std::span<const std::string> lines) {
    std::size_t i = 0;
    while (i < lines.size() && !IsBlankLine(lines[i]))
        ++i;
    while (i < lines.size() && IsBlankLine(lines[i]))
        ++i;
    return i;
}

void StripHeaderBlock(std::vector<std::string>& lines) {
    lines.erase(lines.begin(),
                lines.begin() + static_cast<std::ptrdiff_t>(HeaderBlockLength(lines)));
}

std::string BoundaryOf(std::string_view line) {
    const std::size_t at = FindUpper(line, "BOUNDARY");
    // Without the word, reading starts where it would have ended had it
    // stood at the start of the line.
    const std::size_t start = at == std::string_view::npos ? 7 : at + 8;
    std::string boundary = start < line.size() ? TrimText(line.substr(start, 72)) : "";
    if (!boundary.empty())
        boundary.erase(0, 1); // the "="
    boundary = TrimText(boundary);
    if (!boundary.empty() && boundary[0] == '"') {
        boundary.erase(0, 1);
        if (const std::size_t quote = boundary.find('"'); quote != std::string::npos)
            boundary.resize(quote);
    }
    if (const std::size_t semicolon = boundary.find(';'); semicolon != std::string::npos)
        boundary.resize(semicolon);
    return "--" + TrimText(boundary);
}

std::string DecodeEncodedWords(std::string_view text) {
    if (text.find("=?") == std::string_view::npos)
        return std::string(text);
    return EncodedWordDecoder().Run(text);
}

std::string NormalizeAddressList(std::string_view text) {
    // Quoted strings go with their quotes; a lone quote goes alone.
    std::string list;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = text.find('"', pos);
        if (open == std::string_view::npos) {
            list.append(text.substr(pos));
            break;
        }
        list.append(text.substr(pos, open - pos));
        const std::size_t close = text.find('"', open + 1);
        if (close == std::string_view::npos) {
            list.append(text.substr(open + 1));
            break;
        }
        pos = close + 1;
    }
    std::string result;
    std::string_view rest = list;
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        result += DisplayNameOf(DecodeEncodedWords(item));
        result += ' ';
        result += AddressOf(item);
        if (comma == std::string_view::npos)
            return result;
        result += ", ";
        rest.remove_prefix(comma + 1);
    }
}

std::string DisplayNameOf(std::string_view item) {
    std::string name(item);
    const std::size_t lt = name.find('<'), gt = name.find('>');
    if (lt != std::string::npos && gt != std::string::npos && gt > lt)
        name.erase(lt, gt - lt + 1);
    const std::size_t open = name.find('('), close = name.find(')');
    if (open != std::string::npos && close != std::string::npos)
        name = close > open ? name.substr(open + 1, close - open - 1) : std::string();
    name = RemoveChar(RemoveChar(name, '"'), '\'');
    return "\"" + TrimText(name) + "\"";
}

std::string AddressOf(std::string_view item) {
    // Comments go, one after the other; the text before a removed comment
    // holds no parenthesis, so each search goes on from there.
    std::string address;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = item.find('(', pos), close = item.find(')', pos);
        if (open == std::string_view::npos || close == std::string_view::npos || close < open)
            break;
        address.append(item.substr(pos, open - pos));
        pos = close + 1;
    }
    address.append(item.substr(pos));
    address = TrimText(address);
    const std::size_t lt = address.find('<'), gt = address.find('>');
    if (lt != std::string::npos && gt != std::string::npos)
        address = gt > lt ? address.substr(lt + 1, gt - lt - 1) : std::string();
    return "<" + address + ">";
}

std::string RemoveChar(std::string_view text, char c) {
    std::string result;
    result.reserve(text.size());
    for (char ch : text)
        if (ch != c)
            result.push_back(ch);
    return result;
}

std::string StripQuotes(std::string_view text) {
    if (text.empty())
        return "";
    if (text.front() == '"' || text.front() == '\'')
        text.remove_prefix(1);
    if (!text.empty() && (text.back() == '"' || text.back() == '\''))
        text.remove_suffix(1);
    return std::string(text);
}
