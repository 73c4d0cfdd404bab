#include "unSpamManager.h"

#include "message/QebAttFile.h"
#include "message/QebMsg.h"
#include "message/TextLines.h"
#include "platform/core/registry.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// The raw text ends at its first zero byte.
std::string_view rawTextOf(std::string_view text) {
    auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// Where the header/body separator begins: the first pattern that occurs at
// all wins, in this order, even if another pattern occurs earlier.
std::size_t findSeparator(std::string_view text) {
    // Three of the four patterns need a carriage return; most mail has none.
    if (text.find('\r') == std::string_view::npos)
        return text.find("\n\n");
    for (std::string_view pattern : {"\r\n\r\n", "\n\r\n\r", "\n\n", "\r\r"})
        if (auto at = text.find(pattern); at != std::string_view::npos)
            return at;
    return std::string_view::npos;
}

// Folded lines join their header with ",", a repeated name collects all its
// values in one entry, and a line without ": " belongs to the empty name.
void buildHeaderMap(std::string_view headerBlock, TAssArray& headerMap) {
    std::string_view name; // a piece of the header block, which outlives the loop
    ForEachLine(headerBlock, [&](std::string_view line) {
        std::string_view value = line;
        if (!line.empty() && line[0] != ' ' && line[0] != '\t') {
            auto colon = line.find(": ");
            if (colon == std::string_view::npos) {
                name = {};
            } else {
                name = line.substr(0, colon);
                value.remove_prefix(colon + 2);
            }
        }
        headerMap.AppendValue(name, value, true);
    });
}

bool containsHtml(std::string_view contentType) {
    std::string lower(contentType);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    return lower.find("html") != std::string::npos;
}

bool holdsLineBreak(std::string_view text) {
    static constexpr auto breaks = [] {
        std::array<bool, 256> table{};
        table['\r'] = table['\n'] = table['\0'] = true;
        return table;
    }();
    for (unsigned char c : text)
        if (breaks[c])
            return true;
    return false;
}

// The lines of a text being appended to, kept as lines: what splitting the
// whole text at the end would give, as long as no appended piece holds a
// line break or a zero byte.
class TLineBuilder {
public:
    explicit TLineBuilder(std::vector<std::string> lines) : FLines(std::move(lines)) {}
    void Append(std::string_view piece) {
        if (piece.empty())
            return;
        if (FOpen) {
            FLines.back() += piece;
        } else {
            FLines.emplace_back(piece);
            FOpen = true;
        }
    }
    // Appends "\r\n".
    void EndLine() {
        if (!FOpen)
            FLines.emplace_back();
        FOpen = false;
    }
    std::vector<std::string> Take() { return std::move(FLines); }

private:
    std::vector<std::string> FLines;
    bool FOpen = false; // the text does not end with a line break
};

// The body text the Bayesian filter reads: the text lines, each followed by
// "\r\n" (or "_EMPTY_BODY " when there are none), then for every
// attachment a blank and its name, and for an HTML attachment a blank and its
// text lines, each followed by "\r\n"; all of it split into lines again.
// The lines are assembled directly where that gives the same result (no piece
// holds a line break or a zero byte), else the text is joined and split.
std::vector<std::string> bodyLinesOf(std::string_view rawText) {
    TQebMsg parser;
    parser.ParseRawMail(SplitLines(rawText));
    bool direct = std::none_of(parser.Text.begin(), parser.Text.end(),
                               [](const std::string& line) { return holdsLineBreak(line); });
    for (int i = 0; direct && i < parser.AttachedFiles.Count(); ++i)
        direct = !holdsLineBreak(parser.AttachedFiles.Items(i).FileName);

    auto htmlContent = [](TAttachedFile& file) {
        TMemoryStream& content = file.ContentStream();
        std::string_view data = content.Data;
        data.remove_prefix(std::min(content.Position, data.size()));
        return data;
    };
    if (direct) {
        bool empty = parser.Text.empty();
        TLineBuilder body(std::move(parser.Text)); // each line already ended
        if (empty)
            body.Append("_EMPTY_BODY ");
        for (int i = 0; i < parser.AttachedFiles.Count(); ++i) {
            TAttachedFile& file = parser.AttachedFiles.Items(i);
            body.Append(" ");
            body.Append(file.FileName);
            if (containsHtml(file.ContentType)) {
                body.Append(" ");
                ForEachLine(htmlContent(file), [&](std::string_view line) {
                    body.Append(line);
                    body.EndLine();
                });
            }
        }
        return body.Take();
    }
    std::string body = JoinLines(parser.Text);
    if (body.empty())
        body = "_EMPTY_BODY ";
    for (int i = 0; i < parser.AttachedFiles.Count(); ++i) {
        TAttachedFile& file = parser.AttachedFiles.Items(i);
        body += ' ';
        body += file.FileName;
        if (containsHtml(file.ContentType)) {
            body += ' ';
            body += JoinLines(SplitLines(htmlContent(file)));
        }
    }
    return SplitLines(body);
}

// The stage lines and verdict texts of AnalyzeMessage.
constexpr const char* kSpamSignatureLine =
    "1.) The message has a known spam signiture (It is a spam)\r\nAction: stop checking\r\n";
constexpr const char* kNoSpamSignatureLine =
    "1.) The message does not have a known spam signiture (ok)\r\nAction:  keep checking\r\n";
constexpr const char* kGoodSignatureLine = "2.) The message has a good message signiture (It is "
                                           "not a spam!)\r\nAction:  stop checking\r\n";
constexpr const char* kNoGoodSignatureLine =
    "2.) The message does not have a good message signiture (ok)\r\nAction:  keep checking\r\n";
constexpr const char* kBlackListedLine =
    "3.) The sender is in the black list (It is a spam!)\r\nAction:  stop checking\r\n";
constexpr const char* kNotBlackListedLine =
    "3.) The sender is not in the black list (ok)\r\nAction:  keep checking\r\n";
constexpr const char* kWhiteListedLine =
    "4.) The sender is in the white list (It is not a spam!)\r\nAction: stop checking\r\n";
constexpr const char* kNotWhiteListedLine =
    "4.) The sender is not in the white list (ok)\r\nAction: keep checking\r\n";
constexpr const char* kBayesSpamLine = "6.) The bayesian decision is: It is a spam!";
constexpr const char* kBayesGoodLine = "6.) The bayesian decision is: It is not a spam!";

constexpr const char* kSpamSignatureVerdict = "It is a spam! (based on known spam signiture)";
constexpr const char* kGoodSignatureVerdict =
    "It is not a spam! (based on known good message signiture)";
constexpr const char* kBlackListVerdict = "It is a spam! (based on black list)";
constexpr const char* kWhiteListVerdict = "It is not a spam! (based on white list)";
constexpr const char* kBayesSpamVerdict = "It is a spam! (based on Bayes)";
constexpr const char* kBayesGoodVerdict = "It is not a spam! (based on Bayes)";

} // namespace

TSpamManager::TSpamManager(ISpamCounters& counters, TSortedTextList& blackList,
                           TSortedTextList& whiteList, TFileWriter writer)
    : FCounters(counters), FBlackList(blackList), FWhiteList(whiteList),
      FWriter(std::move(writer)) {}

TSpamManager::~TSpamManager() = default;

void TSpamManager::Init() {
    Guard guard(FLock);
    if (FInitialized)
        return;
    FSignatures = std::make_unique<TSpamSigniture>(FWriter);
    // The token probabilities are computed from the signature counts, so the
    // signatures come first.
    FBayes = std::make_unique<TSpamBayes>(FSignatures->SpamSignatureCount(),
                                          FSignatures->GoodSignatureCount(), FWriter);
    FSenderLists = std::make_unique<TBlackList>(FBlackList, FWhiteList, FWriter);
    FInitialized = true;
}

bool TSpamManager::Initialized() const {
    Guard guard(FLock);
    return FInitialized;
}

void TSpamManager::RequireInitialized() const {
    if (!FInitialized)
        throw std::logic_error("the spam manager is used before Init");
}

void TSpamManager::BeginUpdate() {
    Guard guard(FLock);
    RequireInitialized();
    FSignatures->BeginUpdate();
    FBayes->BeginUpdate();
    FSenderLists->BeginUpdate();
}

void TSpamManager::EndUpdate() {
    Guard guard(FLock);
    RequireInitialized();
    FSignatures->EndUpdate();
    FBayes->EndUpdate();
    FSenderLists->EndUpdate();
}

int TSpamManager::SpamSignatureCount() const {
    Guard guard(FLock);
    RequireInitialized();
    return FSignatures->SpamSignatureCount();
}

int TSpamManager::GoodSignatureCount() const {
    Guard guard(FLock);
    RequireInitialized();
    return FSignatures->GoodSignatureCount();
}

int TSpamManager::TokenCount() const {
    Guard guard(FLock);
    RequireInitialized();
    return FBayes->TokenCount();
}

int TSpamManager::BlackCount() const {
    Guard guard(FLock);
    RequireInitialized();
    return FSenderLists->BlackCount();
}

int TSpamManager::WhiteCount() const {
    Guard guard(FLock);
    RequireInitialized();
    return FSenderLists->WhiteCount();
}

TBlackList& TSpamManager::SenderLists() {
    Guard guard(FLock);
    RequireInitialized();
    return *FSenderLists;
}

TSpamSigniture& TSpamManager::Signatures() {
    Guard guard(FLock);
    RequireInitialized();
    return *FSignatures;
}

TSpamBayes& TSpamManager::Bayes() {
    Guard guard(FLock);
    RequireInitialized();
    return *FBayes;
}

TPreparedMessage TSpamManager::PrepareMessage(std::string_view rawText) const {
    Guard guard(FLock);
    std::string_view text = rawTextOf(rawText);
    TPreparedMessage message;
    std::size_t separator = findSeparator(text);
    if (separator == std::string_view::npos)
        return message;
    message.BodyStart = separator;
    message.HeaderBlock = std::string(text.substr(0, separator));
    buildHeaderMap(*message.HeaderBlock, message.HeaderMap);
    message.BodyLines = bodyLinesOf(text);
    return message;
}

void TSpamManager::ReleaseMessage(TPreparedMessage& message) const {
    if (!message.HeaderBlock)
        return;
    message = TPreparedMessage();
}

std::string_view TSpamManager::SignatureText(std::string_view rawText,
                                             const TPreparedMessage& message) {
    if (!message.BodyStart)
        return {};
    std::string_view text = rawTextOf(rawText);
    return text.substr(std::min(*message.BodyStart, text.size()));
}

bool TSpamManager::IsSpam(std::string_view rawText, std::string& reason) {
    Guard guard(FLock);
    RequireInitialized();
    std::string_view text = rawTextOf(rawText);
    FLastMessage = text;
    FCounters.IncrementScanCount();
    reason.clear();
    bool spam = false;
    TPreparedMessage message = PrepareMessage(text);
    if (message.HeaderBlock) {
        std::string signature = TSpamSigniture::Signature(SignatureText(text, message));
        if (FSignatures->HasSpamSignature(signature)) {
            spam = true;
            reason = "Spam, based on known message signiture";
        } else if (FSignatures->HasGoodSignature(signature)) {
            reason = "Not spam based on known message signiture";
        } else if (FSenderLists->IsBlackListed(message.HeaderMap)) {
            spam = true;
            reason = "Spam, based on black list";
        } else if (FSenderLists->IsWhiteListed(message.HeaderMap)) {
            reason = "Not spam, based on white list";
        } else {
            std::string goodWords, spamWords;
            spam = FBayes->Classify(message.HeaderMap, message.BodyLines, goodWords, spamWords,
                                    reason);
        }
    }
    ReleaseMessage(message);
    if (spam)
        FCounters.IncrementSpamCount();
    return spam;
}

bool TSpamManager::AnalyzeMessage(std::string_view rawText, std::string& report) {
    Guard guard(FLock);
    RequireInitialized();
    std::string_view text = rawTextOf(rawText);
    FLastMessage = text;
    FCounters.IncrementScanCount();
    std::string r, verdict;
    TPreparedMessage message = PrepareMessage(text);
    if (message.HeaderBlock) {
        auto stage = [&](bool decided, const char* decidedLine, const char* openLine,
                         const char* verdictText) {
            r += decided ? decidedLine : openLine;
            r += "\r\n";
            if (decided && verdict.empty())
                verdict = verdictText;
        };
        std::string signature = TSpamSigniture::Signature(SignatureText(text, message));
        stage(FSignatures->HasSpamSignature(signature), kSpamSignatureLine, kNoSpamSignatureLine,
              kSpamSignatureVerdict);
        stage(FSignatures->HasGoodSignature(signature), kGoodSignatureLine, kNoGoodSignatureLine,
              kGoodSignatureVerdict);
        stage(FSenderLists->IsBlackListed(message.HeaderMap), kBlackListedLine, kNotBlackListedLine,
              kBlackListVerdict);
        stage(FSenderLists->IsWhiteListed(message.HeaderMap), kWhiteListedLine, kNotWhiteListedLine,
              kWhiteListVerdict);

        std::string goodWords, spamWords, scoreReport;
        bool bayesSpam = FBayes->Classify(message.HeaderMap, message.BodyLines, goodWords,
                                          spamWords, scoreReport);
        if (!goodWords.empty())
            r += "5.) The following words indicate that the message is not a spam: \r\n" +
                 goodWords + "\r\n";
        if (!spamWords.empty())
            r += "5.) The following words indicate that the message is a spam \r\n" + spamWords +
                 "\r\n";
        r += bayesSpam ? kBayesSpamLine : kBayesGoodLine;
        r += "\r\n";
        if (verdict.empty())
            verdict = bayesSpam ? kBayesSpamVerdict : kBayesGoodVerdict;
        r += "-------------------------\r\nFinal decision: " + verdict + "\r\n";
    }
    bool spam = verdict.starts_with("It is a spam!");
    ReleaseMessage(message);
    if (spam)
        FCounters.IncrementSpamCount();
    report = std::move(r);
    return spam;
}

void TSpamManager::Learn(std::string_view rawText, bool spam) {
    Guard guard(FLock);
    RequireInitialized();
    std::string_view text = rawTextOf(rawText);
    TPreparedMessage message = PrepareMessage(text);
    if (!message.HeaderBlock)
        return;
    std::string_view signatureText = SignatureText(text, message);
    bool alreadyKnown = spam ? FSignatures->AddSpamSignature(signatureText)
                             : FSignatures->AddGoodSignature(signatureText);
    if (!alreadyKnown) {
        if (spam) {
            FSenderLists->LearnSpamSender(message.HeaderMap);
            FBayes->LearnSpamTokens(message.HeaderMap, message.BodyLines);
        } else {
            FSenderLists->LearnGoodSender(message.HeaderMap);
            FBayes->LearnGoodTokens(message.HeaderMap, message.BodyLines);
        }
    }
    ReleaseMessage(message);
}

void TSpamManager::LearnSpam(std::string_view rawText) {
    Learn(rawText, true);
}

void TSpamManager::LearnNotSpam(std::string_view rawText) {
    Learn(rawText, false);
}

void TSpamManager::SaveKnowledge() {
    std::vector<std::string> failures;
    {
        Guard guard(FLock);
        if (!FInitialized)
            return;
        for (auto failure : {FSignatures->TrySave(), FBayes->TrySave(), FSenderLists->TrySave()})
            if (failure)
                failures.push_back(std::move(*failure));
        std::int32_t scanCount = FCounters.ScanCount();
        if (scanCount != FCounters.SavedScanCount()) {
            RegWriteString(kSettingsKey, "spamCount", std::to_string(FCounters.SpamCount()));
            RegWriteString(kSettingsKey, "scanCount", std::to_string(scanCount));
            FCounters.SetSavedScanCount(scanCount);
        }
    }
    for (const auto& failure : failures)
        ShowSaveFailure(failure);
}

bool TSpamManager::FlushKnowledge() {
    std::vector<std::string> failures;
    {
        Guard guard(FLock);
        RequireInitialized();
        // Two deferred saves in a row: the first marks what changed as
        // pending, the second writes it; a store in an open batch writes nothing.
        auto flush = [&](auto& store) {
            for (int round = 0; round < 2; ++round)
                if (auto failure = store.TrySave()) {
                    failures.push_back(std::move(*failure));
                    return;
                }
        };
        flush(*FSignatures);
        flush(*FBayes);
        flush(*FSenderLists);
    }
    for (const auto& failure : failures)
        ShowSaveFailure(failure);
    return failures.empty();
}

void TSpamManager::Prune(const TSpamBayes::TPruneProgress& progress) {
    Guard guard(FLock);
    RequireInitialized();
    FBayes->Prune(progress);
}

std::string TSpamManager::LastMessage() const {
    Guard guard(FLock);
    return FLastMessage;
}
