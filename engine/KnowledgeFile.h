#pragma once
// How the knowledge stores reach their files.
//
// Every store writes a whole file at a time through a TFileWriter. The
// default one writes to a temporary file beside the target and renames it
// over the old file, so a crash or a full disk leaves the old knowledge whole;
// tests hand the stores a writer that fails on demand. Reading goes straight
// to the file system: a missing or unreadable file reads as no knowledge.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Writes `data` as the whole content of `fileName`; false when the file could
// not be written (the old file is then left as it was).
using TFileWriter = std::function<bool(const std::string& fileName, std::string_view data)>;

// The crash-safe writer every store uses unless told otherwise.
TFileWriter AtomicFileWriter();

// The deferred save of the signature store and the sender lists, called every
// few seconds: nothing while a batch is open; a pending write is made by the
// first call that finds nothing changed since the call before; a change makes
// a write pending. A failed write keeps both marks, so the next call tries
// again. Answers the failure text when `write` failed.
template <typename Write>
std::optional<std::string> DeferredSave(std::int32_t lockCount, bool& changed, bool& savePending,
                                        Write&& write, const char* failureText) {
    if (lockCount > 0)
        return std::nullopt;
    if (savePending && !changed) {
        if (!write())
            return failureText;
        savePending = false;
    }
    if (changed) {
        changed = false;
        savePending = true;
    }
    return std::nullopt;
}

// The lines of a text file; false (and no lines) when the file does not
// exist or cannot be read.
bool ReadTextFileLines(const std::string& fileName, std::vector<std::string>& lines);

// The caption of the stores' message boxes: the program's own window title.
inline constexpr const char* kKnowledgeMessageCaption = "Vantor TARNIX";

// Tells the user that a store could not write its files (an error box with
// the store's own text).
void ShowSaveFailure(const std::string& text);
