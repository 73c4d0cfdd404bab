#pragma once
// TSpamBayes: the Bayesian stage of the engine: the token table with its spam
// and good counts, learning, pruning, the file "tokenlist.txt", and scoring.
//
// Probabilities are computed only while the table is loaded, from the counts
// and the numbers of known spam and good messages of that moment. Learning
// changes counts only, so a token keeps the probability it had at start (a
// new one has none) until the next start of the program.
//
// Not thread-safe: the spam manager serialises every call.
#include "KnowledgeFile.h"
#include "TokenTable.h"
#include "unArrays.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One known token.
struct TMailToken {
    std::string TokenText;
    std::int32_t SpamCount = 0;
    std::int32_t GoodCount = 0;
    // 0.01 to 0.99; 0 means no usable probability.
    double Probability = 0.0;
};

// One of the 16 score slots of a classification; an empty token is a filler.
struct TmvReal {
    std::string Token;
    double Probability = 0.5;
};

// The tokens of one text: maximal runs of token characters ("A" to "z",
// "-", ".", the digits, ":" and "$") of 3 to 19 bytes, as written.
std::vector<std::string> Tokenize(std::string_view text);

// The token set of a prepared message: header tokens (key + "*" + token of
// every entry's stored value, except the entry "Date"), then body tokens,
// each distinct ignoring letter case (the form met first stays), in the
// case-insensitive order of platform::CompareTextIgnoreCase.
std::vector<std::string> MessageTokens(const TAssArray& headerMap,
                                       const std::vector<std::string>& bodyLines);

// The general decimal format of a number: at most 15 significant digits, no
// trailing zeros, the locale's decimal separator, and scientific notation
// with a capital "E" ("1E-6") below 0.00001 and from 1E15 up.
std::string NumberText(double value);

// -1, 0 or 1 as |p - 0.5| is smaller than, equal to or greater than
// |q - 0.5|, compared exactly (not rounded to a double first).
int CompareInterest(double p, double q);

// p rounded to six decimals, ties to even, as the score report shows it: the
// exact product p x 1000000 is rounded, not its double approximation.
double RoundToMillionths(double p);

class TSpamBayes {
public:
    // Progress of Prune: the texts for the teaching window's first status
    // panel ("Progress: 40%") and its second ("Neurons: 1499 <-> 2500").
    using TPruneProgress =
        std::function<void(const std::string& progress, const std::string& neurons)>;

    // Loads "tokenlist.txt" from the current folder, when it exists, with
    // nSpam and nGood as the numbers of known spam and good messages.
    TSpamBayes(std::int32_t nSpam, std::int32_t nGood, TFileWriter writer = AtomicFileWriter());

    void BeginUpdate() { ++FLockCount; }
    void EndUpdate() { --FLockCount; }

    struct TFindResult {
        int Index; // of the token, or where it would be inserted
        bool Found;
    };
    // Binary search of the table (byte-wise order).
    TFindResult FindToken(std::string_view tokenText) const;
    // The token's probability; 0 when it is not in the table.
    double TokenProbability(std::string_view tokenText) const;
    int TokenCount() const { return FTokens.Count(); }
    TMailToken Token(int index) const;

    // Counts every token of the message's token set once as spam (good).
    void LearnSpamTokens(const TAssArray& headerMap, const std::vector<std::string>& bodyLines);
    void LearnGoodTokens(const TAssArray& headerMap, const std::vector<std::string>& bodyLines);

    // Removes the tokens seen in fewer than two learned messages, reporting
    // progress after every 1000th token visited.
    void Prune(const TPruneProgress& progress = {});

    // The deferred save: writes the table at the first call that finds no
    // change since the call before, never while a batch is open. A failed
    // write shows "Cannot save database" and counts as done; any other
    // failure shows "Cannot save changes in Bayes knowledge" and keeps the
    // marks. Answers false after either failure.
    bool Save();
    // The same without the message box: answers the message to show, if any.
    std::optional<std::string> TrySave();
    // Replaces the table with the content of "tokenlist.txt" (see the loader
    // for how damaged files are read) and computes the probabilities.
    void LoadKnowledge(std::int32_t nSpam, std::int32_t nGood);
    // Writes "tokenlist.txt" and its readable copy; false when a file could
    // not be written.
    bool WriteKnowledge();

    // Scores the message: answers the verdict (true = spam), appends the
    // good-word and spam-word texts and replaces the score report. Any
    // failure gives not spam and leaves the texts as they were.
    bool Classify(const TAssArray& headerMap, const std::vector<std::string>& bodyLines,
                  std::string& goodWords, std::string& spamWords, std::string& report) const;

    // The token probability for these counts (Part of loading).
    static double ComputeProbability(std::int32_t spamCount, std::int32_t goodCount,
                                     std::int32_t nSpam, std::int32_t nGood);

    const std::string& FileName() const { return FFileName; }

private:
    void LearnTokens(const TAssArray& headerMap, const std::vector<std::string>& bodyLines,
                     bool spam);
    bool ClassifyOrThrow(const TAssArray& headerMap, const std::vector<std::string>& bodyLines,
                         std::string& goodWords, std::string& spamWords, std::string& report) const;

    std::int32_t FLockCount = 0;
    TTokenTable FTokens;
    std::string FFileName = "tokenlist.txt";
    bool FChanged = false;
    bool FSavePending = false;
    TFileWriter FWriter;
};
