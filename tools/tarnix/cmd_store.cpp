// tarnix store ...: the mail store as the program sees it, through the store
// binding and the loaded store library ($MAILDIR selects the store).
//
//   store folders              the top-level folder names, one a line
//   store list FOLDER          id, size, first From and Subject line of each message
//   store show FOLDER ID       the message text
//   store deliver FILE [FOLDER]  stores the message (FILE "-": standard input; default
//                              Inbox) and prints its id
//   store move ID FROM TO      moves a message
//   store mkdir NAME           makes a top-level folder
//   store watch FOLDER...      prints "FOLDER<TAB>ID" for every new message until
//                              interrupted
//
// The library's message boxes go to standard error; a call that shows one
// fails the command (exit status 3).
#include "command.h"

#include "integration/unStorvane.h"
#include "platform/core/atomicfile.h"
#include "platform/core/collation.h"
#include "platform/core/hooks.h"
#include "platform/win/winapi.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace tarnix {
namespace {

// Counts the library's message boxes and prints them.
int gBoxes = 0;

void installBoxPrinter() {
    platform::SetMessageBoxHook([](const std::string& text, const std::string& caption, unsigned) {
        ++gBoxes;
        PrintError(caption + ": " + text);
        return int(platform::IDOK);
    });
}

struct Session {
    TStorvane store;
    bool ok = false;
    Session() {
        installBoxPrinter();
        store.Load();
        ok = store.Loaded();
        if (!ok)
            PrintError("cannot load the store library");
    }
};

// The first line of the header field `name` (with its name), or "".
std::string headerLine(const std::string& text, const std::string& name) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break; // the end of the header block
        if (line.size() > name.size() && line[name.size()] == ':' &&
            platform::SameTextIgnoreCase(line.substr(0, name.size()), name))
            return line;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return "";
}

bool parseId(const std::string& text, std::uint32_t& id) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    unsigned long long value = std::stoull(text);
    if (value > 0xFFFFFFFFull)
        return false;
    id = static_cast<std::uint32_t>(value);
    return true;
}

// Opens an existing folder; 0 (and says so) when there is none.
std::uint32_t openExisting(TStorvane& store, const std::string& name) {
    if (!store.FolderExists(name.c_str())) {
        if (gBoxes == 0)
            PrintError("no folder " + name);
        return 0;
    }
    return store.OpenOrCreateFolder(name.c_str());
}

int usageError(const char* text) {
    PrintError(text);
    return kExitUsage;
}

int folders(Session& s) {
    std::vector<std::string> names;
    std::string text;
    s.store.GetFolderNames(names, text);
    for (const auto& name : names)
        std::printf("%s\n", name.c_str());
    return gBoxes ? kExitError : kExitOk;
}

int list(Session& s, const std::string& name) {
    std::uint32_t folder = openExisting(s.store, name);
    if (!folder)
        return kExitError;
    std::int32_t id = -1;
    for (char* text = s.store.GetFirstMessage(folder, id); text;
         text = s.store.GetNextMessage(folder, id)) {
        std::string message = text;
        s.store.FreeMem(text);
        std::printf("%u\t%zu\t%s\t%s\n", static_cast<std::uint32_t>(id), message.size(),
                    headerLine(message, "From").c_str(), headerLine(message, "Subject").c_str());
    }
    s.store.CloseFolder(folder);
    return gBoxes ? kExitError : kExitOk;
}

int show(Session& s, const std::string& name, const std::string& idText) {
    std::uint32_t id = 0;
    if (!parseId(idText, id))
        return usageError("the message id is a number");
    std::uint32_t folder = openExisting(s.store, name);
    if (!folder)
        return kExitError;
    char* text = s.store.GetMessage(folder, id);
    int status = kExitOk;
    if (text)
        std::fwrite(text, 1, std::strlen(text), stdout);
    else {
        if (gBoxes == 0)
            PrintError("no message " + idText + " in " + name);
        status = kExitError;
    }
    s.store.FreeMem(text);
    s.store.CloseFolder(folder);
    return status;
}

int deliver(Session& s, const std::string& file, const std::string& name) {
    std::string text;
    if (file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (!platform::ReadWholeFile(file, text)) {
        PrintError("cannot read " + file);
        return kExitError;
    }
    if (text.find('\0') != std::string::npos)
        PrintError("warning: the message ends at its first zero byte");
    std::uint32_t folder = openExisting(s.store, name);
    if (!folder)
        return kExitError;
    std::uint32_t id = s.store.CreateMessage(folder, text.c_str(), 0);
    s.store.CloseFolder(folder);
    if (id == 0) {
        PrintError("the store did not take the message");
        return kExitError;
    }
    std::printf("%u\n", id);
    return kExitOk;
}

int move(Session& s, const std::string& idText, const std::string& from, const std::string& to) {
    std::uint32_t id = 0;
    if (!parseId(idText, id))
        return usageError("the message id is a number");
    std::uint32_t source = openExisting(s.store, from);
    std::uint32_t target = source ? openExisting(s.store, to) : 0;
    if (target)
        s.store.MoveMessage(source, target, id); // a refusal shows its box
    s.store.CloseFolder(source);
    s.store.CloseFolder(target);
    return target && gBoxes == 0 ? kExitOk : kExitError;
}

int mkdir(Session& s, const std::string& name) {
    if (s.store.FolderExists(name.c_str())) {
        PrintError(name + " exists already");
        return kExitError;
    }
    std::uint32_t folder = s.store.OpenOrCreateFolder(name.c_str());
    s.store.CloseFolder(folder);
    return folder && gBoxes == 0 ? kExitOk : kExitError;
}

// Interrupts end the watch through a pipe the event loop listens on.
int gStopPipe[2] = {-1, -1};

void onSignal(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gStopPipe[1], &byte, 1);
}

int watch(Session& s, const std::vector<std::string>& names) {
    int argc = 1;
    char name[] = "tarnix";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    if (::pipe(gStopPipe) != 0) {
        PrintError("cannot watch");
        return kExitError;
    }
    std::vector<std::uint32_t> folders;
    std::vector<std::unique_ptr<platform::MessageWindow>> windows;
    for (const std::string& folderName : names) {
        std::uint32_t folder = openExisting(s.store, folderName);
        if (!folder)
            break;
        folders.push_back(folder);
        windows.push_back(std::make_unique<platform::MessageWindow>(
            "TarnixStoreWatch", folderName,
            [folderName](platform::UINT message, platform::WPARAM wParam, platform::LPARAM) {
                if (message == platform::WM_NEWMSGS) {
                    std::printf("%s\t%u\n", folderName.c_str(), static_cast<unsigned>(wParam));
                    std::fflush(stdout);
                }
                return platform::LRESULT{0};
            }));
        s.store.RegisterNotification(folder, windows.back()->handle());
    }
    int status = kExitOk;
    if (folders.size() == names.size() && gBoxes == 0) {
        QSocketNotifier stop(gStopPipe[0], QSocketNotifier::Read);
        QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        app.exec();
    } else {
        status = kExitError;
    }
    for (std::size_t i = 0; i < folders.size(); ++i) {
        s.store.UnRegisterNotification(folders[i], windows[i]->handle());
        s.store.CloseFolder(folders[i]);
    }
    return status;
}

int run(const Options&, const std::vector<std::string>& args) {
    if (args.empty())
        return usageError("store: which command?");
    const std::string& command = args[0];
    std::size_t n = args.size() - 1;
    bool known = (command == "folders" && n == 0) || (command == "list" && n == 1) ||
                 (command == "show" && n == 2) || (command == "deliver" && (n == 1 || n == 2)) ||
                 (command == "move" && n == 3) || (command == "mkdir" && n == 1) ||
                 (command == "watch" && n >= 1);
    if (!known)
        return usageError(("store: wrong use of " + command).c_str());
    Session s;
    if (!s.ok)
        return kExitError;
    if (command == "folders")
        return folders(s);
    if (command == "list")
        return list(s, args[1]);
    if (command == "show")
        return show(s, args[1], args[2]);
    if (command == "deliver")
        return deliver(s, args[1], n == 2 ? args[2] : "Inbox");
    if (command == "move")
        return move(s, args[1], args[2], args[3]);
    if (command == "mkdir")
        return mkdir(s, args[1]);
    return watch(s, {args.begin() + 1, args.end()});
}

TarnixCommand gStore("store",
                     "store folders | list FOLDER | show FOLDER ID | deliver FILE [FOLDER] | "
                     "move ID FROM TO | mkdir NAME | watch FOLDER...   the mail store ($MAILDIR)",
                     run);

} // namespace
} // namespace tarnix
