#include "platform/core/atomicfile.h"
#include "platform/core/filetypes.h"
#include "platform/core/tempdir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tarnix-files-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(Files, AnAtomicWriteReplacesTheWholeFile) {
    std::string path = (dir_ / "knowledge.txt").string();
    ASSERT_TRUE(platform::WriteFileAtomically(path, "old contents\r\n"));
    ::chmod(path.c_str(), 0640);
    std::string bytes("new\0contents", 12);
    ASSERT_TRUE(platform::WriteFileAtomically(path, bytes));
    std::string read;
    ASSERT_TRUE(platform::ReadWholeFile(path, read));
    EXPECT_EQ(read, bytes);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u); // the replaced file's permissions stay
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Files, AFailedWriteLeavesTheOldFileWhole) {
    std::string path = (dir_ / "knowledge.txt").string();
    ASSERT_TRUE(platform::WriteFileAtomically(path, "old contents"));
    // A full disk, simulated by a file size limit the write runs into.
    std::string limited = (dir_ / "limited.txt").string();
    ASSERT_TRUE(platform::WriteFileAtomically(limited, "old contents"));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            4096, 4096
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        bool ok = platform::WriteFileAtomically(limited, std::string(100000, 'x'), &error);
        ::_exit(!ok && error.find("limited.txt") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string read;
    ASSERT_TRUE(platform::ReadWholeFile(limited, read));
    EXPECT_EQ(read, "old contents");
    // A folder in the way of the rename.
    fs::create_directories(dir_ / "blocked");
    fs::create_directories(dir_ / "blocked" / "inside");
    EXPECT_FALSE(platform::WriteFileAtomically((dir_ / "blocked").string(), "x"));
    EXPECT_TRUE(fs::is_directory(dir_ / "blocked" / "inside"));
    // No temporary file is left behind by either failure.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(Files, AWriteIntoAMissingFolderFails) {
    EXPECT_FALSE(platform::WriteFileAtomically((dir_ / "no" / "file").string(), "x"));
    std::string read;
    EXPECT_FALSE(platform::ReadWholeFile((dir_ / "no" / "file").string(), read));
    EXPECT_TRUE(platform::MakeDirectories((dir_ / "no" / "such").string()));
    EXPECT_TRUE(fs::is_directory(dir_ / "no" / "such"));
}

TEST_F(Files, ALockIsExclusiveUntilReleased) {
    std::string lockPath = (dir_ / "tarnix.lock").string();
    {
        platform::FileLock first(lockPath, platform::FileLock::Mode::Try);
        ASSERT_TRUE(first.locked());
        platform::FileLock second(lockPath, platform::FileLock::Mode::Try);
        EXPECT_FALSE(second.locked());
    }
    platform::FileLock third(lockPath, platform::FileLock::Mode::Try);
    EXPECT_TRUE(third.locked());
}

struct TypeCase {
    const char* extension;
    const char* expected;
};

TEST(MimeTypeOfExtension, ReadsTheSystemTable) {
    if (!fs::exists("/etc/mime.types"))
        GTEST_SKIP() << "no /etc/mime.types";
    const TypeCase cases[] = {
        {".html", "text/html"},
        {".HTML", "text/html"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".pdf", "application/pdf"},
        {".nosuchextension", ""},
        {"", ""},
        {".", ""},
        {"html", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::MimeTypeOfExtension(c.extension), c.expected) << c.extension;
}

TEST(TempDirectory, EndsWithASlash) {
    setenv("TMPDIR", "/nonexistent-folder", 1);
    EXPECT_EQ(platform::TempDirectory(), "/tmp/");
    std::string here = fs::current_path().string();
    setenv("TMPDIR", here.c_str(), 1);
    EXPECT_EQ(platform::TempDirectory(), here + "/");
    unsetenv("TMPDIR");
    EXPECT_EQ(platform::TempDirectory(), "/tmp/");
}

} // namespace
