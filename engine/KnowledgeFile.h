#pragma once
// How the knowledge stores reach their files.
//
// Every store writes a whole file at a time through a TFileWriter. The
// default one writes to a temporary file beside the target and renames it
// over the old file, so a crash or a full disk leaves the old knowledge whole;
// tests hand the stores a writer that fails on demand. Reading goes straight
// to the file system: a missing or unreadable file reads as no knowledge.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Writes `data` as the whole content of `fileName`; false when the file could
// not be written (the old file is then left as it was).
using TFileWriter = std::function<bool(const std::string& fileName, std::string_view data)>;

// The crash-safe writer every store uses unless told otherwise.
TFileWriter AtomicFileWriter();

// The text's lines: carriage return, line feed or both end a line, the text
// ends at its first zero byte, and a last line without an end still counts
// ("a\r\nb" and "a\r\nb\r\n" both give two lines; "" gives none).
std::vector<std::string> SplitTextLines(std::string_view text);

// Calls line(view) for each line of the text, as SplitTextLines cuts them.
template <typename Line>
void ForEachTextLine(std::string_view text, Line&& line) {
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

// Every line followed by "\r\n", the last one too.
std::string JoinTextLines(const std::vector<std::string>& lines);

// The lines of a text file; false (and no lines) when the file does not
// exist or cannot be read.
bool ReadTextFileLines(const std::string& fileName, std::vector<std::string>& lines);

// The caption of the stores' message boxes: the program's own window title.
inline constexpr const char* kKnowledgeMessageCaption = "Vantor TARNIX";

// Tells the user that a store could not write its files (an error box with
// the store's own text).
void ShowSaveFailure(const std::string& text);
