#pragma once
// Version resources. The program's own resource is compiled in: one
// translation (language 040E, code page 04E2) whose string table holds
// "FileVersion" and a few other entries.
#include <string>

// The string `key` of the version resource of `fileName`, or "" when the file
// has no version resource or the resource lacks the key. The program file is
// named "filtrum" ("filtrum.exe" is accepted for it too); a folder part of the
// name is ignored.
std::string GetFileVersionString(const std::string& fileName, const std::string& key);
