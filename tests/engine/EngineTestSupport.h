#pragma once
// Helpers shared by the engine tests: a private knowledge folder to run in,
// a file writer that fails on demand, and a recorder of message boxes.
#include "engine/KnowledgeFile.h"
#include "message/QebAttFile.h"
#include "message/QebMsg.h"
#include "message/TextLines.h"
#include "platform/core/atomicfile.h"
#include "platform/core/hooks.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace enginetest {

// The body lines of a message done the plain way, for comparing with the
// manager's faster assembly: join the parser's text lines, add the
// attachment names and the HTML texts, and split the whole again.
inline std::vector<std::string> ReferenceBodyLines(const std::string& raw) {
    TQebMsg parser;
    parser.ParseRawMail(SplitLines(raw));
    std::string body = JoinLines(parser.Text);
    if (body.empty())
        body = "_EMPTY_BODY ";
    for (int i = 0; i < parser.AttachedFiles.Count(); ++i) {
        TAttachedFile& file = parser.AttachedFiles.Items(i);
        body += " " + file.FileName;
        std::string type = file.ContentType;
        for (char& c : type)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (type.find("html") != std::string::npos)
            body += " " + JoinLines(SplitLines(file.ContentStream().Data));
    }
    return SplitLines(body);
}

// The test environment is meant to point the settings store into the build
// tree; where it does not, the engine tests do it themselves (one folder per
// test program), so that no test writes the user's own settings.
inline const bool kSettingsIsolated = [] {
    if (std::getenv("TARNIX_REGISTRY_DIR"))
        return true;
    std::string program = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    std::string folder = std::string(TARNIX_BINARY_DIR) + "/test-home/" + program + "/registry";
    std::filesystem::create_directories(folder);
    ::setenv("TARNIX_REGISTRY_DIR", folder.c_str(), 1);
    return true;
}();

// A fresh folder that is the current folder for the lifetime of the object
// (the stores address their files relative to it).
class KnowledgeFolder {
public:
    KnowledgeFolder() {
        previous_ = std::filesystem::current_path();
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarnix-engine-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        std::filesystem::current_path(path_);
    }
    ~KnowledgeFolder() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& name) {
    std::string data;
    if (!platform::ReadWholeFile(name, data))
        ADD_FAILURE() << "cannot read " << name;
    return data;
}

inline void WriteFile(const std::string& name, const std::string& data) {
    ASSERT_TRUE(platform::WriteFileAtomically(name, data)) << name;
}

// Writes through the real writer unless the file's name is marked failing;
// counts the writes of every file.
class FakeWriter {
public:
    TFileWriter writer() {
        return [this](const std::string& name, std::string_view data) {
            std::lock_guard lock(mutex_);
            ++writes_[name];
            if (failing_.contains(name))
                return false;
            return platform::WriteFileAtomically(name, data);
        };
    }
    void fail(const std::string& name) {
        std::lock_guard lock(mutex_);
        failing_.insert(name);
    }
    void heal() {
        std::lock_guard lock(mutex_);
        failing_.clear();
    }
    int writes(const std::string& name) {
        std::lock_guard lock(mutex_);
        return writes_[name];
    }

private:
    std::mutex mutex_;
    std::set<std::string> failing_;
    std::map<std::string, int> writes_;
};

// Records the message boxes shown while it exists.
class MessageBoxRecorder {
public:
    MessageBoxRecorder() {
        platform::SetMessageBoxHook(
            [this](const std::string& text, const std::string& caption, unsigned) {
                std::lock_guard lock(mutex_);
                texts_.push_back(text);
                captions_.push_back(caption);
                return platform::IDOK;
            });
    }
    ~MessageBoxRecorder() { platform::SetMessageBoxHook({}); }
    std::vector<std::string> texts() {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    std::vector<std::string> captions() {
        std::lock_guard lock(mutex_);
        return captions_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
    std::vector<std::string> captions_;
};

} // namespace enginetest
