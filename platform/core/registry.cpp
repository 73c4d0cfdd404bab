#include "registry.h"

#include "atomicfile.h"
#include "collation.h"

#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace platform {
namespace {

constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";

struct KeyLocation {
    std::string file;
    std::string key; // components joined by "\", no empty components
};

std::string normalizeKey(std::string_view rest) {
    std::string key;
    std::size_t start = 0;
    while (start <= rest.size()) {
        auto end = rest.find('\\', start);
        if (end == std::string_view::npos)
            end = rest.size();
        if (end > start) {
            if (!key.empty())
                key.push_back('\\');
            key.append(rest.substr(start, end - start));
        }
        start = end + 1;
    }
    return key;
}

std::optional<KeyLocation> locate(std::string path) {
    if (!path.empty() && path.front() == '\\')
        path.erase(0, 1);
    if (path.find("HKEY_") == std::string::npos)
        path.insert(0, std::string(kLocalMachine) + "\\");
    std::string_view root;
    std::size_t at = path.find(kLocalMachine);
    if (at != std::string::npos) {
        root = kLocalMachine;
    } else if ((at = path.find(kCurrentUser)) != std::string::npos) {
        root = kCurrentUser;
    } else {
        return std::nullopt; // other roots are not supported
    }
    std::string_view rest(path);
    rest.remove_prefix(std::min(rest.size(), at + root.size()));
    if (!rest.empty() && rest.front() == '\\')
        rest.remove_prefix(1);
    return KeyLocation{RegistryFileOf(std::string(root)), normalizeKey(rest)};
}

// --- The INI text -------------------------------------------------------------
// "[key path]" lines open a section; "name=value" lines hold values. In names
// the characters \ = [ ; # and line breaks are escaped with a backslash (so a
// name never looks like a section, a comment or holds an "="); in values only
// backslash and line breaks are. Key paths cannot hold line breaks or "]".

struct Entry {
    std::string name;
    std::string value;
};
struct Section {
    std::string key;
    std::vector<Entry> entries;
};
using Ini = std::vector<Section>;

std::string escape(std::string_view text, bool isName) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '=':
        case '[':
        case ';':
        case '#':
            if (isName)
                out.push_back('\\');
            out.push_back(c);
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out.push_back(c);
            continue;
        }
        char next = text[++i];
        out.push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : next);
    }
    return out;
}

// Position of the first "=" that is not escaped.
std::size_t findSeparator(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\')
            ++i;
        else if (line[i] == '=')
            return i;
    }
    return std::string_view::npos;
}

Ini parse(std::string_view text) {
    Ini ini;
    Section* current = nullptr;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            auto close = line.rfind(']');
            if (close == std::string_view::npos)
                continue;
            ini.push_back({std::string(line.substr(1, close - 1)), {}});
            current = &ini.back();
            continue;
        }
        auto eq = findSeparator(line);
        if (eq == std::string_view::npos || !current)
            continue;
        current->entries.push_back({unescape(line.substr(0, eq)), unescape(line.substr(eq + 1))});
    }
    return ini;
}

std::string serialize(const Ini& ini) {
    std::string out;
    for (const auto& section : ini) {
        if (!out.empty())
            out.push_back('\n');
        out += "[" + section.key + "]\n";
        for (const auto& entry : section.entries)
            out += escape(entry.name, true) + "=" + escape(entry.value, false) + "\n";
    }
    return out;
}

Section* findSection(Ini& ini, std::string_view key) {
    for (auto& section : ini)
        if (SameTextIgnoreCase(section.key, key))
            return &section;
    return nullptr;
}

} // namespace

std::string RegistryFileOf(const std::string& rootName) {
    if (const char* dir = std::getenv("TARNIX_REGISTRY_DIR"); dir && *dir)
        return std::string(dir) + "/" + rootName + ".ini";
    if (rootName == kLocalMachine)
        return "/etc/xdg/tarnix/" + rootName + ".ini";
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = std::string(home) + "/.config";
    else
        config = ".";
    return config + "/tarnix/" + rootName + ".ini";
}

} // namespace platform

std::string RegReadString(const std::string& path, const std::string& name,
                          const std::string& defaultValue) {
    auto where = platform::locate(path);
    if (!where)
        return defaultValue;
    std::string text;
    if (!platform::ReadWholeFile(where->file, text))
        return defaultValue;
    auto ini = platform::parse(text);
    const auto* section = platform::findSection(ini, where->key);
    if (!section)
        return defaultValue;
    for (const auto& entry : section->entries)
        if (platform::SameTextIgnoreCase(entry.name, name))
            return entry.value.empty() ? defaultValue : entry.value;
    return defaultValue;
}

void RegWriteString(const std::string& path, const std::string& name, const std::string& value) {
    auto where = platform::locate(path);
    if (!where || where->key.find_first_of("]\r\n") != std::string::npos)
        return;
    if (!platform::MakeDirectories(platform::FolderOf(where->file)))
        return;
    // Read, change and replace under the lock so that writers in other
    // processes never overwrite each other's values.
    platform::FileLock lock(where->file + ".lock");
    if (!lock.locked())
        return;
    std::string text;
    platform::ReadWholeFile(where->file, text);
    auto ini = platform::parse(text);
    auto* section = platform::findSection(ini, where->key);
    if (!section) {
        ini.push_back({where->key, {}});
        section = &ini.back();
    }
    bool replaced = false;
    for (auto& entry : section->entries) {
        if (platform::SameTextIgnoreCase(entry.name, name)) {
            entry.value = value;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        section->entries.push_back({name, value});
    platform::WriteFileAtomically(where->file, platform::serialize(ini));
}
