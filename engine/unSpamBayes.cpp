#include "unSpamBayes.h"

#include "platform/core/atomicfile.h"
#include "platform/core/collation.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---------------------------------------------------------------------------
// Tokenizer

struct TTokenCharacters {
    bool Is[256] = {};
    constexpr TTokenCharacters() {
        for (int c = 65; c <= 122; ++c)
            Is[c] = true;
        for (int c = 45; c <= 58; ++c)
            Is[c] = c != 47;
        Is[36] = true;
    }
};
constexpr TTokenCharacters kTokenCharacters;

constexpr std::size_t kShortestToken = 3;
constexpr std::size_t kLongestToken = 19;

// Calls found(offset, length) for a token candidate run when its length fits.
template <typename Found>
inline void takeRun(std::size_t start, std::size_t end, Found& found) {
    std::size_t length = end - start;
    if (length >= kShortestToken && length <= kLongestToken)
        found(start, length);
}

#if defined(__SSE2__)
// One bit per byte of the 16 at p: set for token characters.
inline unsigned tokenCharacterMask(const unsigned char* p) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed comparisons: the bytes from 128 up are negative and fall out.
    __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(64)),
                                    _mm_cmplt_epi8(bytes, _mm_set1_epi8(123)));
    __m128i punctuation = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(44)),
                                        _mm_cmplt_epi8(bytes, _mm_set1_epi8(59)));
    punctuation = _mm_andnot_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(47)), punctuation);
    __m128i dollar = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(36));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(letters, punctuation), dollar)));
}
#endif

// Calls found(offset, length) for every token of the text, in order.
//
// Sixteen bytes are classified at once and the runs of token characters
// found from the edges of the resulting bit mask, so the cost goes with the
// number of runs rather than with a branch per byte. The tail, and builds
// without SSE2, take the bytes one at a time; both give the same runs.
template <typename Found>
void forEachToken(std::string_view text, Found&& found) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    bool inRun = false;
    std::size_t runStart = 0;
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16) {
        unsigned mask = tokenCharacterMask(bytes + i);
        // Edges: bit k set where byte k differs from byte k - 1 (byte -1 is
        // the state carried over from the block before).
        unsigned edges = (mask ^ ((mask << 1) | (inRun ? 1u : 0u))) & 0xffffu;
        while (edges != 0) {
            unsigned k = static_cast<unsigned>(__builtin_ctz(edges));
            edges &= edges - 1;
            if (!inRun) {
                runStart = i + k;
            } else {
                takeRun(runStart, i + k, found);
            }
            inRun = !inRun;
        }
    }
#endif
    for (; i < size; ++i) {
        bool token = kTokenCharacters.Is[bytes[i]];
        if (token != inRun) {
            if (token)
                runStart = i;
            else
                takeRun(runStart, i, found);
            inRun = token;
        }
    }
    if (inRun)
        takeRun(runStart, size, found);
}

// ---------------------------------------------------------------------------
// The message token set

std::uint64_t load64(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// The last 1 to 7 bytes of a text as one word, without reading past them.
// The two loads may overlap; equal texts still give equal words.
std::uint64_t loadTail(const char* p, std::size_t n) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (n >= 4) {
        std::uint32_t first, last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        return first | (static_cast<std::uint64_t>(last) << 32);
    }
    return (static_cast<std::uint64_t>(u[0]) << 16) | (static_cast<std::uint64_t>(u[n >> 1]) << 8) |
           u[n - 1];
}

// Folds the letters A-Z of eight bytes to a-z at once (bytes from 128 up and
// everything else are left alone), as platform::FoldCase does byte by byte.
std::uint64_t foldWord(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    std::uint64_t low7 = w & (0x7f * ones);
    std::uint64_t aboveZ = low7 + (0x7f - 'Z') * ones; // high bit set where byte > 'Z'
    std::uint64_t fromA = low7 + (0x80 - 'A') * ones;  // high bit set where byte >= 'A'
    std::uint64_t upper = (fromA ^ aboveZ) & ~w & (0x80 * ones);
    return w | (upper >> 2);
}

// A hash under which texts equal apart from letter case collide.
std::uint64_t foldedHash(std::string_view text, std::uint64_t seed) {
    std::uint64_t h = seed ^ (text.size() * 0xff51afd7ed558ccdULL);
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8)
        h = (h ^ foldWord(load64(p))) * 0xc4ceb9fe1a85ec53ULL + (h >> 29);
    if (n > 0)
        h = (h ^ foldWord(loadTail(p, n))) * 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    return h ^ (h >> 32);
}

// The distinct tokens of one message, ignoring case, in the order first met.
// The texts are views into the body lines and into this object's own buffer
// of header tokens, so the object stays where it was built.
class TMessageTokenSet {
public:
    TMessageTokenSet(const TAssArray& headerMap, const std::vector<std::string>& bodyLines);
    TMessageTokenSet(const TMessageTokenSet&) = delete;
    TMessageTokenSet& operator=(const TMessageTokenSet&) = delete;

    const std::vector<std::string_view>& Tokens() const { return FTokens; }

private:
    void AddDistinct(const std::vector<std::string_view>& candidates);

    std::string FHeaderTokens;
    std::vector<std::string_view> FTokens;
};

TMessageTokenSet::TMessageTokenSet(const TAssArray& headerMap,
                                   const std::vector<std::string>& bodyLines) {
    struct TPiece {
        int Entry;
        std::size_t Offset, Length;
    };
    std::vector<TPiece> pieces;
    std::size_t storedBytes = 0, bodyBytes = 0;
    for (int entry = 0; entry < headerMap.Count(); ++entry)
        storedBytes += headerMap.StoredValueAt(entry).size();
    for (const auto& line : bodyLines)
        bodyBytes += line.size();
    // A token and its separator take four bytes at least.
    pieces.reserve(storedBytes / 4 + 1);
    std::size_t bytes = 0;
    for (int entry = 0; entry < headerMap.Count(); ++entry) {
        if (headerMap.KeyAt(entry) == "Date")
            continue;
        std::size_t keyLength = headerMap.KeyAt(entry).size();
        forEachToken(headerMap.StoredValueAt(entry), [&](std::size_t offset, std::size_t length) {
            pieces.push_back({entry, offset, length});
            bytes += keyLength + 1 + length;
        });
    }
    // The buffer is filled completely before any view into it is taken.
    FHeaderTokens.reserve(bytes);
    for (const auto& piece : pieces) {
        FHeaderTokens += headerMap.KeyAt(piece.Entry);
        FHeaderTokens += '*';
        FHeaderTokens.append(headerMap.StoredValueAt(piece.Entry), piece.Offset, piece.Length);
    }
    std::vector<std::string_view> candidates;
    candidates.reserve(pieces.size() + bodyBytes / 4 + 1);
    std::string_view headerText = FHeaderTokens;
    std::size_t at = 0;
    for (const auto& piece : pieces) {
        std::size_t length = headerMap.KeyAt(piece.Entry).size() + 1 + piece.Length;
        candidates.push_back(headerText.substr(at, length));
        at += length;
    }
    for (const auto& line : bodyLines) {
        std::string_view text = line;
        forEachToken(text, [&](std::size_t offset, std::size_t length) {
            candidates.push_back(text.substr(offset, length));
        });
    }
    AddDistinct(candidates);
}

void TMessageTokenSet::AddDistinct(const std::vector<std::string_view>& candidates) {
    std::size_t capacity = 16;
    while (capacity < candidates.size() * 2)
        capacity *= 2;
    // A slot holds the upper half of the folded hash and the token's index + 1.
    std::vector<std::uint64_t> slots(capacity, 0);
    const std::size_t mask = capacity - 1;
    const std::uint64_t seed = HashSeed();
    FTokens.reserve(candidates.size());
    for (std::string_view token : candidates) {
        std::uint64_t hash = foldedHash(token, seed);
        std::uint64_t tag = hash & 0xffffffff00000000ULL;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            std::uint64_t entry = slots[slot];
            if (entry == 0) {
                FTokens.push_back(token);
                slots[slot] = tag | FTokens.size();
                break;
            }
            if ((entry & 0xffffffff00000000ULL) == tag) {
                std::string_view member = FTokens[(entry & 0xffffffffULL) - 1];
                // Repeats are mostly written alike: the byte comparison settles them.
                if (member == token || platform::SameTextIgnoreCase(member, token))
                    break;
            }
        }
    }
}

std::vector<std::uint64_t> hashesOf(const std::vector<std::string_view>& tokens) {
    std::vector<std::uint64_t> hashes;
    hashes.reserve(tokens.size());
    for (std::string_view token : tokens)
        hashes.push_back(TTokenTable::HashOf(token));
    return hashes;
}

// Sorts items by the case-insensitive order of their texts. The folded first
// eight bytes, as a big-endian number, order texts as the full comparison
// does (a shorter text is padded with zero bytes, and no text holds one: the
// raw message ends at its first), so most comparisons settle on integers.
template <typename Item, typename TextOf>
void sortIgnoringCase(std::vector<Item>& items, TextOf textOf) {
    struct TKeyed {
        std::uint64_t Prefix;
        std::size_t Index;
    };
    std::vector<TKeyed> keyed;
    keyed.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::string_view text = textOf(items[i]);
        std::uint64_t prefix = 0;
        for (std::size_t k = 0; k < 8; ++k)
            prefix =
                (prefix << 8) |
                (k < text.size() ? platform::FoldCase(static_cast<unsigned char>(text[k])) : 0u);
        keyed.push_back({prefix, i});
    }
    std::sort(keyed.begin(), keyed.end(), [&](const TKeyed& a, const TKeyed& b) {
        if (a.Prefix != b.Prefix)
            return a.Prefix < b.Prefix;
        return platform::CompareTextIgnoreCase(textOf(items[a.Index]), textOf(items[b.Index])) < 0;
    });
    std::vector<Item> sorted;
    sorted.reserve(items.size());
    for (const auto& entry : keyed)
        sorted.push_back(items[entry.Index]);
    items.swap(sorted);
}

// ---------------------------------------------------------------------------
// Exact interest

// |p - 0.5| as an unevaluated sum Hi + Lo, exactly.
//
// Why this is exact and gives one order on every platform: Hi is p - 0.5
// rounded to the nearest double and Lo the rounding error, found by Knuth's
// TwoSum, which is exact in IEEE binary64 arithmetic with round-to-nearest
// (no extended intermediates: x86-64 SSE2 and every other platform we build
// for; no fused operations are involved). Rounding to nearest is monotonic
// and a function of the value alone, so for two exact values a and b:
// round(a) < round(b) implies a < b, and round(a) == round(b) leaves
// a - b == Lo(a) - Lo(b), which is exact too. Comparing (Hi, Lo)
// lexicographically therefore compares the exact values. The absolute value
// negates both parts, which is exact. (0.5 - 0.01 and 0.99 - 0.5 round to the
// same double; their Lo parts tell them apart.)
struct TInterest {
    double Hi, Lo;
};

TInterest interestOf(double p) {
    double hi = p - 0.5;
    double back = hi - p;
    double lo = (p - (hi - back)) + (-0.5 - back);
    if (hi < 0) {
        hi = -hi;
        lo = -lo;
    }
    return {hi, lo};
}

int compareInterest(const TInterest& a, const TInterest& b) {
    if (a.Hi != b.Hi)
        return a.Hi < b.Hi ? -1 : 1;
    if (a.Lo != b.Lo)
        return a.Lo < b.Lo ? -1 : 1;
    return 0;
}

// ---------------------------------------------------------------------------
// The file

void putInt32(std::string& out, std::int32_t value) {
    auto u = static_cast<std::uint32_t>(value);
    char bytes[4] = {static_cast<char>(u & 0xff), static_cast<char>((u >> 8) & 0xff),
                     static_cast<char>((u >> 16) & 0xff), static_cast<char>((u >> 24) & 0xff)};
    out.append(bytes, 4);
}

std::int32_t getInt32(const std::string& data, std::size_t at) {
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
        u = (u << 8) | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(u);
}

void putDecimal(std::string& out, std::int32_t value) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// Records of 100 bytes or more are written but not read back.
constexpr std::int32_t kLongestStoredToken = 99;

// Walks the token records of a "tokenlist.txt" image and calls
// found(text, spamCount, goodCount) for every record that loading keeps.
// Nothing here trusts a count or a length from the file beyond the bytes that
// are really there.
template <typename Found>
void forEachStoredToken(const std::string& data, Found&& found) {
    if (data.size() < 4)
        return;
    const std::int64_t claimed = getInt32(data, 0);
    std::int64_t loaded = 0;
    std::size_t at = 4;
    while (loaded < claimed) {
        if (data.size() - at < 12)
            return; // cut short (or the end): not added, reading ends
        std::int32_t spamCount = getInt32(data, at);
        std::int32_t goodCount = getInt32(data, at + 4);
        std::int32_t length = getInt32(data, at + 8);
        at += 12;
        if (length <= 0)
            return;
        auto bytes = static_cast<std::size_t>(length);
        if (data.size() - at < bytes)
            return; // the end of the file cuts the record short (or a long one is read past)
        std::size_t start = at;
        at += bytes;
        if (length > kLongestStoredToken)
            continue;
        std::string_view text(data.data() + start, bytes);
        text = text.substr(0, text.find('\0'));
        found(text, spamCount, goodCount);
        ++loaded;
    }
}

std::string readableCopyName(const std::string& fileName) {
    return fileName + ".lst.txt";
}

// Adds one learned message to a count, wrapping as 32-bit arithmetic does
// rather than overflowing (only a damaged file holds counts that large).
std::int32_t plusOne(std::int32_t count) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
}

std::int32_t roundHalfEven(double value) {
    return static_cast<std::int32_t>(std::nearbyint(value));
}

} // namespace

// ---------------------------------------------------------------------------

std::vector<std::string> Tokenize(std::string_view text) {
    std::vector<std::string> tokens;
    forEachToken(text, [&](std::size_t offset, std::size_t length) {
        tokens.emplace_back(text.substr(offset, length));
    });
    return tokens;
}

std::vector<std::string> MessageTokens(const TAssArray& headerMap,
                                       const std::vector<std::string>& bodyLines) {
    TMessageTokenSet set(headerMap, bodyLines);
    std::vector<std::string_view> sorted = set.Tokens();
    sortIgnoringCase(sorted, [](std::string_view token) { return token; });
    return std::vector<std::string>(sorted.begin(), sorted.end());
}

std::string NumberText(double value) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    if (value == 0)
        return "0";
    // The decimal digits and exponent of the value rounded to 15 significant
    // digits. The shortest representation that reads back as the same
    // double is that rounding whenever it has 15 digits or fewer: 15-digit
    // decimals lie more than four units in the last place of a double apart,
    // so the one within half a unit of the value is the nearest. Otherwise
    // (16 or 17 digits) the value is rounded to 15 digits explicitly.
    char buffer[64];
    auto shortest =
        std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::scientific);
    *shortest.ptr = '\0';
    int significant = 0;
    for (const char* q = buffer; *q && *q != 'e'; ++q)
        significant += *q >= '0' && *q <= '9';
    if (significant > 15)
        std::snprintf(buffer, sizeof buffer, "%.14e", value);
    std::string digits;
    const char* p = buffer;
    bool negative = *p == '-';
    if (negative)
        ++p;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p; // skips the decimal separator, whatever the locale made it
    int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    const char* separator = std::localeconv()->decimal_point;
    std::string sep = separator && *separator ? separator : ".";
    std::string text = negative ? "-" : "";
    if (exponent < -5 || exponent >= 15) {
        text += digits[0];
        if (digits.size() > 1)
            text += sep + digits.substr(1);
        text += 'E';
        text += std::to_string(exponent);
    } else if (exponent < 0) {
        text += "0" + sep + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else {
        auto whole = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            text += digits + std::string(whole - digits.size(), '0');
        } else {
            text += digits.substr(0, whole) + sep + digits.substr(whole);
        }
    }
    return text;
}

int CompareInterest(double p, double q) {
    return compareInterest(interestOf(p), interestOf(q));
}

double RoundToMillionths(double p) {
    double product = p * 1000000.0;
    // The rounding error of the product, exactly: a product that rounded
    // onto a half decides by the side the exact product lies on.
    double error = std::fma(p, 1000000.0, -product);
    double rounded = std::nearbyint(product); // ties to even
    if (std::fabs(product - rounded) == 0.5 && error != 0)
        rounded = error > 0 ? std::ceil(product) : std::floor(product);
    return rounded / 1000000.0;
}

// ---------------------------------------------------------------------------

TSpamBayes::TSpamBayes(std::int32_t nSpam, std::int32_t nGood, TFileWriter writer)
    : FWriter(std::move(writer)) {
    if (platform::FileExists(FFileName))
        LoadKnowledge(nSpam, nGood);
}

TSpamBayes::TFindResult TSpamBayes::FindToken(std::string_view tokenText) const {
    auto position = FTokens.FindToken(tokenText);
    return {position.Index, position.Found};
}

double TSpamBayes::TokenProbability(std::string_view tokenText) const {
    const auto* record = FTokens.Find(tokenText);
    return record ? record->Probability : 0.0;
}

TMailToken TSpamBayes::Token(int index) const {
    const auto& record = FTokens.Item(index);
    return {std::string(FTokens.TextOf(record)), record.SpamCount, record.GoodCount,
            record.Probability};
}

void TSpamBayes::LearnTokens(const TAssArray& headerMap, const std::vector<std::string>& bodyLines,
                             bool spam) {
    TMessageTokenSet set(headerMap, bodyLines);
    const auto& tokens = set.Tokens();
    std::vector<std::uint64_t> hashes = hashesOf(tokens);
    FTokens.Prefetch(hashes);
    // The order in which the set's tokens are counted does not matter: each
    // goes to its own place in the table.
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        auto& record = FTokens.FindOrAdd(tokens[i], hashes[i]);
        if (spam)
            record.SpamCount = plusOne(record.SpamCount);
        else
            record.GoodCount = plusOne(record.GoodCount);
        FChanged = true;
    }
}

void TSpamBayes::LearnSpamTokens(const TAssArray& headerMap,
                                 const std::vector<std::string>& bodyLines) {
    LearnTokens(headerMap, bodyLines, true);
}

void TSpamBayes::LearnGoodTokens(const TAssArray& headerMap,
                                 const std::vector<std::string>& bodyLines) {
    LearnTokens(headerMap, bodyLines, false);
}

void TSpamBayes::Prune(const TPruneProgress& progress) {
    std::vector<std::uint32_t> order = FTokens.OrderedIds();
    const std::int64_t total = static_cast<std::int64_t>(order.size());
    std::vector<bool> keep(order.size(), true);
    std::int64_t remaining = total;
    std::int64_t visited = 0;
    for (std::int64_t index = total - 1; index >= 0; --index) {
        std::uint32_t id = order[static_cast<std::size_t>(index)];
        const auto& record = FTokens.Record(id);
        ++visited;
        if (static_cast<std::int64_t>(record.SpamCount) + record.GoodCount < 2) {
            keep[id] = false;
            --remaining;
        }
        if (visited % 1000 == 0 && progress) {
            progress("Progress: " +
                         std::to_string(roundHalfEven(static_cast<double>(visited) * 100.0 /
                                                      static_cast<double>(total))) +
                         "%",
                     "Neurons: " + std::to_string(index - 1) + " <-> " + std::to_string(remaining));
        }
    }
    if (remaining < total)
        FTokens.Retain(keep);
}

double TSpamBayes::ComputeProbability(std::int32_t spamCount, std::int32_t goodCount,
                                      std::int32_t nSpam, std::int32_t nGood) {
    // The share of a class's messages that held the token, at most 1. A class
    // with no known message at all (never taught, or its signature file
    // removed) has no share to divide by; the limit as its size goes to zero
    // is taken instead: any occurrence counts as the full share 1, none as 0.
    // So a token seen only in the taught class keeps a clear verdict (0.99 or
    // 0.01), and one seen in both classes leans to the empty class, whose
    // every occurrence weighs more than any share of the other.
    auto share = [](double count, std::int32_t messages) {
        if (messages <= 0)
            return count > 0 ? 1.0 : 0.0;
        return std::min(count / messages, 1.0);
    };
    double ps = share(spamCount, nSpam);
    double pg = share(2.0 * goodCount, nGood);
    double p = ps / (ps + pg);
    // Only negative counts from a damaged file can give 0/0; such a token
    // gets no usable probability rather than poisoning every score.
    if (std::isnan(p))
        return 0.0;
    return std::clamp(p, 0.01, 0.99);
}

void TSpamBayes::LoadKnowledge(std::int32_t nSpam, std::int32_t nGood) {
    FTokens.Clear();
    std::string data;
    // A read failure part-way leaves what was read: those tokens are loaded.
    platform::ReadWholeFile(FFileName, data);
    std::size_t tokens = 0, textBytes = 0;
    forEachStoredToken(data, [&](std::string_view text, std::int32_t, std::int32_t) {
        ++tokens;
        textBytes += text.size();
    });
    try {
        FTokens.Reserve(tokens, textBytes);
        forEachStoredToken(
            data, [&](std::string_view text, std::int32_t spamCount, std::int32_t goodCount) {
                double probability = 0.0;
                if (static_cast<std::int64_t>(spamCount) + goodCount > 5)
                    probability = ComputeProbability(spamCount, goodCount, nSpam, nGood);
                FTokens.Append(text, spamCount, goodCount, probability);
            });
    } catch (const std::length_error&) {
        // More than the table can hold: keep what was loaded.
    }
}

bool TSpamBayes::WriteKnowledge() {
    std::size_t binarySize = 4, textSize = 0;
    FTokens.ForEachInOrder([&](const TTokenTable::TRecord& record) {
        binarySize += 12 + record.Length;
        textSize += 26 + record.Length;
    });
    std::string binary, readable;
    binary.reserve(binarySize);
    readable.reserve(textSize);
    putInt32(binary, FTokens.Count());
    FTokens.ForEachInOrder([&](const TTokenTable::TRecord& record) {
        std::string_view text = FTokens.TextOf(record);
        putInt32(binary, record.SpamCount);
        putInt32(binary, record.GoodCount);
        putInt32(binary, static_cast<std::int32_t>(text.size()));
        binary += text;
        putDecimal(readable, record.SpamCount);
        readable += ';';
        putDecimal(readable, record.GoodCount);
        readable += ';';
        readable += text;
        readable += "\r\n";
    });
    return FWriter(FFileName, binary) && FWriter(readableCopyName(FFileName), readable);
}

std::optional<std::string> TSpamBayes::TrySave() {
    if (FLockCount > 0)
        return std::nullopt;
    if (FSavePending && !FChanged) {
        try {
            bool written = WriteKnowledge();
            // A failed write counts as done: the table is written again only
            // after a further change.
            FSavePending = false;
            if (!written)
                return "Cannot save database";
        } catch (const std::exception&) {
            return "Cannot save changes in Bayes knowledge";
        }
    }
    if (FChanged) {
        FChanged = false;
        FSavePending = true;
    }
    return std::nullopt;
}

bool TSpamBayes::Save() {
    auto failure = TrySave();
    if (failure)
        ShowSaveFailure(*failure);
    return !failure;
}

bool TSpamBayes::Classify(const TAssArray& headerMap, const std::vector<std::string>& bodyLines,
                          std::string& goodWords, std::string& spamWords,
                          std::string& report) const {
    try {
        return ClassifyOrThrow(headerMap, bodyLines, goodWords, spamWords, report);
    } catch (const std::exception&) {
        return false;
    }
}

bool TSpamBayes::ClassifyOrThrow(const TAssArray& headerMap,
                                 const std::vector<std::string>& bodyLines, std::string& goodWords,
                                 std::string& spamWords, std::string& report) const {
    struct TSlot {
        std::string_view Token;
        double Probability;
        TInterest Interest;
    };
    constexpr std::size_t kSlots = 16;
    const TInterest filler = interestOf(0.5);
    std::array<TSlot, kSlots> slots;
    slots.fill({{}, 0.5, filler});

    // Only tokens with a usable probability can take a slot, and only their
    // relative set order decides between equally interesting ones: sorting
    // just those gives the same slots as walking the whole sorted set.
    TMessageTokenSet set(headerMap, bodyLines);
    struct TCandidate {
        std::string_view Token;
        double Probability;
    };
    std::vector<TCandidate> candidates;
    const auto& tokens = set.Tokens();
    std::vector<std::uint64_t> hashes = hashesOf(tokens);
    FTokens.Prefetch(hashes);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const auto* record = FTokens.Find(tokens[i], hashes[i]);
        double p = record ? record->Probability : 0.0;
        if (p > 0)
            candidates.push_back({tokens[i], p});
    }
    sortIgnoringCase(candidates, [](const TCandidate& c) { return c.Token; });

    for (const auto& candidate : candidates) {
        TInterest interest = interestOf(candidate.Probability);
        std::size_t place = 0;
        while (place < kSlots && compareInterest(slots[place].Interest, interest) >= 0)
            ++place;
        if (place == kSlots)
            continue;
        for (std::size_t i = kSlots - 1; i > place; --i)
            slots[i] = slots[i - 1];
        slots[place] = {candidate.Token, candidate.Probability, interest};
    }

    double spamProduct = 1.0, goodProduct = 1.0;
    for (const auto& slot : slots) {
        spamProduct *= slot.Probability;
        goodProduct *= 1.0 - slot.Probability;
    }
    double p = spamProduct / (spamProduct + goodProduct);
    // The threshold is 0.9 taken more precisely than a double can hold it:
    // just below the double nearest to 0.9. The double comparison P >= 0.9
    // decides the same, since that nearest double (0.90000000000000002) lies
    // above 0.9 and the next smaller one (0.89999999999999991) below it.
    bool spam = p >= 0.9;

    std::string text =
        NumberText(RoundToMillionths(p)) + " = SPAM probability\r\n" + "--------------------\r\n";
    std::string good, bad;
    for (const auto& slot : slots) {
        text += NumberText(slot.Probability);
        text += ' ';
        text += slot.Token;
        text += "\r\n";
        std::string& words = slot.Probability > 0.5 ? bad : good;
        words += slot.Token;
        words += "\r\n";
    }
    goodWords += good;
    spamWords += bad;
    report = std::move(text);
    return spam;
}
