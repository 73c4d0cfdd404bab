#pragma once
// TBlackList: the black list and the white list of sender addresses.
//
// The lists themselves belong to whoever shows them (the settings window's
// two list boxes); TBlackList only binds to them, loads them from
// "blacklist.txt" and "whitelist.txt", looks senders up, moves taught senders
// between them and writes them back through the deferred save. Whoever edits
// a list directly holds the spam manager's lock while doing so and calls
// MarkChanged afterwards.
#include "KnowledgeFile.h"
#include "SortedTextList.h"
#include "unArrays.h"

#include <cstdint>
#include <optional>
#include <string>

class TBlackList {
public:
    // Binds to the two lists (not owned; they must outlive this object) and
    // loads each file into its list when the file exists.
    TBlackList(TSortedTextList& blackList, TSortedTextList& whiteList,
               TFileWriter writer = AtomicFileWriter());

    // The address between the first "<" and the ">" after it of the "From"
    // entry; the whole entry when it holds no "<".
    static std::string SenderAddress(const TAssArray& headerMap);

    bool IsBlackListed(const TAssArray& headerMap) const;
    bool IsWhiteListed(const TAssArray& headerMap) const;
    // Moves the sender to the black (white) list.
    void LearnSpamSender(const TAssArray& headerMap);
    void LearnGoodSender(const TAssArray& headerMap);

    void MarkChanged() { FChanged = true; }
    void BeginUpdate() { ++FLockCount; }
    void EndUpdate() { --FLockCount; }
    // The deferred save: writes "blacklist.txt" then "whitelist.txt" at the
    // first call that finds no change since the call before, never while a
    // batch is open. A failed write shows "Cannot save changes in sig
    // knowledge" and keeps the marks, so the next call tries again. Answers
    // false after a failed write.
    bool Save();
    // The same without the message box: answers the message to show, if any.
    std::optional<std::string> TrySave();

    int BlackCount() const { return FBlackList.Count(); }
    int WhiteCount() const { return FWhiteList.Count(); }

private:
    void LearnSender(const TAssArray& headerMap, TSortedTextList& into, TSortedTextList& outOf);
    bool WriteLists();

    std::int32_t FLockCount = 0;
    std::string FBlackFileName = "blacklist.txt";
    std::string FWhiteFileName = "whitelist.txt";
    bool FChanged = false;
    bool FSavePending = false;
    TSortedTextList& FBlackList;
    TSortedTextList& FWhiteList;
    TFileWriter FWriter;
};
