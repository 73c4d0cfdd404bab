#pragma once
// The two text conventions of message decoding: how a text becomes lines and
// how lines become a text again. Every split and join of the parser goes
// through these two, so that a part re-split after joining keeps its lines.
#include <string>
#include <string_view>
#include <vector>

// Splits a text into lines. A line ends at CR LF, at a lone CR and at a lone
// LF; a line end at the very end of the text adds no empty line after it. The
// text ends at its first NUL byte (the store hands out zero-terminated texts).
std::vector<std::string> SplitLines(std::string_view text);

// Calls line(view) for each line of the text, as SplitLines cuts them,
// without making a string of each.
template <typename Line>
void ForEachLine(std::string_view text, Line&& line) {
    text = text.substr(0, text.find('\0'));
    std::size_t start = 0;
    const std::size_t size = text.size();
    while (start < size) {
        std::size_t end = start;
        while (end < size && text[end] != '\r' && text[end] != '\n')
            ++end;
        line(text.substr(start, end - start));
        if (end == size)
            break;
        start = end + (text[end] == '\r' && end + 1 < size && text[end + 1] == '\n' ? 2 : 1);
    }
}

// Joins lines, every line followed by CR LF, the last one too.
std::string JoinLines(const std::vector<std::string>& lines);

// Same, over any run of lines (a part of a larger list).
template <typename Range>
std::string JoinLineRange(const Range& lines) {
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}
