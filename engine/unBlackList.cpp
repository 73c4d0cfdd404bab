#include "unBlackList.h"

#include "message/TextLines.h"

#include <vector>

namespace {

void loadList(const std::string& fileName, TSortedTextList& list) {
    std::vector<std::string> lines;
    if (!ReadTextFileLines(fileName, lines))
        return;
    for (auto& line : lines)
        list.Add(std::move(line));
}

} // namespace

TBlackList::TBlackList(TSortedTextList& blackList, TSortedTextList& whiteList, TFileWriter writer)
    : FBlackList(blackList), FWhiteList(whiteList), FWriter(std::move(writer)) {
    loadList(FBlackFileName, FBlackList);
    loadList(FWhiteFileName, FWhiteList);
}

std::string TBlackList::SenderAddress(const TAssArray& headerMap) {
    std::string from = headerMap.GetValue("From");
    auto open = from.find('<');
    if (open == std::string::npos)
        return from;
    auto close = from.find('>', open + 1);
    if (close == std::string::npos)
        return {};
    return from.substr(open + 1, close - open - 1);
}

bool TBlackList::IsBlackListed(const TAssArray& headerMap) const {
    return FBlackList.IndexOf(SenderAddress(headerMap)) >= 0;
}

bool TBlackList::IsWhiteListed(const TAssArray& headerMap) const {
    return FWhiteList.IndexOf(SenderAddress(headerMap)) >= 0;
}

void TBlackList::LearnSender(const TAssArray& headerMap, TSortedTextList& into,
                             TSortedTextList& outOf) {
    std::string address = SenderAddress(headerMap);
    if (address.empty())
        return;
    if (int index = outOf.IndexOf(address); index >= 0) {
        outOf.Delete(index);
        FChanged = true;
    }
    if (into.IndexOf(address) < 0) {
        into.Add(std::move(address));
        FChanged = true;
    }
}

void TBlackList::LearnSpamSender(const TAssArray& headerMap) {
    LearnSender(headerMap, FBlackList, FWhiteList);
}

void TBlackList::LearnGoodSender(const TAssArray& headerMap) {
    LearnSender(headerMap, FWhiteList, FBlackList);
}

bool TBlackList::WriteLists() {
    try {
        return FWriter(FBlackFileName, JoinLines(FBlackList.Items())) &&
               FWriter(FWhiteFileName, JoinLines(FWhiteList.Items()));
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::string> TBlackList::TrySave() {
    return DeferredSave(
        FLockCount, FChanged, FSavePending, [this] { return WriteLists(); },
        "Cannot save changes in sig knowledge");
}

bool TBlackList::Save() {
    auto failure = TrySave();
    if (failure)
        ShowSaveFailure(*failure);
    return !failure;
}
