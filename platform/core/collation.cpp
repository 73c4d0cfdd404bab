#include "collation.h"

#include <algorithm>

namespace platform {

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = FoldCase(static_cast<unsigned char>(a[i]));
        unsigned char y = FoldCase(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameTextIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareTextIgnoreCase(a, b) == 0;
}

} // namespace platform
