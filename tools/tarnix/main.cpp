// tarnix: the command-line front end of the spam filter, for people and scripts.
#include "command.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <string>

namespace tarnix {
namespace {

struct Entry {
    const char* usage;
    CommandFunction run;
};

std::map<std::string, Entry>& commands() {
    static std::map<std::string, Entry> table;
    return table;
}

void usage() {
    std::fprintf(stderr,
                 "usage: tarnix [-C DIR] COMMAND [ARGS...]\n\n"
                 "  -C DIR   knowledge directory (default: the current directory)\n\ncommands:\n");
    for (const auto& [name, entry] : commands())
        std::fprintf(stderr, "  %s\n", entry.usage);
}

} // namespace

TarnixCommand::TarnixCommand(const char* name, const char* usageText, CommandFunction run) {
    commands()[name] = Entry{usageText, run};
}

void PrintError(const std::string& text) {
    std::fprintf(stderr, "tarnix: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace tarnix

int main(int argc, char** argv) {
    using namespace tarnix;
    Options options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        if (std::strcmp(argv[i], "-C") == 0 && i + 1 < argc) {
            options.knowledgeDir = argv[++i];
        } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            usage();
            return kExitOk;
        } else {
            PrintError(std::string("unknown option ") + argv[i]);
            usage();
            return kExitUsage;
        }
    }
    if (i >= argc) {
        usage();
        return kExitUsage;
    }
    auto found = commands().find(argv[i]);
    if (found == commands().end()) {
        PrintError(std::string("unknown command ") + argv[i]);
        usage();
        return kExitUsage;
    }
    std::vector<std::string> args(argv + i + 1, argv + argc);
    try {
        return found->second.run(options, args);
    } catch (const std::exception& error) {
        PrintError(error.what());
        return kExitError;
    }
}
