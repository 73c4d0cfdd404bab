#pragma once
// Dynamic libraries by file name, in place of the system's module functions.
// Module handles are 32-bit ids (0 = none) kept in a process-wide table, so a
// stale or made-up handle is refused instead of being dereferenced.
#include <cstdint>
#include <string>

namespace platform {

using HMODULE = std::uint32_t;

// Loads a library. A name with a "/" is opened as given; a bare name is looked
// for beside the program file, then by the loader's usual search (rpath,
// LD_LIBRARY_PATH, the system folders), then in the current folder. Answers 0
// when it cannot be loaded.
HMODULE LoadLibrary(const std::string& fileName);
// The address of an exported symbol, or nullptr (also for a stale handle).
void* GetProcAddress(HMODULE module, const std::string& symbol);
// Unloads a library; false for a handle that is not loaded.
bool FreeLibrary(HMODULE module);

// The folder of the running program file, with a trailing "/".
std::string ProgramDirectory();

} // namespace platform
