#pragma once
// What the library keeps between calls: the store context behind a store
// handle with its enumeration table, and the tables that turn the 32-bit
// handles of the interface into objects.
//
// Handles are ids, counted up from 1 and not given again while the library is
// loaded (a wrap-around skips ids in use), so a closed or made-up handle finds
// nothing instead of reaching freed memory.
#include "platform/store/storeapi.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace storvane {

// Which message enumeration of the store belongs to which open folder
// handle: up to kCapacity (folder handle, enumeration) pairs in the order
// they were added.
class EnumTable {
public:
    static constexpr std::size_t kCapacity = 1000;

    struct Entry {
        std::uint32_t folder;
        platform::HENUMSTORE enumeration;
    };

    // Puts the pair after the last entry; false (and nothing changed) when
    // the table is full.
    bool Add(std::uint32_t folder, platform::HENUMSTORE enumeration);
    // The enumeration of the first entry of `folder`; 0 when there is none.
    platform::HENUMSTORE Find(std::uint32_t folder) const;
    bool Contains(std::uint32_t folder) const;
    // Takes out the first entry of `folder`, keeping the order of the others.
    void Remove(std::uint32_t folder);
    std::uint32_t Count() const { return count_; }

private:
    const Entry* first(std::uint32_t folder) const;

    std::array<Entry, kCapacity> entries_{};
    std::uint32_t count_ = 0;
};

// One connection to the store, from openStore to closeStore.
struct StoreContext {
    std::int32_t initialised = 0; // 1 once the namespace was created and initialised
    EnumTable enumTable;
    platform::IStoreNamespace* storeNamespace = nullptr; // owned while initialised is 1

    StoreContext() = default;
    ~StoreContext(); // releases the namespace
    StoreContext(const StoreContext&) = delete;
    StoreContext& operator=(const StoreContext&) = delete;
};

// The library's handle tables. Not locked itself: the library holds its one
// lock around every export.
class Handles {
public:
    std::uint32_t AddStore(std::unique_ptr<StoreContext> context);
    StoreContext* Store(std::uint32_t store) const;
    std::unique_ptr<StoreContext> TakeStore(std::uint32_t store);

    // Takes over one reference of `folder`.
    std::uint32_t AddFolder(std::uint32_t store, platform::IStoreFolder* folder);
    // The folder behind a handle of that store, or null.
    platform::IStoreFolder* Folder(std::uint32_t store, std::uint32_t folder) const;
    // Leaves the table; the caller gets the reference.
    platform::IStoreFolder* TakeFolder(std::uint32_t store, std::uint32_t folder);
    std::vector<std::uint32_t> FoldersOf(std::uint32_t store) const;

private:
    struct OpenFolder {
        std::uint32_t store;
        platform::IStoreFolder* folder;
    };
    template <typename Map>
    static std::uint32_t nextId(std::uint32_t& counter, const Map& used);

    std::map<std::uint32_t, std::unique_ptr<StoreContext>> stores_;
    std::map<std::uint32_t, OpenFolder> folders_;
    std::uint32_t lastStore_ = 0;
    std::uint32_t lastFolder_ = 0;
};

} // namespace storvane
