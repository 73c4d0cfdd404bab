#include "KnowledgeFile.h"

#include "platform/core/atomicfile.h"
#include "platform/core/hooks.h"

TFileWriter AtomicFileWriter() {
    return [](const std::string& fileName, std::string_view data) {
        return platform::WriteFileAtomically(fileName, data);
    };
}

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    ForEachTextLine(text, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::string JoinTextLines(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const auto& line : lines)
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

bool ReadTextFileLines(const std::string& fileName, std::vector<std::string>& lines) {
    lines.clear();
    std::string data;
    if (!platform::FileExists(fileName) || !platform::ReadWholeFile(fileName, data))
        return false;
    lines = SplitTextLines(data);
    return true;
}

void ShowSaveFailure(const std::string& text) {
    platform::MessageBox(text, kKnowledgeMessageCaption, platform::MB_OK | platform::MB_ICONERROR);
}
