#include "platform/core/atomicfile.h"
#include "platform/core/registry.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kProgramKey = "HKEY_CURRENT_USER\\Software\\Vantor\\Filtrum";

// Each test gets an empty registry folder of its own.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarnix-registry-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("TARNIX_REGISTRY_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    std::string fileText(const std::string& root) {
        std::string text;
        platform::ReadWholeFile((dir_ / (root + ".ini")).string(), text);
        return text;
    }
    fs::path dir_;
};

TEST_F(Registry, AFreshAccountReadsTheDefault) {
    EXPECT_EQ(RegReadString(kProgramKey, "buttons", ""), "");
    EXPECT_EQ(RegReadString(kProgramKey, "installDate", "2026-12-11"), "2026-12-11");
    EXPECT_FALSE(fs::exists(dir_ / "HKEY_CURRENT_USER.ini")); // reading creates nothing
}

TEST_F(Registry, AWriteCreatesTheKeyAndIsReadBack) {
    RegWriteString(kProgramKey, "buttons", "5");
    EXPECT_EQ(RegReadString(kProgramKey, "buttons", ""), "5");
    RegWriteString(kProgramKey, "buttons", "6");
    EXPECT_EQ(RegReadString(kProgramKey, "buttons", ""), "6");
    EXPECT_EQ(RegReadString(kProgramKey, "scanCount", "0"), "0");
}

TEST_F(Registry, AnEmptyValueReadsAsMissing) {
    RegWriteString(kProgramKey, "memberid", "");
    EXPECT_EQ(RegReadString(kProgramKey, "memberid", "FRESH"), "FRESH");
}

struct PathCase {
    const char* writtenAs;
    const char* readAs;
    const char* root; // the file that must hold the value
};

TEST_F(Registry, PathsNameTheirRoot) {
    const PathCase cases[] = {
        // No root name: the local machine.
        {"Software\\Test", "HKEY_LOCAL_MACHINE\\Software\\Test", "HKEY_LOCAL_MACHINE"},
        // A leading backslash is dropped.
        {"\\HKEY_CURRENT_USER\\Software\\Lead", "HKEY_CURRENT_USER\\Software\\Lead",
         "HKEY_CURRENT_USER"},
        // Key and value names ignore letter case, as the registry does.
        {"HKEY_CURRENT_USER\\Software\\Vantor\\Case", "HKEY_CURRENT_USER\\SOFTWARE\\vantor\\CASE",
         "HKEY_CURRENT_USER"},
        // Doubled and trailing separators name the same key.
        {"HKEY_CURRENT_USER\\Software\\\\Sep\\", "HKEY_CURRENT_USER\\Software\\Sep",
         "HKEY_CURRENT_USER"},
    };
    for (const auto& c : cases) {
        RegWriteString(c.writtenAs, "Value", c.writtenAs);
        EXPECT_EQ(RegReadString(c.readAs, "VALUE", "missing"), c.writtenAs) << c.writtenAs;
        EXPECT_NE(fileText(c.root).find("Value="), std::string::npos) << c.writtenAs;
    }
    // The two roots are separate stores.
    EXPECT_EQ(RegReadString("HKEY_CURRENT_USER\\Software\\Test", "Value", "missing"), "missing");
}

TEST_F(Registry, AnUnknownRootIsNeitherReadNorWritten) {
    RegWriteString("HKEY_CLASSES_ROOT\\.html", "Content Type", "text/html");
    EXPECT_EQ(RegReadString("HKEY_CLASSES_ROOT\\.html", "Content Type", "none"), "none");
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(Registry, AnyTextRoundTrips) {
    const std::string values[] = {
        "a=b",
        "line one\r\nline two",
        "back\\slash\\",
        "[section]",
        "; not a comment",
        "  leading and trailing  ",
        std::string("\xE9\xFC\x80 8-bit", 10),
    };
    int n = 0;
    for (const auto& value : values) {
        std::string name = "name" + std::to_string(n++) + value; // names may hold them too
        RegWriteString(kProgramKey, name, value);
        EXPECT_EQ(RegReadString(kProgramKey, name, "missing"), value) << value;
    }
    EXPECT_EQ(RegReadString(kProgramKey, "name0a=b", ""), "a=b");
}

TEST_F(Registry, AStoreThatCannotBeWrittenIsLeftSilently) {
    // A folder where the machine's file should be: no privilege can write it.
    fs::create_directories(dir_ / "HKEY_LOCAL_MACHINE.ini");
    RegWriteString("Software\\Test", "value", "x");
    EXPECT_EQ(RegReadString("Software\\Test", "value", "unwritten"), "unwritten");
    EXPECT_TRUE(fs::is_directory(dir_ / "HKEY_LOCAL_MACHINE.ini"));
}

TEST_F(Registry, WritersInOtherProcessesKeepEachOthersValues) {
    constexpr int kWriters = 6;
    constexpr int kValuesEach = 25;
    pid_t children[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        children[w] = ::fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            for (int v = 0; v < kValuesEach; ++v)
                RegWriteString(kProgramKey, "w" + std::to_string(w) + "v" + std::to_string(v),
                               std::to_string(w * 1000 + v));
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w)
        for (int v = 0; v < kValuesEach; ++v)
            EXPECT_EQ(RegReadString(kProgramKey, "w" + std::to_string(w) + "v" + std::to_string(v),
                                    "lost"),
                      std::to_string(w * 1000 + v));
}

TEST(RegistryLocation, FollowsTheConfigFolders) {
    unsetenv("TARNIX_REGISTRY_DIR");
    setenv("XDG_CONFIG_HOME", "/home/someone/.cfg", 1);
    EXPECT_EQ(platform::RegistryFileOf("HKEY_CURRENT_USER"),
              "/home/someone/.cfg/tarnix/HKEY_CURRENT_USER.ini");
    EXPECT_EQ(platform::RegistryFileOf("HKEY_LOCAL_MACHINE"),
              "/etc/xdg/tarnix/HKEY_LOCAL_MACHINE.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(platform::RegistryFileOf("HKEY_CURRENT_USER"),
              "/home/someone/.config/tarnix/HKEY_CURRENT_USER.ini");
}

} // namespace
