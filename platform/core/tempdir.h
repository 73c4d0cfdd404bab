#pragma once
#include <string>

namespace platform {

// The system's folder for temporary files, with its trailing "/": $TMPDIR
// when it names a folder, else /tmp.
std::string TempDirectory();

} // namespace platform
