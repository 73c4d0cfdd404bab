#pragma once
// Extension to MIME type, from the system's table /etc/mime.types (the
// variable TARNIX_MIME_TYPES names another table, for tests). The table is
// read once, on first use.
#include <string>
#include <string_view>

namespace platform {

// The MIME type registered for an extension given with its dot (".html");
// letter case of the extension is ignored. "" when none is registered.
std::string MimeTypeOfExtension(std::string_view extensionWithDot);

} // namespace platform
