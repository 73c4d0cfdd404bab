#include "version.h"

#include "collation.h"
#include "version_config.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string_view>
#include <vector>

namespace {

// What a version resource holds: its translations (language, code page) and
// one string table per translation, addressed by the same paths the system's
// query function takes.
struct VersionResource {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;
    std::map<std::string, std::string> strings; // "\StringFileInfo\040E04E2\FileVersion" -> value
};

const VersionResource* resourceOf(std::string_view fileName) {
    static const VersionResource program = [] {
        VersionResource r;
        r.translations.emplace_back(0x040E, 0x04E2);
        const std::string table = "\\StringFileInfo\\040E04E2\\";
        r.strings[table + "CompanyName"] = "Vantor";
        r.strings[table + "FileDescription"] = "TARNIX spam filter";
        r.strings[table + "FileVersion"] = TARNIX_FILE_VERSION;
        r.strings[table + "InternalName"] = "filtrum";
        r.strings[table + "OriginalFilename"] = "filtrum.exe";
        r.strings[table + "ProductName"] = "TARNIX";
        r.strings[table + "ProductVersion"] = TARNIX_FILE_VERSION;
        return r;
    }();
    auto slash = fileName.find_last_of("/\\");
    if (slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    if (platform::SameTextIgnoreCase(fileName, "filtrum") ||
        platform::SameTextIgnoreCase(fileName, "filtrum.exe"))
        return &program;
    return nullptr;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

} // namespace

std::string GetFileVersionString(const std::string& fileName, const std::string& key) {
    const VersionResource* resource = resourceOf(fileName);
    if (!resource || resource->translations.empty())
        return "";
    auto [language, codePage] = resource->translations.front();
    auto path = "\\StringFileInfo\\" + hex4(language) + hex4(codePage) + "\\" + key;
    auto found = resource->strings.find(path);
    return found == resource->strings.end() ? "" : found->second;
}
