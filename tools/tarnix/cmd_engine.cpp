// tarnix analyze / classify / learn / teach / stats: the classification
// engine from the command line, on the knowledge files of one folder.
//
// Every command works in the knowledge folder (-C DIR), as the program does:
// the knowledge files are addressed relative to the current folder. The
// commands that change knowledge hold the folder's lock file for their whole
// run and write the changed files before they exit; the registry counters
// are never touched.
#include "command.h"

#include "engine/unSpamManager.h"
#include "platform/core/atomicfile.h"
#include "platform/core/hooks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarnix {
namespace {

namespace fs = std::filesystem;

// A message file as the user named it and where it is.
struct MessageFile {
    std::string shownName;
    std::string path; // absolute, or "-" for standard input
};

MessageFile messageFile(const std::string& argument) {
    if (argument == "-")
        return {argument, argument};
    return {argument, fs::absolute(argument).string()};
}

bool readMessage(const MessageFile& file, std::string& raw) {
    if (file.path == "-") {
        raw.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    return platform::ReadWholeFile(file.path, raw);
}

// The message files of a path: the file itself, the files of a folder, or
// the files of a Maildir folder's cur/ and new/. In name order, without
// hidden files.
bool collectMessages(const std::string& argument, std::vector<MessageFile>& files) {
    std::error_code error;
    fs::path path = fs::absolute(argument, error);
    if (error || !fs::exists(path, error)) {
        PrintError(argument + ": no such file or folder");
        return false;
    }
    if (!fs::is_directory(path, error)) {
        files.push_back({argument, path.string()});
        return true;
    }
    std::vector<fs::path> folders;
    if (fs::is_directory(path / "cur", error) || fs::is_directory(path / "new", error)) {
        for (const char* sub : {"cur", "new"})
            if (fs::is_directory(path / sub, error))
                folders.push_back(path / sub);
    } else {
        folders.push_back(path);
    }
    for (const auto& folder : folders) {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            std::string name = entry.path().filename().string();
            if (!name.empty() && name[0] != '.' && entry.is_regular_file(error))
                found.push_back(entry.path());
        }
        if (error) {
            PrintError(folder.string() + ": " + error.message());
            return false;
        }
        std::sort(found.begin(), found.end());
        for (const auto& file : found) {
            std::string shown = (fs::path(argument) / fs::relative(file, path, error)).string();
            files.push_back({shown, file.string()});
        }
    }
    return true;
}

// The engine in the knowledge folder, for the life of one command. A command
// that changes knowledge holds the folder's lock file all the while.
class Knowledge {
public:
    // Enters the folder and, when asked, takes its lock; false (after saying
    // why) when either fails. Nothing is read or written before that.
    bool open(const Options& options, bool changesKnowledge) {
        if (::chdir(options.knowledgeDir.c_str()) != 0) {
            PrintError("cannot enter the knowledge folder " + options.knowledgeDir + ": " +
                       std::strerror(errno));
            return false;
        }
        if (changesKnowledge) {
            int fd = ::open(kKnowledgeLockFileName, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0) {
                PrintError(std::string("cannot create the lock file ") + kKnowledgeLockFileName +
                           " in " + options.knowledgeDir + ": " + std::strerror(errno));
                return false;
            }
            ::close(fd);
            lock_ = std::make_unique<platform::FileLock>(kKnowledgeLockFileName,
                                                         platform::FileLock::Mode::Try);
            if (!lock_->locked()) {
                PrintError("the knowledge in " + options.knowledgeDir +
                           " is being changed by another tarnix process; nothing was done");
                return false;
            }
        }
        // The stores report their save failures as message boxes.
        platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            PrintError(text);
            saveFailed_ = true;
            return platform::IDOK;
        });
        manager_ = std::make_unique<TSpamManager>(counters_, black_, white_);
        manager_->Init();
        return true;
    }
    ~Knowledge() { platform::SetMessageBoxHook({}); }

    TSpamManager& manager() { return *manager_; }
    // Writes what changed; false when something could not be written.
    bool save() { return manager_->FlushKnowledge() && !saveFailed_; }

private:
    std::unique_ptr<platform::FileLock> lock_;
    TMemoryCounters counters_;
    TSortedTextList black_, white_;
    std::unique_ptr<TSpamManager> manager_;
    std::atomic<bool> saveFailed_{false};
};

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

int verdictCode(bool spam) {
    return spam ? kExitOk : kExitNo;
}

// ---------------------------------------------------------------------------

int analyze(const Options& options, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        PrintError("usage: tarnix analyze FILE");
        return kExitUsage;
    }
    MessageFile file = messageFile(args[0]);
    std::string raw;
    if (!readMessage(file, raw)) {
        PrintError("cannot read " + file.shownName);
        return kExitError;
    }
    Knowledge knowledge;
    if (!knowledge.open(options, false))
        return kExitError;
    std::string report;
    bool spam;
    try {
        spam = knowledge.manager().AnalyzeMessage(raw, report);
    } catch (const std::exception& error) {
        PrintError(file.shownName + ": " + error.what());
        return kExitError;
    }
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
    return verdictCode(spam);
}

int classify(const Options& options, const std::vector<std::string>& args) {
    if (args.empty()) {
        PrintError("usage: tarnix classify FILE...");
        return kExitUsage;
    }
    std::vector<MessageFile> files;
    for (const auto& arg : args)
        files.push_back(messageFile(arg));
    Knowledge knowledge;
    if (!knowledge.open(options, false))
        return kExitError;
    bool anyFailed = false;
    int status = kExitOk;
    for (const auto& file : files) {
        std::string raw, reason;
        if (!readMessage(file, raw)) {
            PrintError("cannot read " + file.shownName);
            anyFailed = true;
            status = kExitError;
            continue;
        }
        try {
            bool spam = knowledge.manager().IsSpam(raw, reason);
            std::printf("%s\t%s\t%s\n", file.shownName.c_str(), spam ? "spam" : "good",
                        firstLine(reason).c_str());
            status = verdictCode(spam);
        } catch (const std::exception& error) {
            PrintError(file.shownName + ": " + error.what());
            anyFailed = true;
            status = kExitError;
        }
    }
    std::fflush(stdout);
    return anyFailed ? kExitError : status;
}

using Progress = std::function<void(std::size_t done, std::size_t total)>;

// Teaches every file; true when every one could be read and parsed.
bool teachFiles(TSpamManager& manager, const std::vector<MessageFile>& files, bool spam,
                const Progress& progress = {}) {
    bool allTaught = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string raw;
        if (!readMessage(files[i], raw)) {
            PrintError("cannot read " + files[i].shownName);
            allTaught = false;
        } else {
            try {
                if (spam)
                    manager.LearnSpam(raw);
                else
                    manager.LearnNotSpam(raw);
            } catch (const std::exception& error) {
                PrintError(files[i].shownName + ": " + error.what());
                allTaught = false;
            }
        }
        if (progress)
            progress(i + 1, files.size());
    }
    return allTaught;
}

std::optional<bool> classArgument(const std::string& text) {
    if (text == "spam")
        return true;
    if (text == "good")
        return false;
    return std::nullopt;
}

int learn(const Options& options, const std::vector<std::string>& args) {
    std::optional<bool> spam = args.empty() ? std::nullopt : classArgument(args[0]);
    if (args.size() < 2 || !spam) {
        PrintError("usage: tarnix learn spam|good PATH...");
        return kExitUsage;
    }
    bool ok = true;
    std::vector<MessageFile> files;
    for (std::size_t i = 1; i < args.size(); ++i)
        ok = collectMessages(args[i], files) && ok;
    Knowledge knowledge;
    if (!knowledge.open(options, true))
        return kExitError;
    TSpamManager& manager = knowledge.manager();
    manager.BeginUpdate();
    ok = teachFiles(manager, files, *spam) && ok;
    manager.EndUpdate();
    ok = knowledge.save() && ok;
    return ok ? kExitOk : kExitError;
}

// The progress line of `teach`: one line on standard error, rewritten in
// place, shown only when that is a terminal.
class ProgressLine {
public:
    ProgressLine() : shown_(::isatty(STDERR_FILENO) == 1) {}
    bool shown() const { return shown_; }
    void show(const std::string& text) {
        if (shown_) {
            std::fprintf(stderr, "\r\033[K%s", text.c_str());
            std::fflush(stderr);
        }
    }
    // The teaching window's texts: the pass, "Processing: p%" and the message.
    Progress pass(std::string name) {
        return [this, name](std::size_t done, std::size_t total) {
            // Every 50th message and the last: the terminal is slower than the engine.
            if (done % 50 != 0 && done != total)
                return;
            double percent = 100.0 * static_cast<double>(done) / static_cast<double>(total);
            show(name + "  Processing: " + std::to_string(std::lrint(percent)) + "%  Message " +
                 std::to_string(done) + "/" + std::to_string(total));
        };
    }

private:
    bool shown_;
};

int teach(const Options& options, const std::vector<std::string>& args) {
    if (args.size() != 2) {
        PrintError("usage: tarnix teach GOOD SPAM");
        return kExitUsage;
    }
    bool ok = true;
    std::vector<MessageFile> good, spam;
    ok = collectMessages(args[0], good) && ok;
    ok = collectMessages(args[1], spam) && ok;
    Knowledge knowledge;
    if (!knowledge.open(options, true))
        return kExitError;
    ProgressLine line;
    TSpamManager& manager = knowledge.manager();
    auto prune = [&] {
        manager.Prune([&](const std::string& progress, const std::string& neurons) {
            line.show("Building knowledge base...  " + progress + "  " + neurons);
        });
    };
    manager.BeginUpdate();
    ok = teachFiles(manager, good, false, line.pass("NOT SPAM Messages")) && ok;
    prune();
    ok = teachFiles(manager, spam, true, line.pass("SPAM Messages")) && ok;
    prune();
    manager.EndUpdate();
    ok = knowledge.save() && ok;
    line.show("taught " + std::to_string(good.size()) + " good and " + std::to_string(spam.size()) +
              " spam messages; " + std::to_string(manager.TokenCount()) + " tokens\n");
    return ok ? kExitOk : kExitError;
}

int stats(const Options& options, const std::vector<std::string>& args) {
    if (!args.empty()) {
        PrintError("usage: tarnix stats");
        return kExitUsage;
    }
    Knowledge knowledge;
    if (!knowledge.open(options, false))
        return kExitError;
    TSpamManager& manager = knowledge.manager();
    std::printf("spam signatures: %d\ngood signatures: %d\ntokens: %d\nblack list: %d\n"
                "white list: %d\n",
                manager.SpamSignatureCount(), manager.GoodSignatureCount(), manager.TokenCount(),
                manager.BlackCount(), manager.WhiteCount());
    return kExitOk;
}

const TarnixCommand analyzeCommand("analyze",
                                   "analyze FILE       explains the verdict on a message stage by "
                                   "stage (exit 0 spam, 1 not spam)",
                                   analyze);
const TarnixCommand classifyCommand("classify",
                                    "classify FILE...   one line per message: name, spam or "
                                    "good, reason",
                                    classify);
const TarnixCommand learnCommand("learn",
                                 "learn spam|good PATH...  teaches messages (files, folders, "
                                 "Maildir folders)",
                                 learn);
const TarnixCommand teachCommand("teach",
                                 "teach GOOD SPAM    teaches a folder of good mail and a folder "
                                 "of spam, then prunes",
                                 teach);
const TarnixCommand statsCommand("stats", "stats              sizes of the knowledge", stats);

} // namespace
} // namespace tarnix
