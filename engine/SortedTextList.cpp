#include "SortedTextList.h"

#include "platform/core/collation.h"

#include <algorithm>
#include <stdexcept>

int TSortedTextList::Add(std::string text) {
    auto place = std::upper_bound(FItems.begin(), FItems.end(), text, platform::LessIgnoreCase{});
    auto index = place - FItems.begin();
    FItems.insert(place, std::move(text));
    return static_cast<int>(index);
}

int TSortedTextList::IndexOf(std::string_view text) const {
    auto first = std::lower_bound(FItems.begin(), FItems.end(), text, platform::LessIgnoreCase{});
    if (first == FItems.end() || !platform::SameTextIgnoreCase(*first, text))
        return -1;
    return static_cast<int>(first - FItems.begin());
}

void TSortedTextList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range("TSortedTextList::Delete: no item " + std::to_string(index));
    FItems.erase(FItems.begin() + index);
}
