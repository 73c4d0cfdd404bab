#pragma once
// TSpamSigniture: the known spam and known good messages, recognised by the
// MD5 digest of their signature text (the raw source from the header/body
// separator to the end).
//
// Each list holds a signature once and stays sorted ignoring case; the list
// sizes are the numbers of distinct messages taught as spam and as good, from
// which the Bayesian filter computes its token probabilities. The lists live
// in "spamsig.txt" and "notspamsig.txt" and are written by the deferred save
// (see Save). Not thread-safe: the spam manager serialises every call.
#include "KnowledgeFile.h"

#include "platform/core/collation.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

class TSpamSigniture {
public:
    // Loads "spamsig.txt" and then "notspamsig.txt" from the current folder,
    // each when it exists.
    explicit TSpamSigniture(TFileWriter writer = AtomicFileWriter());

    // 32 lower-case hexadecimal digits of the MD5 digest of the text's bytes.
    static std::string Signature(std::string_view signatureText);

    bool IsSpamSignature(std::string_view signatureText) const;
    bool IsGoodSignature(std::string_view signatureText) const;
    // The same lookups for a signature already computed with Signature().
    bool HasSpamSignature(const std::string& signature) const;
    bool HasGoodSignature(const std::string& signature) const;

    // Puts the text's signature into the spam list and out of the good list;
    // answers AlreadyKnown: whether it was in the spam list before.
    bool AddSpamSignature(std::string_view signatureText);
    bool AddGoodSignature(std::string_view signatureText);

    int SpamSignatureCount() const { return static_cast<int>(FSpamSignatures.size()); }
    int GoodSignatureCount() const { return static_cast<int>(FGoodSignatures.size()); }

    void BeginUpdate() { ++FLockCount; }
    void EndUpdate() { --FLockCount; }
    // The deferred save: writes both files at the first call that finds no
    // change since the call before, never while a batch is open. A failed
    // write shows "Cannot save changes in sig knowledge" and keeps the marks,
    // so the next call tries again. Answers false after a failed write.
    bool Save();
    // The same without the message box: answers the message to show, if any.
    std::optional<std::string> TrySave();

    using TSignatureList = std::set<std::string, platform::LessIgnoreCase>;
    const TSignatureList& SpamSignatures() const { return FSpamSignatures; }
    const TSignatureList& GoodSignatures() const { return FGoodSignatures; }

private:
    bool AddSignature(std::string_view signatureText, TSignatureList& into, TSignatureList& outOf);
    bool WriteLists();

    std::int32_t FLockCount = 0;
    std::string FSpamFileName = "spamsig.txt";
    std::string FGoodFileName = "notspamsig.txt";
    bool FChanged = false;
    bool FSavePending = false;
    TSignatureList FSpamSignatures;
    TSignatureList FGoodSignatures;
    TFileWriter FWriter;
};
