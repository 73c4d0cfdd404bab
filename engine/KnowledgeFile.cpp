#include "KnowledgeFile.h"

#include "message/TextLines.h"
#include "platform/core/atomicfile.h"
#include "platform/core/hooks.h"

TFileWriter AtomicFileWriter() {
    return [](const std::string& fileName, std::string_view data) {
        return platform::WriteFileAtomically(fileName, data);
    };
}

bool ReadTextFileLines(const std::string& fileName, std::vector<std::string>& lines) {
    lines.clear();
    std::string data;
    if (!platform::FileExists(fileName) || !platform::ReadWholeFile(fileName, data))
        return false;
    lines = SplitLines(data);
    return true;
}

void ShowSaveFailure(const std::string& text) {
    platform::MessageBox(text, kKnowledgeMessageCaption, platform::MB_OK | platform::MB_ICONERROR);
}
