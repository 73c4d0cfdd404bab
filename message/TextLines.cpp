#include "TextLines.h"

#include <algorithm>
#include <cstring>

std::vector<std::string> SplitLines(std::string_view text) {
    if (const void* nul = std::memchr(text.data(), '\0', text.size()))
        text = text.substr(0, static_cast<const char*>(nul) - text.data());
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* start = p;
        while (p < end && *p != '\r' && *p != '\n')
            ++p;
        lines.emplace_back(start, p);
        if (p < end && *p == '\r')
            ++p;
        if (p < end && *p == '\n')
            ++p;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    return JoinLineRange(lines);
}
