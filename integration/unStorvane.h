#pragma once
// TStorvane: the program's only way to the mail store. It loads the store
// library at run time by file name, resolves its 17 functions by name, opens
// the one store connection of the run, and offers methods named after the
// library functions they wrap. It hides the store handle and shows nothing of
// its own: store errors are shown by the library.
//
// Not loaded (after construction, or when the library is missing or lacks
// one of its functions) every method is harmless and gives its neutral
// answer: 0 or null, -1 for message ids, 1 for GetMessageCount, false for
// HasFolder, an unchanged list and an empty text for GetFolderNames.
//
// The binding has no lock; the library holds its own around every call.
#include "storelib/storvane.h"

#include "platform/core/dynlib.h"

#include <cstdint>
#include <string>
#include <vector>

class TStorvane {
public:
    // The library's file name, loaded from the current directory when a file
    // of that name is there.
    static const char* const kLibraryName;
    // Where the library is loaded from otherwise: the one built with the program.
    static const char* const kFallbackPath;

    TStorvane();
    // A binding that looks for `libraryName` in the current directory and
    // else loads `fallbackPath` (tests point it at a missing library).
    TStorvane(std::string libraryName, std::string fallbackPath);
    ~TStorvane();
    TStorvane(const TStorvane&) = delete;
    TStorvane& operator=(const TStorvane&) = delete;

    void Load();
    void Unload();
    void OpenStore();
    void CloseStore();

    // Opens the folder, creating it at the top level first when no folder
    // has that name; 0 when not loaded or it cannot be opened.
    std::uint32_t OpenOrCreateFolder(const char* name);
    void CloseFolder(std::uint32_t folder);
    void RegisterNotification(std::uint32_t folder, std::uint32_t window);
    void UnRegisterNotification(std::uint32_t folder, std::uint32_t window);
    // The library's status is not passed on.
    void MoveMessage(std::uint32_t source, std::uint32_t destination, std::uint32_t id);
    // A text to give back with FreeMem, or null.
    char* GetMessage(std::uint32_t folder, std::uint32_t id);
    void FreeMem(char* text);
    std::int32_t GetMessageCount(std::uint32_t folder);
    // The walk's first and next message; the id is -1 when the text is null.
    char* GetFirstMessage(std::uint32_t folder, std::int32_t& id);
    char* GetNextMessage(std::uint32_t folder, std::int32_t& id);
    // Fills `list` with the top-level folder names and sets `text` to the
    // library's folder list text.
    void GetFolderNames(std::vector<std::string>& list, std::string& text);
    // Whether the name is one of the top-level folder names, letter case ignored.
    bool HasFolder(const std::string& name);

    // Wrappers of two functions the binding resolves but the program never
    // calls (for the front end): createMessage's new id (0: not stored) and
    // folderExists.
    std::uint32_t CreateMessage(std::uint32_t folder, const char* text, std::uint32_t flags);
    bool FolderExists(const char* name);

    bool Loaded() const { return FLoaded; }

private:
    char* WalkStep(storvane::GetFirstMessageFn step, std::uint32_t folder, std::int32_t& id);
    bool resolve();

    std::string FLibraryName;
    std::string FFallbackPath;

    platform::HMODULE FLibHandle = 0;
    storvane::OpenStoreFn FOpenStore = nullptr;
    storvane::CloseStoreFn FCloseStore = nullptr;
    storvane::OpenFolderFn FOpenFolder = nullptr;
    storvane::CloseFolderFn FCloseFolder = nullptr;
    storvane::GetFirstMessageFn FGetFirstMessage = nullptr;
    storvane::GetNextMessageFn FGetNextMessage = nullptr;
    storvane::FreeMemFn FFreeMem = nullptr;
    storvane::CreateFolderFn FCreateFolder = nullptr;
    storvane::FolderExistsFn FFolderExists = nullptr;
    storvane::CreateMessageFn FCreateMessage = nullptr;
    storvane::GetMessageCountFn FGetMessageCount = nullptr;
    storvane::DeleteMessageFn FDeleteMessage = nullptr;
    storvane::RegisterNotificationFn FRegisterNotification = nullptr;
    storvane::UnRegisterNotificationFn FUnRegisterNotification = nullptr;
    storvane::MoveMessageFn FMoveMessage = nullptr;
    storvane::GetMessageFn FGetMessage = nullptr;
    storvane::GetFolderNamesFn FGetFolderNames = nullptr;
    std::uint32_t FStore = 0;
    bool FLoaded = false;
};

// Replaces the content of `list` by the lines of `text`, as a string list
// takes its text: a line ends at CR, LF or CR LF; a last line without an end
// counts when it is not empty.
void SetListText(std::vector<std::string>& list, const std::string& text);
