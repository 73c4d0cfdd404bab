#include "platform/core/version.h"

#include <gtest/gtest.h>

namespace {

struct VersionCase {
    const char* file;
    const char* key;
    const char* expected;
};

TEST(GetFileVersionString, AnswersFromTheProgramsResource) {
    const VersionCase cases[] = {
        {"filtrum.exe", "FileVersion", "2.3.0.234"},
        {"filtrum", "FileVersion", "2.3.0.234"},
        {"/opt/tarnix/bin/filtrum", "FileVersion", "2.3.0.234"},
        {"FILTRUM.EXE", "FileVersion", "2.3.0.234"},
        {"filtrum.exe", "NoSuchKey", ""}, // a key the resource lacks
        {"other.exe", "FileVersion", ""}, // a file the resource does not belong to
        {"filtrum.exe.bak", "FileVersion", ""},
        {"", "FileVersion", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetFileVersionString(c.file, c.key), c.expected) << c.file << " " << c.key;
}

} // namespace
