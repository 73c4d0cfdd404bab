// The engine commands of the front end, run as the built program.
#include "engine/unSpamManager.h"

#include "EngineTestSupport.h"
#include "platform/core/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using enginetest::KnowledgeFolder;
using enginetest::ReadFile;
using enginetest::WriteFile;

const std::string kData = TARNIX_TEST_DATA "/engine/";
const std::string kTarnix = TARNIX_BINARY_DIR "/bin/tarnix";

struct Result {
    int status;
    std::string out, err;
};

// Runs tarnix with the arguments (a shell word list) in the current folder.
Result tarnix(const std::string& arguments) {
    std::string command = "'" + kTarnix + "' " + arguments + " >run.out 2>run.err </dev/null";
    int raw = std::system(command.c_str());
    Result run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile("run.out"), ReadFile("run.err")};
    fs::remove("run.out");
    fs::remove("run.err");
    return run;
}

std::string message(const std::string& from, const std::string& subject, const std::string& body) {
    return "From: " + from + "\nSubject: " + subject + "\n\n" + body + "\n";
}

void copyKnowledgeTo(const std::string& folder) {
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(kData + "knowledge"))
        fs::copy_file(entry.path(), fs::path(folder) / entry.path().filename());
}

// Names and contents of the files of a folder.
std::map<std::string, std::string> filesOf(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    return files;
}

// The program's counters in the settings, which the front end never writes.
class CountersUntouched {
public:
    CountersUntouched() { RegWriteString(kSettingsKey, "scanCount", "sentinel"); }
    ~CountersUntouched() { EXPECT_EQ(RegReadString(kSettingsKey, "scanCount", ""), "sentinel"); }
};

TEST(TarnixAnalyze, PrintsTheReportBytesAndExitsWithTheVerdict) {
    KnowledgeFolder folder;
    CountersUntouched counters;
    copyKnowledgeTo("k");
    auto before = filesOf("k");
    Result spam = tarnix("-C k analyze '" + kData + "analyze-bayes.eml'");
    EXPECT_EQ(spam.status, 0);
    EXPECT_EQ(spam.out, ReadFile(kData + "analyze-bayes.report.txt"));
    EXPECT_EQ(spam.err, "");

    WriteFile("good.eml", message("friend@good.example", "lunch", "see you"));
    WriteFile("none.eml", "no separator at all");
    Result good = tarnix("-C k analyze good.eml");
    EXPECT_EQ(good.status, 1);
    EXPECT_NE(good.out.find("Final decision: It is not a spam! (based on white list)\r\n"),
              std::string::npos);
    Result empty = tarnix("-C k analyze none.eml");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out, "");
    Result missing = tarnix("-C k analyze absent.eml");
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("absent.eml"), std::string::npos);
    // Reading only: no knowledge file changed, no counter written.
    EXPECT_EQ(filesOf("k"), before);
}

TEST(TarnixClassify, PrintsOneLinePerMessageAndGoesOnAfterAFailure) {
    KnowledgeFolder folder;
    copyKnowledgeTo("k");
    WriteFile("good.eml", message("friend@good.example", "lunch", "see you"));
    WriteFile("black.eml", message("Bad <spammer@bad.example>", "hi", "x"));
    WriteFile("broken.eml", "Subject: x\n\nbegin 644 a.txt\nM~~~~\nend\n");
    Result run =
        tarnix("-C k classify good.eml broken.eml black.eml '" + kData + "analyze-bayes.eml'");
    EXPECT_EQ(run.out, "good.eml\tgood\tNot spam, based on white list\n"
                       "black.eml\tspam\tSpam, based on black list\n" +
                           kData + "analyze-bayes.eml\tspam\t0.972973 = SPAM probability\n");
    EXPECT_EQ(run.err, "tarnix: broken.eml: Oops...\n");
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(tarnix("-C k classify black.eml good.eml").status, 1);
    EXPECT_EQ(tarnix("-C k classify good.eml black.eml").status, 0);
    EXPECT_EQ(tarnix("-C k classify").status, 2);
}

TEST(TarnixLearn, TeachesFilesFoldersAndMaildirsAndWritesTheKnowledge) {
    KnowledgeFolder folder;
    CountersUntouched counters;
    fs::create_directories("k");
    fs::create_directories("plain");
    fs::create_directories("box/cur");
    fs::create_directories("box/new");
    fs::create_directories("box/tmp");
    WriteFile("plain/1", message("a@spam.example", "offer", "cheap pills"));
    WriteFile("plain/2", message("b@spam.example", "offer", "cheap watches"));
    WriteFile("plain/.hidden", message("c@spam.example", "offer", "not read"));
    WriteFile("box/cur/1:2,S", message("friend@good.example", "lunch", "see you"));
    WriteFile("box/new/2", message("boss@good.example", "plan", "meeting notes"));
    WriteFile("box/tmp/3", message("half@good.example", "x", "being delivered"));
    WriteFile("one.eml", message("d@spam.example", "deal", "buy now"));

    Result spam = tarnix("-C k learn spam plain one.eml");
    EXPECT_EQ(spam.status, 0) << spam.err;
    EXPECT_EQ(spam.err, "");
    Result good = tarnix("-C k learn good box");
    EXPECT_EQ(good.status, 0) << good.err;
    Result stats = tarnix("-C k stats");
    EXPECT_EQ(stats.out, "spam signatures: 3\ngood signatures: 2\ntokens: 17\nblack list: 3\n"
                         "white list: 2\n");
    EXPECT_EQ(ReadFile("k/blacklist.txt"),
              "a@spam.example\r\nb@spam.example\r\nd@spam.example\r\n");
    EXPECT_EQ(ReadFile("k/whitelist.txt"), "boss@good.example\r\nfriend@good.example\r\n");
    EXPECT_TRUE(fs::exists("k/tokenlist.txt.lst.txt"));

    Result bad = tarnix("-C k learn spam nowhere");
    EXPECT_EQ(bad.status, 3);
    EXPECT_EQ(bad.err, "tarnix: nowhere: no such file or folder\n");
    EXPECT_EQ(tarnix("-C k learn maybe plain").status, 2);
}

TEST(TarnixLearn, RefusesWhileAnotherProcessHoldsTheLock) {
    KnowledgeFolder folder;
    copyKnowledgeTo("k");
    auto before = filesOf("k");
    WriteFile("one.eml", message("d@spam.example", "deal", "buy now"));
    {
        platform::FileLock held(std::string("k/") + kKnowledgeLockFileName);
        ASSERT_TRUE(held.locked());
        for (const char* command : {"learn spam one.eml", "teach k k"}) {
            Result run = tarnix(std::string("-C k ") + command);
            EXPECT_EQ(run.status, 3) << command;
            EXPECT_EQ(run.err, "tarnix: the knowledge in k is being changed by another tarnix "
                               "process; nothing was done\n");
        }
        // Reading needs no lock.
        EXPECT_EQ(tarnix("-C k stats").status, 0);
    }
    before[kKnowledgeLockFileName] = "";
    EXPECT_EQ(filesOf("k"), before);
    EXPECT_EQ(tarnix("-C k learn spam one.eml").status, 0);
}

TEST(TarnixTeach, TeachesBothFoldersAndPrunesQuietlyOffATerminal) {
    KnowledgeFolder folder;
    fs::create_directories("good");
    fs::create_directories("spam");
    for (int i = 0; i < 3; ++i) {
        WriteFile(
            "good/" + std::to_string(i),
            message("friend@good.example", "notes", "meeting agenda unique" + std::to_string(i)));
        WriteFile("spam/" + std::to_string(i),
                  message("x@spam.example", "offer", "cheap pills once" + std::to_string(i)));
    }
    WriteFile("spam/broken", "Subject: x\n\nbegin 644 a.txt\nM~~~~\nend\n");
    fs::create_directories("k");
    Result run = tarnix("-C k teach good spam");
    EXPECT_EQ(run.status, 3); // one message could not be parsed
    EXPECT_EQ(run.err, "tarnix: spam/broken: Oops...\n");
    // Tokens of a single message ("unique0", "once1", ...) are pruned; the
    // shared ones stay.
    TSortedTextList black, white;
    TMemoryCounters counters;
    fs::current_path("k");
    TSpamManager manager(counters, black, white);
    manager.Init();
    fs::current_path("..");
    EXPECT_EQ(manager.SpamSignatureCount(), 3);
    EXPECT_EQ(manager.GoodSignatureCount(), 3);
    std::lock_guard lock(manager.Lock());
    EXPECT_TRUE(manager.Bayes().FindToken("agenda").Found);
    EXPECT_TRUE(manager.Bayes().FindToken("From*spam.example").Found);
    EXPECT_FALSE(manager.Bayes().FindToken("unique0").Found);
    EXPECT_EQ(manager.Bayes().Token(manager.Bayes().FindToken("cheap").Index).SpamCount, 3);
}

} // namespace
