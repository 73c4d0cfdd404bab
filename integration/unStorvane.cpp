#include "integration/unStorvane.h"

#include "integration/storvane_path.h"
#include "platform/core/atomicfile.h"
#include "platform/core/collation.h"

#include <algorithm>

const char* const TStorvane::kLibraryName = "libstorvane.so";
const char* const TStorvane::kFallbackPath = TARNIX_STORVANE_PATH;

namespace {

template <typename Fn>
bool resolveOne(platform::HMODULE module, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(platform::GetProcAddress(module, name));
    return entry != nullptr;
}

// Splits the folder list text at every ";": each piece before a separator is
// an item (an empty one too), the piece after the last one only when it is
// not empty.
std::vector<std::string> splitFolderList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t semicolon; (semicolon = text.find(';', start)) != std::string::npos;
         start = semicolon + 1)
        items.push_back(text.substr(start, semicolon - start));
    if (start < text.size())
        items.push_back(text.substr(start));
    return items;
}

} // namespace

void SetListText(std::vector<std::string>& list, const std::string& text) {
    list.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        list.push_back(text.substr(at, end - at));
        at = end;
        if (at < text.size() && text[at] == '\r')
            ++at;
        if (at < text.size() && text[at] == '\n')
            ++at;
    }
}

TStorvane::TStorvane() : TStorvane(kLibraryName, kFallbackPath) {}

TStorvane::TStorvane(std::string libraryName, std::string fallbackPath)
    : FLibraryName(std::move(libraryName)), FFallbackPath(std::move(fallbackPath)) {}

TStorvane::~TStorvane() {
    if (FLoaded)
        Unload();
}

void TStorvane::Load() {
    if (FLoaded)
        return; // loading twice would leak the first module
    if (platform::FileExists(FLibraryName))
        FLibHandle = platform::LoadLibrary(FLibraryName);
    else
        FLibHandle = platform::LoadLibrary(FFallbackPath);
    if (FLibHandle == 0)
        return;
    if (!resolve()) {
        // A library without all 17 functions is not the store library: stay
        // unloaded rather than call through a null entry later.
        platform::FreeLibrary(FLibHandle);
        FLibHandle = 0;
        return;
    }
    FLoaded = true;
    OpenStore();
}

bool TStorvane::resolve() {
    platform::HMODULE m = FLibHandle;
    // Every one is resolved, in the order of the fields, before any is judged.
    bool all = true;
    all &= resolveOne(m, "openStore", FOpenStore);
    all &= resolveOne(m, "closeStore", FCloseStore);
    all &= resolveOne(m, "openFolder", FOpenFolder);
    all &= resolveOne(m, "closeFolder", FCloseFolder);
    all &= resolveOne(m, "getFirstMessage", FGetFirstMessage);
    all &= resolveOne(m, "getNextMessage", FGetNextMessage);
    all &= resolveOne(m, "freeMem", FFreeMem);
    all &= resolveOne(m, "createFolder", FCreateFolder);
    all &= resolveOne(m, "folderExists", FFolderExists);
    all &= resolveOne(m, "createMessage", FCreateMessage);
    all &= resolveOne(m, "getMessageCount", FGetMessageCount);
    all &= resolveOne(m, "deleteMessage", FDeleteMessage);
    all &= resolveOne(m, "registerNotification", FRegisterNotification);
    all &= resolveOne(m, "unRegisterNotification", FUnRegisterNotification);
    all &= resolveOne(m, "moveMessage", FMoveMessage);
    all &= resolveOne(m, "getMessage", FGetMessage);
    all &= resolveOne(m, "getFolderNames", FGetFolderNames);
    return all;
}

void TStorvane::Unload() {
    if (!FLoaded)
        return;
    if (FStore != 0)
        CloseStore();
    if (FLibHandle > 0)
        platform::FreeLibrary(FLibHandle);
    FLibHandle = 0;
    FLoaded = false;
}

void TStorvane::OpenStore() {
    if (FLoaded)
        FStore = FOpenStore();
}

void TStorvane::CloseStore() {
    if (FLoaded)
        FCloseStore(FStore);
    FStore = 0;
}

std::uint32_t TStorvane::OpenOrCreateFolder(const char* name) {
    if (!FLoaded)
        return 0;
    std::uint32_t folder = FOpenFolder(FStore, name);
    if (folder != 0)
        return folder;
    FCreateFolder(FStore, name);
    return FOpenFolder(FStore, name);
}

void TStorvane::CloseFolder(std::uint32_t folder) {
    if (FLoaded && folder != 0)
        FCloseFolder(FStore, folder);
}

void TStorvane::RegisterNotification(std::uint32_t folder, std::uint32_t window) {
    if (FLoaded && folder != 0)
        FRegisterNotification(FStore, folder, window);
}

void TStorvane::UnRegisterNotification(std::uint32_t folder, std::uint32_t window) {
    if (FLoaded && folder != 0)
        FUnRegisterNotification(FStore, folder, window);
}

void TStorvane::MoveMessage(std::uint32_t source, std::uint32_t destination, std::uint32_t id) {
    if (FLoaded && source != 0 && destination != 0)
        FMoveMessage(FStore, source, destination, id);
}

char* TStorvane::GetMessage(std::uint32_t folder, std::uint32_t id) {
    if (FLoaded && folder != 0)
        return FGetMessage(FStore, folder, id);
    return nullptr;
}

void TStorvane::FreeMem(char* text) {
    if (FLoaded)
        FFreeMem(text);
}

std::int32_t TStorvane::GetMessageCount(std::uint32_t folder) {
    if (FLoaded)
        return FGetMessageCount(FStore, folder);
    return 1;
}

// One step of a walk: the library writes the id only when it names a
// message, so a missing text turns into the id -1.
char* TStorvane::WalkStep(storvane::GetFirstMessageFn step, std::uint32_t folder,
                          std::int32_t& id) {
    char* text = nullptr;
    storvane::MessageId local = 0;
    if (FLoaded)
        text = step(FStore, folder, &local);
    id = text ? static_cast<std::int32_t>(local) : -1;
    return text;
}

char* TStorvane::GetFirstMessage(std::uint32_t folder, std::int32_t& id) {
    return WalkStep(FGetFirstMessage, folder, id);
}

char* TStorvane::GetNextMessage(std::uint32_t folder, std::int32_t& id) {
    return WalkStep(FGetNextMessage, folder, id);
}

void TStorvane::GetFolderNames(std::vector<std::string>& list, std::string& text) {
    std::string s;
    if (FLoaded) {
        char* p = FGetFolderNames(FStore);
        if (p)
            s = p;
        FreeMem(p);
        // The items go into the list as its text, line by line.
        std::string lines;
        for (const std::string& item : splitFolderList(s))
            lines += item + "\r\n";
        SetListText(list, lines);
    }
    text = s;
}

bool TStorvane::HasFolder(const std::string& name) {
    if (FStore == 0)
        return false;
    std::vector<std::string> names;
    std::string text;
    GetFolderNames(names, text);
    return std::any_of(names.begin(), names.end(), [&](const std::string& item) {
        return platform::SameTextIgnoreCase(item, name);
    });
}

std::uint32_t TStorvane::CreateMessage(std::uint32_t folder, const char* text,
                                       std::uint32_t flags) {
    if (FLoaded && folder != 0)
        return FCreateMessage(FStore, folder, text, flags);
    return 0;
}

bool TStorvane::FolderExists(const char* name) {
    return FLoaded && FFolderExists(FStore, name) != 0;
}
