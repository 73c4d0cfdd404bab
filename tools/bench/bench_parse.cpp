// bench-parse: how fast messages are parsed, the way the spam manager does
// it (SplitLines, then ParseRawMail on a new TQebMsg).
//
//   bench-parse [--passes N] FOLDER...   every file under the folders (the
//                                        corpus: build/bin/bench-parse ../shared/corpus)
//   bench-parse --hostile                messages of about 300,000 bytes built
//                                        to make a careless parser slow
//
// Prints the files and bytes, the time of every pass and the best pass's
// throughput (MB = 1,000,000 bytes), or the best of three times of every
// hostile message.
#include "message/QebMsg.h"
#include "message/TextLines.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Outcome {
    int oops = 0;
    int failed = 0; // any other error: a fault
};

void Parse(const std::string& source, Outcome& outcome) {
    TQebMsg message;
    try {
        message.ParseRawMail(SplitLines(source));
    } catch (const std::runtime_error& error) {
        if (std::strcmp(error.what(), "Oops...") == 0)
            ++outcome.oops;
        else
            ++outcome.failed;
    } catch (...) {
        ++outcome.failed;
    }
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

bool HasEml(const std::string& folder) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        if (it->path().extension() == ".eml")
            return true;
    return false;
}

int BenchFolders(const std::vector<std::string>& folders, int passes) {
    std::vector<std::string> messages;
    std::size_t bytes = 0;
    for (const std::string& folder : folders) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            // Messages only: *.eml, or every file of a folder without any.
            if (!it->is_regular_file() || (it->path().extension() != ".eml" && HasEml(folder)))
                continue;
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream content;
            content << in.rdbuf();
            messages.push_back(content.str());
            bytes += messages.back().size();
        }
        if (error) {
            std::fprintf(stderr, "bench-parse: %s: %s\n", folder.c_str(), error.message().c_str());
            return 1;
        }
    }
    if (messages.empty()) {
        std::fprintf(stderr, "bench-parse: no files found\n");
        return 1;
    }
    std::printf("%zu files, %zu bytes\n", messages.size(), bytes);
    double best = 0;
    Outcome outcome;
    for (int pass = 1; pass <= passes; ++pass) {
        outcome = {};
        const auto start = Clock::now();
        for (const std::string& message : messages)
            Parse(message, outcome);
        const double seconds = Seconds(Clock::now() - start);
        std::printf("pass %d: %.3f s, %.1f MB/s\n", pass, seconds, bytes / seconds / 1e6);
        if (pass == 1 || seconds < best)
            best = seconds;
    }
    std::printf("best: %.3f s, %.1f MB/s; \"Oops...\": %d, other errors: %d\n", best,
                bytes / best / 1e6, outcome.oops, outcome.failed);
    return outcome.failed == 0 ? 0 : 1;
}

// --- Hostile messages --------------------------------------------------------

constexpr std::size_t kSize = 300000;

std::string Repeat(const std::string& piece, std::size_t size) {
    std::string text;
    while (text.size() + piece.size() <= size)
        text += piece;
    return text;
}

std::string QEncodeAll(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes)
        out += {'=', kHex[c >> 4], kHex[c & 15]};
    return out;
}

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
    }
    return out;
}

// Wraps a text in encoded words, again and again, while it fits.
std::string NestedWords(bool base64) {
    std::string text = "x";
    for (;;) {
        std::string next =
            base64 ? "=?a?B?" + Base64(text) + "?=" : "=?a?Q?" + QEncodeAll(text) + "?=";
        if (next.size() > kSize - 20)
            return text;
        text = std::move(next);
    }
}

// Words that decode into the next word with almost nothing to decode:
// "=" * k + "??Q?" * k + "x" + "?" * k + "=" * k.
std::string ReformingWords() {
    const std::size_t k = (kSize - 40) / 7;
    std::string opening;
    for (std::size_t i = 0; i < k; ++i)
        opening += "??Q?";
    return std::string(k, '=') + opening + "x" + std::string(k, '?') + std::string(k, '=');
}

// An escape that survives many decodings: "=?a?Q?=3D3D3D...3D41?=" wrapped in
// a chain of words that each decode to the next.
std::string LongLivedEscape() {
    const std::size_t k = (kSize - 40) / 11;
    std::string opening;
    for (std::size_t i = 0; i < k; ++i)
        opening += "??Q?";
    return std::string(k, '=') + opening + "=" + Repeat("3D", 2 * k) + "41" + std::string(k, '?') +
           std::string(k, '=');
}

std::string NestedMultipart() {
    std::string head, tail;
    for (int i = 0; head.size() + tail.size() < kSize - 200; ++i) {
        const std::string b = "b" + std::to_string(i);
        head += "Content-Type: multipart/mixed; boundary=" + b + "\n\n--" + b + "\n";
        tail = "--" + b + "--\n" + tail;
    }
    return head + "Content-Type: text/plain\n\ndeep\n" + tail;
}

std::string NestedMessages() {
    return Repeat("Content-Type: message/rfc822\n\n", kSize - 50) +
           "Content-Type: text/plain\n\ndeep\n";
}

struct Hostile {
    const char* name;
    std::function<std::string()> make;
};

const Hostile kHostile[] = {
    {"100,000 continuation lines",
     [] { return "Subject: x\n" + Repeat(" x\n", kSize - 20) + "\nbody\n"; }},
    {"a header block of 42,000 lines", [] { return Repeat("X-H: v\n", kSize - 40) + "\nbody\n"; }},
    {"75,000 delimiters",
     [] {
         return "Content-Type: multipart/mixed; boundary=b\n\n" + Repeat("--b\n", kSize - 60) +
                "--b--\n";
     }},
    {"parts of one line each",
     [] {
         return "Content-Type: multipart/mixed; boundary=b\n\n" + Repeat("--b\n\nx\n", kSize - 60);
     }},
    {"multipart nested 4,600 deep", NestedMultipart},
    {"message/rfc822 nested 10,000 deep", NestedMessages},
    {"64 enclosures, header blocks never end",
     [] {
         std::string source;
         for (int i = 0; i < TQebMsg::kMaxNesting; ++i)
             source += "Content-Type: message/rfc822\n \n";
         return source + Repeat("a\n", kSize - source.size());
     }},
    {"lines of two bytes, no empty line",
     [] { return "Content-Type: message/rfc822\n" + Repeat("a\n", kSize - 40); }},
    {"25,000 encoded words in the subject",
     [] { return "Subject: " + Repeat("=?a?Q?x_y?= ", kSize - 30) + "\n\nbody\n"; }},
    {"encoded words that re-form each other",
     [] { return "Subject: " + ReformingWords() + "\n\nb\n"; }},
    {"an escape living through 27,000 words",
     [] { return "Subject: " + LongLivedEscape() + "\n\nb\n"; }},
    {"Q words nested in Q words", [] { return "Subject: " + NestedWords(false) + "\n\nb\n"; }},
    {"B words nested in B words", [] { return "Subject: " + NestedWords(true) + "\n\nb\n"; }},
    {"300,000 bytes of \"=?\"", [] { return "Subject: " + Repeat("=?", kSize - 20) + "\n\nb\n"; }},
    {"a file name of words",
     [] {
         return "Content-Type: text/plain; name=\"" + Repeat("=?a?B?QQ==?=", kSize - 60) +
                "\"\n\nx\n";
     }},
    {"an address list of 150,000 items",
     [] { return "To: " + Repeat("a,", kSize - 20) + "\n\nb\n"; }},
    {"an address with 75,000 comments",
     [] { return "To: " + Repeat("(c)x", kSize - 20) + "\n\nb\n"; }},
    {"an address list of 100,000 quotes",
     [] { return "Cc: " + Repeat("\"q\"", kSize - 20) + "\n\nb\n"; }},
    {"11,500 uuencoded blocks",
     [] { return "\n" + Repeat("begin 644 f.txt\n#86)C\nend\n", kSize - 10); }},
    {"uuencode begin lines without end",
     [] { return "\n" + Repeat("begin 644 f.txt\n", kSize - 10); }},
    {"a base64 attachment of 100,000 lines",
     [] {
         return "Content-Type: image/gif; name=a.gif\nContent-Transfer-Encoding: base64\n\n" +
                Repeat("QQ\n", kSize - 80);
     }},
    {"one line of 300,000 bytes", [] { return "Subject: s\n\n" + std::string(kSize - 20, 'x'); }},
};

int BenchHostile() {
    double worst = 0;
    for (const Hostile& hostile : kHostile) {
        const std::string source = hostile.make();
        double best = 0;
        Outcome outcome;
        for (int run = 0; run < 3; ++run) {
            const auto start = Clock::now();
            Parse(source, outcome);
            const double seconds = Seconds(Clock::now() - start);
            if (run == 0 || seconds < best)
                best = seconds;
        }
        worst = std::max(worst, best);
        std::printf("%-40s %7zu bytes %8.2f ms%s\n", hostile.name, source.size(), best * 1e3,
                    outcome.failed ? "  FAILED"
                    : outcome.oops ? "  (Oops...)"
                                   : "");
        if (outcome.failed)
            return 1;
    }
    std::printf("slowest: %.2f ms\n", worst * 1e3);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> folders;
    int passes = 3;
    bool hostile = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--passes") == 0 && i + 1 < argc)
            passes = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--hostile") == 0)
            hostile = true;
        else
            folders.push_back(argv[i]);
    }
    if (hostile)
        return BenchHostile();
    if (folders.empty()) {
        std::fprintf(stderr, "usage: bench-parse [--passes N] FOLDER... | bench-parse --hostile\n");
        return 2;
    }
    return BenchFolders(folders, passes);
}
