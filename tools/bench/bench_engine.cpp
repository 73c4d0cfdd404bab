// bench-engine: speed and memory of the classification engine.
//
//   bench-engine CORPUS [--tokens N]
//
// CORPUS holds ham/ and spam/ with one message per file. The odd-numbered
// files of each (first, third, ...) are taught, the even-numbered ones
// classified, the way tools/bench-engine.sh splits them for the other
// filters. Messages are read into memory first: the times are the engine's
// own (parsing included), not the disk's. Then a synthetic table of N tokens
// (1,000,000 by default) is written and loaded.
//
// Output: one "name value unit" line per measurement, for the script.
#include "engine/unSpamManager.h"
#include "message/QebMsg.h"
#include "message/TextLines.h"
#include "platform/core/atomicfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Message {
    std::string name;
    std::string raw;
};

std::vector<Message> readFolder(const fs::path& folder) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<Message> messages;
    for (const auto& path : paths) {
        Message message{path.string(), {}};
        if (!platform::ReadWholeFile(path.string(), message.raw)) {
            std::fprintf(stderr, "bench-engine: cannot read %s\n", path.c_str());
            std::exit(1);
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

// Every other message, from the first (odd) or the second (even).
std::vector<const Message*> half(const std::vector<Message>& all, bool odd) {
    std::vector<const Message*> part;
    for (std::size_t i = odd ? 0 : 1; i < all.size(); i += 2)
        part.push_back(&all[i]);
    return part;
}

std::size_t bytesOf(const std::vector<const Message*>& messages) {
    std::size_t bytes = 0;
    for (const auto* message : messages)
        bytes += message->raw.size();
    return bytes;
}

// Resident and peak memory of this process, in KiB.
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "bench-engine-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::exit(1);
        path_ = pattern;
        previous_ = fs::current_path();
        fs::current_path(path_);
    }
    ~ScratchFolder() {
        fs::current_path(previous_);
        fs::remove_all(path_);
    }

private:
    fs::path path_, previous_;
};

void print(const char* name, double value, const char* unit) {
    std::printf("%-28s %12.3f %s\n", name, value, unit);
}

struct Manager {
    TMemoryCounters counters;
    TSortedTextList black, white;
    TSpamManager manager{counters, black, white};
};

double teach(TSpamManager& manager, const std::vector<const Message*>& ham,
             const std::vector<const Message*>& spam) {
    auto start = Clock::now();
    manager.BeginUpdate();
    for (const auto* message : ham)
        manager.LearnNotSpam(message->raw);
    for (const auto* message : spam)
        manager.LearnSpam(message->raw);
    manager.EndUpdate();
    // New tokens take their ordered places at the first look at the order:
    // that belongs to the teaching.
    {
        std::lock_guard lock(manager.Lock());
        manager.Bayes().FindToken("");
    }
    return secondsSince(start);
}

void corpusBenchmark(const fs::path& corpus) {
    auto ham = readFolder(corpus / "ham");
    auto spam = readFolder(corpus / "spam");
    auto hamTrain = half(ham, true), hamTest = half(ham, false);
    auto spamTrain = half(spam, true), spamTest = half(spam, false);
    std::vector<const Message*> allHam = half(ham, true), allSpam = half(spam, true);
    allHam.insert(allHam.end(), hamTest.begin(), hamTest.end());
    allSpam.insert(allSpam.end(), spamTest.begin(), spamTest.end());

    {
        ScratchFolder folder;
        Manager engine;
        engine.manager.Init();
        double seconds = teach(engine.manager, allHam, allSpam);
        std::size_t count = allHam.size() + allSpam.size();
        print("teach_all_messages", static_cast<double>(count), "msgs");
        print("teach_all_rate", static_cast<double>(count) / seconds, "msgs/s");
        print("teach_all_mb_rate",
              static_cast<double>(bytesOf(allHam) + bytesOf(allSpam)) / 1e6 / seconds, "MB/s");
    }

    ScratchFolder folder;
    std::size_t trainCount = hamTrain.size() + spamTrain.size();
    {
        // Where teaching spends its time: the parser alone, then all of
        // PrepareMessage (parser, header map, body lines).
        std::vector<const Message*> train = hamTrain;
        train.insert(train.end(), spamTrain.begin(), spamTrain.end());
        auto start = Clock::now();
        for (const auto* message : train) {
            TQebMsg parser;
            parser.ParseRawMail(SplitLines(message->raw));
        }
        print("train_parse_only_rate", static_cast<double>(trainCount) / secondsSince(start),
              "msgs/s");
        Manager engine;
        start = Clock::now();
        for (const auto* message : train)
            engine.manager.PrepareMessage(message->raw);
        print("train_prepare_only_rate", static_cast<double>(trainCount) / secondsSince(start),
              "msgs/s");
    }
    {
        Manager engine;
        engine.manager.Init();
        double seconds = teach(engine.manager, hamTrain, spamTrain);
        print("train_messages", static_cast<double>(trainCount), "msgs");
        print("train_rate", static_cast<double>(trainCount) / seconds, "msgs/s");
        auto start = Clock::now();
        engine.manager.FlushKnowledge();
        print("train_save_seconds", secondsSince(start), "s");
        print("train_tokens", engine.manager.TokenCount(), "tokens");
    }
    // Probabilities exist only after a load, as at the next program start.
    Manager engine;
    auto start = Clock::now();
    engine.manager.Init();
    print("load_seconds", secondsSince(start), "s");

    std::size_t falsePositives = 0, falseNegatives = 0;
    start = Clock::now();
    for (const auto* message : hamTest) {
        std::string reason;
        falsePositives += engine.manager.IsSpam(message->raw, reason);
    }
    for (const auto* message : spamTest) {
        std::string reason;
        falseNegatives += !engine.manager.IsSpam(message->raw, reason);
    }
    double seconds = secondsSince(start);
    std::size_t testCount = hamTest.size() + spamTest.size();
    print("classify_messages", static_cast<double>(testCount), "msgs");
    print("classify_rate", static_cast<double>(testCount) / seconds, "msgs/s");
    print("false_positive_percent",
          100.0 * static_cast<double>(falsePositives) / static_cast<double>(hamTest.size()), "%");
    print("false_negative_percent",
          100.0 * static_cast<double>(falseNegatives) / static_cast<double>(spamTest.size()), "%");
}

// A token table file of `count` distinct tokens shaped like real ones: body
// words of 3 to 19 bytes and longer header tokens, in table order.
std::string syntheticTable(std::size_t count) {
    std::mt19937_64 random(2024);
    static const char* keys[] = {"Received*",   "Subject*",  "From*",        "To*",
                                 "Message-Id*", "X-Mailer*", "Content-Type*"};
    std::vector<std::string> tokens;
    tokens.reserve(count + count / 8);
    while (tokens.size() < count + count / 16) {
        std::string word;
        int length = 3 + static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i)
            word += "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789-."[random() % 48];
        if (random() % 3 == 0)
            word = keys[random() % 7] + word;
        tokens.push_back(std::move(word));
    }
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    tokens.resize(std::min(tokens.size(), count));
    std::string file;
    auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    put(static_cast<std::uint32_t>(tokens.size()));
    for (const auto& token : tokens) {
        put(static_cast<std::uint32_t>(random() % 20));
        put(static_cast<std::uint32_t>(random() % 20));
        put(static_cast<std::uint32_t>(token.size()));
        file += token;
    }
    return file;
}

void tableBenchmark(std::size_t count) {
    ScratchFolder folder;
    {
        std::string file = syntheticTable(count);
        platform::WriteFileAtomically("tokenlist.txt", file);
    }
    long before = statusKiB("VmRSS:");
    auto start = Clock::now();
    TSpamBayes bayes(1000, 2000);
    double loadSeconds = secondsSince(start);
    long after = statusKiB("VmRSS:");
    print("table_tokens", bayes.TokenCount(), "tokens");
    print("table_load_seconds", loadSeconds, "s");
    print("table_memory_mb", static_cast<double>(after - before) / 1024.0, "MiB");
    // A learned message makes the table due for writing.
    start = Clock::now();
    bool written = bayes.WriteKnowledge();
    print("table_write_seconds", secondsSince(start), "s");
    if (!written)
        std::fprintf(stderr, "bench-engine: the table could not be written\n");
    print("table_file_mb", static_cast<double>(fs::file_size("tokenlist.txt")) / 1e6, "MB");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-engine CORPUS [--tokens N]\n");
        return 2;
    }
    std::size_t tokens = 1000000;
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--tokens") == 0)
            tokens = std::strtoul(argv[++i], nullptr, 10);
    corpusBenchmark(fs::absolute(argv[1]));
    tableBenchmark(tokens);
    print("peak_memory_mb", static_cast<double>(statusKiB("VmHWM:")) / 1024.0, "MiB");
    return 0;
}
