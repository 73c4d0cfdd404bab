#include "unSpamSig.h"

#include "message/TextLines.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

void loadList(const std::string& fileName, TSpamSigniture::TSignatureList& list) {
    std::vector<std::string> lines;
    if (!ReadTextFileLines(fileName, lines))
        return;
    // Added one by one: an unsorted file comes out sorted and a repeated line
    // is kept once.
    for (auto& line : lines)
        list.insert(std::move(line));
}

} // namespace

TSpamSigniture::TSpamSigniture(TFileWriter writer) : FWriter(std::move(writer)) {
    loadList(FSpamFileName, FSpamSignatures);
    loadList(FGoodFileName, FGoodSignatures);
}

std::string TSpamSigniture::Signature(std::string_view signatureText) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(signatureText.data(), signatureText.size(), digest, &length, EVP_md5(),
                   nullptr) != 1 ||
        length != 16)
        throw std::runtime_error("MD5 digest failed");
    static const char hex[] = "0123456789abcdef";
    std::string signature(32, '0');
    for (unsigned i = 0; i < 16; ++i) {
        signature[2 * i] = hex[digest[i] >> 4];
        signature[2 * i + 1] = hex[digest[i] & 15];
    }
    return signature;
}

bool TSpamSigniture::IsSpamSignature(std::string_view signatureText) const {
    return HasSpamSignature(Signature(signatureText));
}

bool TSpamSigniture::IsGoodSignature(std::string_view signatureText) const {
    return HasGoodSignature(Signature(signatureText));
}

bool TSpamSigniture::HasSpamSignature(const std::string& signature) const {
    return FSpamSignatures.contains(signature);
}

bool TSpamSigniture::HasGoodSignature(const std::string& signature) const {
    return FGoodSignatures.contains(signature);
}

bool TSpamSigniture::AddSignature(std::string_view signatureText, TSignatureList& into,
                                  TSignatureList& outOf) {
    std::string signature = Signature(signatureText);
    if (outOf.erase(signature) > 0)
        FChanged = true;
    if (into.contains(signature))
        return true;
    into.insert(std::move(signature));
    FChanged = true;
    return false;
}

bool TSpamSigniture::AddSpamSignature(std::string_view signatureText) {
    return AddSignature(signatureText, FSpamSignatures, FGoodSignatures);
}

bool TSpamSigniture::AddGoodSignature(std::string_view signatureText) {
    return AddSignature(signatureText, FGoodSignatures, FSpamSignatures);
}

bool TSpamSigniture::WriteLists() {
    try {
        return FWriter(FSpamFileName, JoinLineRange(FSpamSignatures)) &&
               FWriter(FGoodFileName, JoinLineRange(FGoodSignatures));
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::string> TSpamSigniture::TrySave() {
    return DeferredSave(
        FLockCount, FChanged, FSavePending, [this] { return WriteLists(); },
        "Cannot save changes in sig knowledge");
}

bool TSpamSigniture::Save() {
    auto failure = TrySave();
    if (failure)
        ShowSaveFailure(*failure);
    return !failure;
}
