#pragma once
// TTokenTable: the Bayesian filter's token table (FTokens), ascending by the
// byte-wise order of the token texts.
//
// Why not a flat sorted array: a teaching run inserts hundreds of thousands
// of new tokens, and each insertion into a flat array shifts half of it. The
// table therefore keeps three things:
//   - the records (counts and probability) in the order they were created,
//     their texts packed in one buffer, so that a million tokens stay small;
//   - a hash index from text to record, which answers every lookup of
//     learning and scoring with one probe;
//   - the table order as a sequence of record ids cut into chunks of a few
//     hundred, so that an ordered insertion shifts one chunk, not the table.
// A token learned for the first time is only appended to a pending list; the
// pending tokens take their ordered places (sorted and merged in one pass, or
// inserted one by one when they are few) the next time anything asks for the
// order: FindToken, Item, Prune, writing the file. Learning thus costs one
// search and one deferred ordered insertion per new token. Loading appends in
// file order without comparing texts (the file is trusted to be in order).
//
// The hash index holds the first record of each text. A damaged file may hold
// a text twice or out of order; the table keeps such records as they come
// (they are written back as they were) and lookups see the first of them.
//
// Not thread-safe, and the const queries may sort the pending tokens: every
// call is serialised by the spam manager.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The per-process seed of the engine's text hashes.
std::uint64_t HashSeed();

class TTokenTable {
public:
    struct TRecord {
        std::uint32_t Offset; // of the text in the text buffer
        std::uint32_t Length;
        std::int32_t SpamCount;
        std::int32_t GoodCount;
        double Probability;
    };
    struct TPosition {
        int Index;  // where the text is, or would be inserted
        bool Found; // whether the entry at Index holds the text
    };

    int Count() const { return static_cast<int>(FRecords.size()); }
    void Clear();
    // Room for `tokens` records with `textBytes` bytes of text in all.
    void Reserve(std::size_t tokens, std::size_t textBytes);

    // The hash of a text, for the lookups below that take it.
    static std::uint64_t HashOf(std::string_view text);
    // Brings the index slots and records of a batch of coming lookups into
    // the cache: a table of a few hundred thousand tokens does not fit, and
    // one message asks for hundreds of them at unrelated places.
    void Prefetch(const std::vector<std::uint64_t>& hashes) const;

    // The record holding the text, or nullptr.
    const TRecord* Find(std::string_view text) const { return Find(text, HashOf(text)); }
    const TRecord* Find(std::string_view text, std::uint64_t hash) const;
    TRecord* Find(std::string_view text) { return Find(text, HashOf(text)); }
    TRecord* Find(std::string_view text, std::uint64_t hash);
    // The record holding the text, created with both counts and the
    // probability 0 when it is new.
    TRecord& FindOrAdd(std::string_view text) { return FindOrAdd(text, HashOf(text)); }
    TRecord& FindOrAdd(std::string_view text, std::uint64_t hash);
    // Adds a record at the end of the table order (loading).
    void Append(std::string_view text, std::int32_t spamCount, std::int32_t goodCount,
                double probability);

    // Binary search in the table order.
    TPosition FindToken(std::string_view text) const;
    // The record at a position of the table order.
    const TRecord& Item(int index) const;
    std::string_view TextOf(const TRecord& record) const {
        return std::string_view(FText).substr(record.Offset, record.Length);
    }

    // Calls visit(record) for every record in table order.
    template <typename Visit>
    void ForEachInOrder(Visit&& visit) const {
        Materialize();
        for (const auto& chunk : FChunks)
            for (std::uint32_t id : chunk)
                visit(FRecords[id]);
    }
    // The record ids in table order.
    std::vector<std::uint32_t> OrderedIds() const;
    const TRecord& Record(std::uint32_t id) const { return FRecords[id]; }
    // Keeps the records whose entry in `keep` (by id) is true, in their order.
    void Retain(const std::vector<bool>& keep);

private:
    void InsertIntoIndex(std::uint32_t id, std::uint64_t hash);
    // Indexes the record unless an earlier record has its text; true when indexed.
    bool IndexUnlessKnown(std::uint32_t id, std::uint64_t hash);
    void GrowIndex();
    std::uint32_t NewRecord(std::string_view text, std::int32_t spamCount, std::int32_t goodCount,
                            double probability);
    bool Less(std::uint32_t a, std::uint32_t b) const {
        return TextOf(FRecords[a]) < TextOf(FRecords[b]);
    }
    void SortByText(std::vector<std::uint32_t>& ids) const;
    void Materialize() const;
    void InsertInOrder(std::uint32_t id) const;
    void Rechunk(const std::vector<std::uint32_t>& order) const;
    void UpdateChunkStarts() const;

    std::vector<TRecord> FRecords;
    std::string FText;
    // Open addressing with linear probing over 2^FSlotBits slots; a slot
    // holds (upper 32 bits of the hash) << 32 | (id + 1), 0 when free, and
    // a text's first slot is given by the top bits of that upper half.
    std::size_t HomeOf(std::uint64_t hash) const {
        return static_cast<std::size_t>((hash >> 32) >> (32 - FSlotBits));
    }
    std::vector<std::uint64_t> FSlots;
    unsigned FSlotBits = 0;
    std::size_t FIndexed = 0;

    // The table order. Mutable because the const queries place pending tokens.
    mutable std::vector<std::vector<std::uint32_t>> FChunks;
    mutable std::vector<std::uint32_t> FPending;
    mutable std::vector<std::size_t> FChunkStarts;
    mutable bool FChunkStartsValid = false;
};
