#pragma once
// The commands of the front end. Each command lives in its own cmd_*.cpp and
// registers itself with a static TarnixCommand object.
#include <string>
#include <vector>

namespace tarnix {

// Exit statuses shared by all commands.
enum ExitCode : int { kExitOk = 0, kExitNo = 1, kExitUsage = 2, kExitError = 3 };

struct Options {
    std::string knowledgeDir = "."; // -C DIR
};

using CommandFunction = int (*)(const Options& options, const std::vector<std::string>& args);

struct TarnixCommand {
    TarnixCommand(const char* name, const char* usage, CommandFunction run);
};

// Prints "tarnix: " + text on standard error.
void PrintError(const std::string& text);

} // namespace tarnix
