#include "dynlib.h"

#include <climits>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace platform {
namespace {

std::mutex gModulesLock;
std::unordered_map<HMODULE, void*> gModules;
HMODULE gNextModule = 1;

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void* open(const std::string& path) {
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* openByName(const std::string& fileName) {
    if (fileName.find('/') != std::string::npos)
        return open(fileName);
    if (std::string beside = ProgramDirectory() + fileName; isFile(beside))
        if (void* handle = open(beside))
            return handle;
    if (void* handle = open(fileName))
        return handle;
    if (isFile(fileName))
        return open("./" + fileName);
    return nullptr;
}

} // namespace

HMODULE LoadLibrary(const std::string& fileName) {
    if (fileName.empty())
        return 0;
    void* handle = openByName(fileName);
    if (!handle)
        return 0;
    std::lock_guard lock(gModulesLock);
    HMODULE id = gNextModule++;
    if (gNextModule == 0 || gNextModule > INT32_MAX)
        gNextModule = 1;
    gModules[id] = handle;
    return id;
}

void* GetProcAddress(HMODULE module, const std::string& symbol) {
    std::lock_guard lock(gModulesLock);
    auto found = gModules.find(module);
    return found == gModules.end() ? nullptr : ::dlsym(found->second, symbol.c_str());
}

bool FreeLibrary(HMODULE module) {
    void* handle = nullptr;
    {
        std::lock_guard lock(gModulesLock);
        auto found = gModules.find(module);
        if (found == gModules.end())
            return false;
        handle = found->second;
        gModules.erase(found);
    }
    return ::dlclose(handle) == 0;
}

std::string ProgramDirectory() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "./";
    std::string program(path, static_cast<std::size_t>(n));
    return program.substr(0, program.find_last_of('/') + 1);
}

} // namespace platform
