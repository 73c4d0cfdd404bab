#include "storelib/StoreContext.h"

#include <algorithm>

namespace storvane {

bool EnumTable::Add(std::uint32_t folder, platform::HENUMSTORE enumeration) {
    if (count_ >= kCapacity)
        return false;
    entries_[count_++] = Entry{folder, enumeration};
    return true;
}

const EnumTable::Entry* EnumTable::first(std::uint32_t folder) const {
    auto end = entries_.begin() + count_;
    auto found = std::find_if(entries_.begin(), end,
                              [folder](const Entry& entry) { return entry.folder == folder; });
    return found == end ? nullptr : &*found;
}

platform::HENUMSTORE EnumTable::Find(std::uint32_t folder) const {
    const Entry* entry = first(folder);
    return entry ? entry->enumeration : 0;
}

bool EnumTable::Contains(std::uint32_t folder) const {
    return first(folder) != nullptr;
}

void EnumTable::Remove(std::uint32_t folder) {
    const Entry* entry = first(folder);
    if (!entry)
        return;
    auto at = entries_.begin() + (entry - entries_.data());
    std::move(at + 1, entries_.begin() + count_, at);
    --count_;
}

StoreContext::~StoreContext() {
    if (initialised == 1 && storeNamespace)
        storeNamespace->Release();
}

template <typename Map>
std::uint32_t Handles::nextId(std::uint32_t& counter, const Map& used) {
    do {
        ++counter;
    } while (counter == 0 || used.count(counter));
    return counter;
}

std::uint32_t Handles::AddStore(std::unique_ptr<StoreContext> context) {
    std::uint32_t id = nextId(lastStore_, stores_);
    stores_.emplace(id, std::move(context));
    return id;
}

StoreContext* Handles::Store(std::uint32_t store) const {
    auto found = stores_.find(store);
    return found == stores_.end() ? nullptr : found->second.get();
}

std::unique_ptr<StoreContext> Handles::TakeStore(std::uint32_t store) {
    auto found = stores_.find(store);
    if (found == stores_.end())
        return nullptr;
    std::unique_ptr<StoreContext> context = std::move(found->second);
    stores_.erase(found);
    return context;
}

std::uint32_t Handles::AddFolder(std::uint32_t store, platform::IStoreFolder* folder) {
    std::uint32_t id = nextId(lastFolder_, folders_);
    folders_.emplace(id, OpenFolder{store, folder});
    return id;
}

platform::IStoreFolder* Handles::Folder(std::uint32_t store, std::uint32_t folder) const {
    auto found = folders_.find(folder);
    return found == folders_.end() || found->second.store != store ? nullptr : found->second.folder;
}

platform::IStoreFolder* Handles::TakeFolder(std::uint32_t store, std::uint32_t folder) {
    auto found = folders_.find(folder);
    if (found == folders_.end() || found->second.store != store)
        return nullptr;
    platform::IStoreFolder* object = found->second.folder;
    folders_.erase(found);
    return object;
}

std::vector<std::uint32_t> Handles::FoldersOf(std::uint32_t store) const {
    std::vector<std::uint32_t> handles;
    for (const auto& [id, open] : folders_)
        if (open.store == store)
            handles.push_back(id);
    return handles;
}

} // namespace storvane
