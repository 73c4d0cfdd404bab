#pragma once
// TSpamManager: the one entry point of the classification engine.
//
// It owns the three knowledge stores (message signatures, sender lists,
// Bayesian filter), runs them in their fixed order for every classification,
// teaches them, splits raw messages into what they work on, counts scanned
// and spam messages and saves the knowledge with the deferred save.
//
// Serialisation: one re-entrant lock (Lock()) is held for the whole of every
// operation, the read-only ones and SaveKnowledge included, so that no two
// operations ever use the stores at the same time, whatever thread calls.
// While a message is prepared the parser lets the calling thread handle its
// pending events (platform::ProcessPendingEvents), so another operation can
// arrive on the same thread in the middle of one: the lock lets it in, and
// because every operation keeps its prepared message in locals and touches no
// store before its message is prepared, the two never interleave at store
// level. The only field a nested call overwrites is the last message.
// Whoever edits the sender lists directly holds Lock() while doing so.
//
// Save failures are shown as message boxes after the lock is left, so a box
// never holds up other threads' engine calls.
#include "KnowledgeFile.h"
#include "SortedTextList.h"
#include "unArrays.h"
#include "unBlackList.h"
#include "unSpamBayes.h"
#include "unSpamSig.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The lock file in the knowledge folder that a process holds (exclusively)
// while it changes the knowledge files.
inline constexpr const char* kKnowledgeLockFileName = "tarnix.lock";

// Where the settings live that SaveKnowledge writes the counters to.
inline constexpr const char* kSettingsKey = "HKEY_CURRENT_USER\\Software\\Vantor\\Filtrum";

// The program-wide counters the manager keeps up (the tray window's).
class ISpamCounters {
public:
    virtual ~ISpamCounters() = default;
    virtual std::int32_t ScanCount() const = 0;
    virtual void IncrementScanCount() = 0;
    virtual std::int32_t SpamCount() const = 0;
    virtual void IncrementSpamCount() = 0;
    // The scan count last written to the settings.
    virtual std::int32_t SavedScanCount() const = 0;
    virtual void SetSavedScanCount(std::int32_t count) = 0;
};

// Counters held in memory (the front end, tests). Counts wrap at 32 bits.
class TMemoryCounters final : public ISpamCounters {
public:
    std::int32_t ScanCount() const override { return FScanCount; }
    void IncrementScanCount() override { FScanCount = wrappingIncrement(FScanCount); }
    std::int32_t SpamCount() const override { return FSpamCount; }
    void IncrementSpamCount() override { FSpamCount = wrappingIncrement(FSpamCount); }
    std::int32_t SavedScanCount() const override { return FSavedScanCount; }
    void SetSavedScanCount(std::int32_t count) override { FSavedScanCount = count; }

private:
    static std::int32_t wrappingIncrement(std::int32_t n) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(n) + 1u);
    }
    std::int32_t FScanCount = 0;
    std::int32_t FSpamCount = 0;
    std::int32_t FSavedScanCount = 0;
};

// A raw message split at its header/body separator. Without a separator
// HeaderBlock and BodyStart are none and the rest is empty.
struct TPreparedMessage {
    std::optional<std::string> HeaderBlock;
    std::optional<std::size_t> BodyStart;
    TAssArray HeaderMap;
    std::vector<std::string> BodyLines;
};

class TSpamManager {
public:
    // The counters and the two sender lists belong to the caller and must
    // outlive the manager.
    TSpamManager(ISpamCounters& counters, TSortedTextList& blackList, TSortedTextList& whiteList,
                 TFileWriter writer = AtomicFileWriter());
    ~TSpamManager();
    TSpamManager(const TSpamManager&) = delete;
    TSpamManager& operator=(const TSpamManager&) = delete;

    // Creates the stores, which load the knowledge files of the current
    // folder. A second call does nothing.
    void Init();
    bool Initialized() const;

    void BeginUpdate();
    void EndUpdate();
    int SpamSignatureCount() const;
    int GoodSignatureCount() const;

    // Splits the raw text (up to its first zero byte) into header block,
    // header map and the body lines the Bayesian filter reads. Errors of the
    // message parser reach the caller.
    TPreparedMessage PrepareMessage(std::string_view rawText) const;
    void ReleaseMessage(TPreparedMessage& message) const;
    // The text from the separator on: what the message signature is made of.
    static std::string_view SignatureText(std::string_view rawText,
                                          const TPreparedMessage& message);

    // The verdict (true = spam) and its reason; counts the message.
    bool IsSpam(std::string_view rawText, std::string& reason);
    // The verdict and the numbered explanation of every stage; counts the message.
    bool AnalyzeMessage(std::string_view rawText, std::string& report);
    void LearnSpam(std::string_view rawText);
    void LearnNotSpam(std::string_view rawText);
    // The heartbeat's save: the deferred save of every store, then the
    // counters to the settings when the scan count changed.
    void SaveKnowledge();
    std::string LastMessage() const;

    // The Bayesian filter's pruning, for the teaching window.
    void Prune(const TSpamBayes::TPruneProgress& progress = {});
    // Writes now whatever knowledge changed (not the counters): the front
    // end's save before it exits. False when a file could not be written
    // (the failure was shown).
    bool FlushKnowledge();

    int TokenCount() const;
    int BlackCount() const;
    int WhiteCount() const;

    // The lock every operation holds; direct edits of the sender lists take it too.
    std::recursive_mutex& Lock() const { return FLock; }
    // For MarkChanged after a direct edit (hold Lock()). Only after Init.
    TBlackList& SenderLists();
    // Only after Init; hold Lock() while using them.
    TSpamSigniture& Signatures();
    TSpamBayes& Bayes();

private:
    void RequireInitialized() const;
    void Learn(std::string_view rawText, bool spam);

    bool FInitialized = false;
    std::unique_ptr<TSpamSigniture> FSignatures;
    std::unique_ptr<TSpamBayes> FBayes;
    std::unique_ptr<TBlackList> FSenderLists;
    std::string FLastMessage;

    ISpamCounters& FCounters;
    TSortedTextList& FBlackList;
    TSortedTextList& FWhiteList;
    TFileWriter FWriter;
    mutable std::recursive_mutex FLock;
};
