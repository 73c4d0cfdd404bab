#include "platform/win/toolbar.h"

#include "platform/core/atomicfile.h"
#include "platform/core/registry.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Each test gets an empty registry folder and an empty call log of its own.
class Toolbar : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarnix-toolbar-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("TARNIX_REGISTRY_DIR", dir_.c_str(), 1);
        log_ = (dir_ / "calls.log").string();
        setenv("TARNIX_WEXHOLD_LOG", log_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TARNIX_WEXHOLD_LOG");
        fs::remove_all(dir_);
    }
    std::string calls() const {
        std::string text;
        platform::ReadWholeFile(log_, text);
        return text;
    }
    static bool isLoaded(const char* path) {
        void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        if (handle)
            ::dlclose(handle);
        return handle != nullptr;
    }
    static std::string read(const std::string& name) {
        return RegReadString(platform::kProgramKey, name, "<missing>");
    }

    fs::path dir_;
    std::string log_;
};

struct Value {
    const char* name;
    const char* text;
};

// What the add-in reads: captions, and commands as decimal message numbers.
constexpr Value kWritten[] = {
    {"exedir", "/opt/tarnix/"},     {"button1Caption", "Spam"},  {"button1Command", "41472"},
    {"button2Caption", "Not spam"}, {"button2Command", "41473"}, {"button3Caption", "Folder scan"},
    {"button3Command", "41475"},    {"button4Caption", "Teach"}, {"button4Command", "41474"},
    {"button5Caption", "Settings"}, {"button5Command", "41476"}, {"button6Caption", "VANTOR"},
    {"button6Command", "41471"},
};

TEST_F(Toolbar, WritesExeDirAndTheSixButtons) {
    platform::WriteToolbarSettings("/opt/tarnix/");
    for (const Value& value : kWritten)
        EXPECT_EQ(read(value.name), value.text) << value.name;
}

TEST_F(Toolbar, OverwritesButtonsButLeavesTheCountAndTheApiTextAlone) {
    RegWriteString(platform::kProgramKey, "button1Caption", "Old");
    RegWriteString(platform::kProgramKey, "button6Command", "1");
    RegWriteString(platform::kProgramKey, "exedir", "/old/");
    RegWriteString(platform::kProgramKey, "buttons", "6");
    RegWriteString(platform::kProgramKey, "button7Caption", "Post it");
    platform::WriteToolbarSettings("/opt/tarnix/");
    EXPECT_EQ(read("button1Caption"), "Spam");
    EXPECT_EQ(read("button6Command"), "41471");
    EXPECT_EQ(read("exedir"), "/opt/tarnix/");
    EXPECT_EQ(read("buttons"), "6");
    EXPECT_EQ(read("button7Caption"), "Post it");
}

TEST_F(Toolbar, DefaultExeDirIsTheProgramFolder) {
    platform::WriteToolbarSettings();
    std::string exeDir = read("exedir");
    EXPECT_EQ(exeDir, platform::ProgramDirectory());
    ASSERT_FALSE(exeDir.empty());
    EXPECT_EQ(exeDir.back(), '/');
    EXPECT_TRUE(fs::exists(fs::path(exeDir) / "test_toolbar"));
}

TEST_F(Toolbar, HookLibraryIsToldAtStartAndStopThenUnloaded) {
    ASSERT_FALSE(isLoaded(WEXHOLD_RECORDER));
    {
        platform::HookLibrary hook(WEXHOLD_RECORDER);
        EXPECT_TRUE(hook.Start(0x1234));
        EXPECT_TRUE(hook.IsStarted());
        EXPECT_TRUE(isLoaded(WEXHOLD_RECORDER));
        EXPECT_EQ(calls(), "1 4660\n");
        EXPECT_FALSE(hook.Start(0x5678)) << "a second start must not tell the add-in again";
        hook.Stop();
        EXPECT_FALSE(hook.IsStarted());
        EXPECT_EQ(calls(), "1 4660\n0 0\n");
        EXPECT_FALSE(isLoaded(WEXHOLD_RECORDER));
        hook.Stop(); // nothing more
    }
    EXPECT_EQ(calls(), "1 4660\n0 0\n");
}

TEST_F(Toolbar, HookLibraryStillStartedIsStoppedWithItsOwner) {
    {
        platform::HookLibrary hook(WEXHOLD_RECORDER);
        ASSERT_TRUE(hook.Start(7));
    }
    EXPECT_EQ(calls(), "1 7\n0 0\n");
    EXPECT_FALSE(isLoaded(WEXHOLD_RECORDER));
}

TEST_F(Toolbar, MissingLibraryOrExportDoesNothing) {
    const std::string missing = (dir_ / "libwexhold.so").string();
    for (const std::string& name : {missing, std::string(WEXHOLD_NOEXPORT)}) {
        SCOPED_TRACE(name);
        platform::HookLibrary hook(name);
        EXPECT_FALSE(hook.Start(7));
        EXPECT_FALSE(hook.IsStarted());
        hook.Stop();
        EXPECT_FALSE(isLoaded(name.c_str()));
    }
    EXPECT_EQ(calls(), "");
}

TEST_F(Toolbar, DefaultHookLibraryIsFoundByBareNameInTheCurrentFolder) {
    const fs::path copy = dir_ / platform::kHookLibrary;
    fs::copy_file(WEXHOLD_RECORDER, copy);
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    {
        platform::HookLibrary hook;
        EXPECT_TRUE(hook.Start(9));
        hook.Stop();
    }
    fs::current_path(before);
    EXPECT_EQ(calls(), "1 9\n0 0\n");
    EXPECT_FALSE(isLoaded(copy.c_str()));
}

} // namespace
