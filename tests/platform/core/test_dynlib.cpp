#include "platform/core/dynlib.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(DynamicLibraries, LoadsBySearchAndResolvesByName) {
    platform::HMODULE libm = platform::LoadLibrary("libm.so.6");
    ASSERT_NE(libm, 0u);
    using CosFunction = double (*)(double);
    auto cosine = reinterpret_cast<CosFunction>(platform::GetProcAddress(libm, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(platform::GetProcAddress(libm, "NoSuchExport"), nullptr);
    EXPECT_TRUE(platform::FreeLibrary(libm));
    // The handle is stale now: refused, not dereferenced.
    EXPECT_EQ(platform::GetProcAddress(libm, "cos"), nullptr);
    EXPECT_FALSE(platform::FreeLibrary(libm));
}

TEST(DynamicLibraries, AMissingLibraryGivesNoHandle) {
    EXPECT_EQ(platform::LoadLibrary("libnosuchlibrary-tarnix.so"), 0u);
    EXPECT_EQ(platform::LoadLibrary("/nonexistent/libx.so"), 0u);
    EXPECT_EQ(platform::LoadLibrary(""), 0u);
    EXPECT_EQ(platform::GetProcAddress(0, "cos"), nullptr);
    EXPECT_EQ(platform::GetProcAddress(12345, "cos"), nullptr);
}

TEST(DynamicLibraries, ProgramDirectoryEndsWithASlash) {
    std::string dir = platform::ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.front(), '/');
}

} // namespace
