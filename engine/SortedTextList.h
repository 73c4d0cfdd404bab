#pragma once
// TSortedTextList: the item list of a sorted list box, as the sender lists
// use it.
//
// Items stay sorted without regard to letter case (the collation of
// platform::CompareTextIgnoreCase); texts equal apart from case may stand
// side by side, the one added later after the earlier ones. Lookups compare
// the whole item ignoring case. The list has no lock: its users serialise
// through the spam manager's lock (TSpamManager::Lock()).
#include <string>
#include <string_view>
#include <vector>

class TSortedTextList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::string& Strings(int index) const {
        return FItems.at(static_cast<std::size_t>(index));
    }
    const std::vector<std::string>& Items() const { return FItems; }

    // Puts the text at its sorted place and answers that index.
    int Add(std::string text);
    // The index of the first item equal to the text ignoring case, or -1.
    int IndexOf(std::string_view text) const;
    void Delete(int index);
    void Clear() { FItems.clear(); }

private:
    std::vector<std::string> FItems;
};
