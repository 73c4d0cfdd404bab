#include "tempdir.h"

#include <cstdlib>
#include <sys/stat.h>

namespace platform {

std::string TempDirectory() {
    std::string folder = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env && *env) {
        struct stat info {};
        if (::stat(env, &info) == 0 && S_ISDIR(info.st_mode))
            folder = env;
    }
    if (folder.back() != '/')
        folder.push_back('/');
    return folder;
}

} // namespace platform
