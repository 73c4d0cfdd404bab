#include "filetypes.h"

#include "collation.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace platform {
namespace {

using TypeTable = std::map<std::string, std::string, LessIgnoreCase>;

// mime.types: "type/subtype ext1 ext2 ...", "#" starts a comment. The first
// line that names an extension wins.
TypeTable loadTable() {
    TypeTable table;
    const char* path = std::getenv("TARNIX_MIME_TYPES");
    std::ifstream in(path && *path ? path : "/etc/mime.types");
    std::string line;
    while (std::getline(in, line)) {
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string type, extension;
        if (!(words >> type) || type.find('/') == std::string::npos)
            continue;
        while (words >> extension)
            table.emplace("." + extension, type);
    }
    return table;
}

} // namespace

std::string MimeTypeOfExtension(std::string_view extensionWithDot) {
    static const TypeTable table = loadTable();
    if (extensionWithDot.size() < 2 || extensionWithDot.front() != '.')
        return "";
    auto found = table.find(extensionWithDot);
    return found == table.end() ? "" : found->second;
}

} // namespace platform
