#include "TokenTable.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

// Chunks are cut to this size when the order is rebuilt and split in two when
// an insertion makes one twice as large.
constexpr std::size_t kChunkSize = 512;

std::uint64_t load64(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// The first position in [first, last) at which `past` holds, for a range in
// which it holds from some position on. Unlike std::partition_point it stays
// well-defined on a range that is not so partitioned (a damaged, unsorted
// table): it then answers some position of the range.
template <typename It, typename Pred>
It firstWhere(It first, It last, Pred past) {
    auto count = last - first;
    while (count > 0) {
        auto half = count / 2;
        It middle = first + half;
        if (!past(*middle)) {
            first = middle + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

} // namespace

std::uint64_t HashSeed() {
    // Drawn once per process: the texts hashed come from mail, and a fixed
    // hash would let a crafted message pile its tokens onto one probe run.
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }();
    return seed;
}

namespace {

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return h;
}

} // namespace

std::uint64_t TTokenTable::HashOf(std::string_view text) {
    std::uint64_t h = HashSeed() ^ (text.size() * 0xff51afd7ed558ccdULL);
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8)
        h = (h ^ load64(p)) * 0xc4ceb9fe1a85ec53ULL + (h >> 29);
    if (n >= 4) {
        // Two loads that may overlap cover the last 4 to 7 bytes.
        std::uint32_t first, last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        h = (h ^ (first | (static_cast<std::uint64_t>(last) << 32))) * 0xc4ceb9fe1a85ec53ULL;
    } else if (n > 0) {
        const auto* u = reinterpret_cast<const unsigned char*>(p);
        std::uint64_t tail = (static_cast<std::uint64_t>(u[0]) << 16) |
                             (static_cast<std::uint64_t>(u[n >> 1]) << 8) | u[n - 1];
        h = (h ^ tail) * 0xc4ceb9fe1a85ec53ULL;
    }
    return mix(h);
}

void TTokenTable::Clear() {
    FRecords.clear();
    FText.clear();
    FSlots.clear();
    FSlotBits = 0;
    FIndexed = 0;
    FChunks.clear();
    FPending.clear();
    FChunkStarts.clear();
    FChunkStartsValid = false;
}

void TTokenTable::Reserve(std::size_t tokens, std::size_t textBytes) {
    FRecords.reserve(tokens);
    FText.reserve(textBytes);
    unsigned bits = 4;
    while ((std::size_t{1} << bits) < tokens * 2 && bits < 32)
        ++bits;
    if ((std::size_t{1} << bits) > FSlots.size()) {
        FSlots.assign(std::size_t{1} << bits, 0);
        FSlotBits = bits;
        FIndexed = 0;
        for (std::uint32_t id = 0; id < FRecords.size(); ++id)
            IndexUnlessKnown(id, HashOf(TextOf(FRecords[id])));
    }
}

void TTokenTable::InsertIntoIndex(std::uint32_t id, std::uint64_t hash) {
    std::size_t mask = FSlots.size() - 1;
    std::uint64_t tag = hash & 0xffffffff00000000ULL;
    for (std::size_t slot = HomeOf(hash);; slot = (slot + 1) & mask) {
        if (FSlots[slot] == 0) {
            FSlots[slot] = tag | (static_cast<std::uint64_t>(id) + 1);
            ++FIndexed;
            return;
        }
    }
}

bool TTokenTable::IndexUnlessKnown(std::uint32_t id, std::uint64_t hash) {
    std::string_view text = TextOf(FRecords[id]);
    std::size_t mask = FSlots.size() - 1;
    std::uint64_t tag = hash & 0xffffffff00000000ULL;
    for (std::size_t slot = HomeOf(hash);; slot = (slot + 1) & mask) {
        std::uint64_t entry = FSlots[slot];
        if (entry == 0) {
            FSlots[slot] = tag | (static_cast<std::uint64_t>(id) + 1);
            ++FIndexed;
            return true;
        }
        if ((entry & 0xffffffff00000000ULL) == tag &&
            TextOf(FRecords[(entry & 0xffffffffULL) - 1]) == text)
            return false;
    }
}

void TTokenTable::GrowIndex() {
    std::vector<std::uint64_t> old;
    old.swap(FSlots);
    FSlotBits = old.empty() ? 4 : FSlotBits + 1;
    FSlots.assign(std::size_t{1} << FSlotBits, 0);
    FIndexed = 0;
    // A slot's place comes from the upper half of the hash, which the slot
    // keeps: no text is hashed again.
    for (std::uint64_t entry : old)
        if (entry != 0)
            InsertIntoIndex(static_cast<std::uint32_t>((entry & 0xffffffffULL) - 1), entry);
}

void TTokenTable::Prefetch(const std::vector<std::uint64_t>& hashes) const {
    if (FSlots.empty())
        return;
    for (std::uint64_t hash : hashes)
        __builtin_prefetch(&FSlots[HomeOf(hash)]);
    // The first slot usually names the record: fetch it and its text too.
    for (std::uint64_t hash : hashes) {
        std::uint64_t entry = FSlots[HomeOf(hash)];
        if (entry != 0 && (entry & 0xffffffff00000000ULL) == (hash & 0xffffffff00000000ULL)) {
            const TRecord& record = FRecords[(entry & 0xffffffffULL) - 1];
            __builtin_prefetch(&record);
            __builtin_prefetch(FText.data() + record.Offset);
        }
    }
}

const TTokenTable::TRecord* TTokenTable::Find(std::string_view text, std::uint64_t hash) const {
    if (FSlots.empty())
        return nullptr;
    std::uint64_t tag = hash & 0xffffffff00000000ULL;
    std::size_t mask = FSlots.size() - 1;
    for (std::size_t slot = HomeOf(hash);; slot = (slot + 1) & mask) {
        std::uint64_t entry = FSlots[slot];
        if (entry == 0)
            return nullptr;
        if ((entry & 0xffffffff00000000ULL) == tag) {
            const TRecord& record = FRecords[(entry & 0xffffffffULL) - 1];
            if (TextOf(record) == text)
                return &record;
        }
    }
}

TTokenTable::TRecord* TTokenTable::Find(std::string_view text, std::uint64_t hash) {
    return const_cast<TRecord*>(static_cast<const TTokenTable*>(this)->Find(text, hash));
}

std::uint32_t TTokenTable::NewRecord(std::string_view text, std::int32_t spamCount,
                                     std::int32_t goodCount, double probability) {
    // Positions are ints, and the index stays within 2^32 slots.
    if (FRecords.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        FText.size() + text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("token table full");
    TRecord record{static_cast<std::uint32_t>(FText.size()),
                   static_cast<std::uint32_t>(text.size()), spamCount, goodCount, probability};
    FText.append(text);
    FRecords.push_back(record);
    auto id = static_cast<std::uint32_t>(FRecords.size() - 1);
    // A load factor of one half keeps probe runs short.
    if ((FIndexed + 1) * 2 > FSlots.size())
        GrowIndex();
    return id;
}

TTokenTable::TRecord& TTokenTable::FindOrAdd(std::string_view text, std::uint64_t hash) {
    if (TRecord* found = Find(text, hash))
        return *found;
    std::uint32_t id = NewRecord(text, 0, 0, 0.0);
    InsertIntoIndex(id, hash);
    FPending.push_back(id);
    FChunkStartsValid = false;
    return FRecords[id];
}

void TTokenTable::Append(std::string_view text, std::int32_t spamCount, std::int32_t goodCount,
                         double probability) {
    Materialize();
    std::uint32_t id = NewRecord(text, spamCount, goodCount, probability);
    IndexUnlessKnown(id, HashOf(text));
    if (FChunks.empty() || FChunks.back().size() >= kChunkSize)
        FChunks.emplace_back().reserve(kChunkSize);
    FChunks.back().push_back(id);
    FChunkStartsValid = false;
}

void TTokenTable::Rechunk(const std::vector<std::uint32_t>& order) const {
    FChunks.clear();
    for (std::size_t start = 0; start < order.size(); start += kChunkSize) {
        std::size_t end = std::min(order.size(), start + kChunkSize);
        FChunks.emplace_back(order.begin() + static_cast<std::ptrdiff_t>(start),
                             order.begin() + static_cast<std::ptrdiff_t>(end));
    }
    FChunkStartsValid = false;
}

void TTokenTable::InsertInOrder(std::uint32_t id) const {
    std::string_view text = TextOf(FRecords[id]);
    auto greater = [&](std::uint32_t other) { return text < TextOf(FRecords[other]); };
    // The first chunk whose last entry compares greater takes the token.
    auto chunk = firstWhere(FChunks.begin(), FChunks.end(),
                            [&](const auto& c) { return greater(c.back()); });
    if (chunk == FChunks.end()) {
        if (FChunks.empty())
            FChunks.emplace_back();
        chunk = FChunks.end() - 1;
    }
    auto place = firstWhere(chunk->begin(), chunk->end(), greater);
    chunk->insert(place, id);
    if (chunk->size() >= 2 * kChunkSize) {
        std::vector<std::uint32_t> upper(chunk->begin() + kChunkSize, chunk->end());
        chunk->resize(kChunkSize);
        FChunks.insert(chunk + 1, std::move(upper));
    }
}

void TTokenTable::SortByText(std::vector<std::uint32_t>& ids) const {
    // The first eight bytes as a big-endian number order texts as their
    // bytes do (a shorter text is padded with zero bytes, which no token
    // holds), so most comparisons need no look at the texts themselves.
    struct TKeyed {
        std::uint64_t Prefix;
        std::uint32_t Id;
    };
    std::vector<TKeyed> keyed;
    keyed.reserve(ids.size());
    for (std::uint32_t id : ids) {
        std::string_view text = TextOf(FRecords[id]);
        std::uint64_t prefix = 0;
        for (std::size_t i = 0; i < 8; ++i)
            prefix = (prefix << 8) | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
        keyed.push_back({prefix, id});
    }
    std::sort(keyed.begin(), keyed.end(), [this](const TKeyed& a, const TKeyed& b) {
        if (a.Prefix != b.Prefix)
            return a.Prefix < b.Prefix;
        return Less(a.Id, b.Id);
    });
    for (std::size_t i = 0; i < ids.size(); ++i)
        ids[i] = keyed[i].Id;
}

void TTokenTable::Materialize() const {
    if (FPending.empty())
        return;
    std::vector<std::uint32_t> pending;
    pending.swap(FPending);
    SortByText(pending);
    std::size_t placed = FRecords.size() - pending.size();
    // One by one costs a search and a chunk shift each; a merge costs a pass
    // over the whole order. Few new tokens go one by one.
    if (pending.size() * 64 < placed) {
        for (std::uint32_t id : pending)
            InsertInOrder(id);
    } else {
        std::vector<std::uint32_t> merged;
        merged.reserve(FRecords.size());
        std::size_t next = 0;
        for (const auto& chunk : FChunks)
            for (std::uint32_t id : chunk) {
                while (next < pending.size() && Less(pending[next], id))
                    merged.push_back(pending[next++]);
                merged.push_back(id);
            }
        merged.insert(merged.end(), pending.begin() + static_cast<std::ptrdiff_t>(next),
                      pending.end());
        Rechunk(merged);
    }
    FChunkStartsValid = false;
}

void TTokenTable::UpdateChunkStarts() const {
    if (FChunkStartsValid)
        return;
    FChunkStarts.resize(FChunks.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i < FChunks.size(); ++i) {
        FChunkStarts[i] = start;
        start += FChunks[i].size();
    }
    FChunkStartsValid = true;
}

TTokenTable::TPosition TTokenTable::FindToken(std::string_view text) const {
    Materialize();
    UpdateChunkStarts();
    auto notLess = [&](std::uint32_t id) { return !(TextOf(FRecords[id]) < text); };
    // The first chunk whose last entry is not less than the text holds the
    // lower bound; past every chunk, the text would go at the end.
    auto chunk = firstWhere(FChunks.begin(), FChunks.end(),
                            [&](const auto& c) { return notLess(c.back()); });
    if (chunk == FChunks.end())
        return {Count(), false};
    auto place = firstWhere(chunk->begin(), chunk->end(), notLess);
    std::size_t index = FChunkStarts[static_cast<std::size_t>(chunk - FChunks.begin())] +
                        static_cast<std::size_t>(place - chunk->begin());
    // Only a damaged, unsorted table can leave the search at a chunk's end.
    bool found = place != chunk->end() && TextOf(FRecords[*place]) == text;
    return {static_cast<int>(index), found};
}

const TTokenTable::TRecord& TTokenTable::Item(int index) const {
    if (index < 0 || index >= Count())
        throw std::out_of_range("token index " + std::to_string(index) + " out of range");
    Materialize();
    UpdateChunkStarts();
    auto at = static_cast<std::size_t>(index);
    auto after = std::upper_bound(FChunkStarts.begin(), FChunkStarts.end(), at);
    std::size_t chunk = static_cast<std::size_t>(after - FChunkStarts.begin()) - 1;
    return FRecords[FChunks[chunk][at - FChunkStarts[chunk]]];
}

std::vector<std::uint32_t> TTokenTable::OrderedIds() const {
    Materialize();
    std::vector<std::uint32_t> ids;
    ids.reserve(FRecords.size());
    for (const auto& chunk : FChunks)
        ids.insert(ids.end(), chunk.begin(), chunk.end());
    return ids;
}

void TTokenTable::Retain(const std::vector<bool>& keep) {
    std::vector<std::uint32_t> order = OrderedIds();
    std::size_t kept = 0, textBytes = 0;
    for (std::uint32_t id : order)
        if (keep.at(id)) {
            ++kept;
            textBytes += FRecords[id].Length;
        }
    TTokenTable next;
    next.Reserve(kept, textBytes);
    for (std::uint32_t id : order)
        if (keep[id]) {
            const TRecord& r = FRecords[id];
            next.Append(TextOf(r), r.SpamCount, r.GoodCount, r.Probability);
        }
    *this = std::move(next);
}
