// Every message of the shared corpus of real spam and good mail parses, the
// way the spam manager parses it, with no error but "Oops..." and no crash.
#include "message/QebMsg.h"
#include "message/TextLines.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

TEST(Corpus, EveryMessageParses) {
    const fs::path corpus = TARNIX_CORPUS_DIR;
    if (!fs::is_directory(corpus / "ham") && !fs::is_directory(corpus / "spam"))
        GTEST_SKIP() << "no corpus at " << corpus;
    int messages = 0, oops = 0;
    for (const char* folder : {"ham", "spam"}) {
        if (!fs::is_directory(corpus / folder))
            continue;
        for (const auto& entry : fs::directory_iterator(corpus / folder)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            ASSERT_TRUE(in) << entry.path();
            TQebMsg message;
            try {
                message.ParseRawMail(SplitLines(bytes.str()));
            } catch (const std::runtime_error& error) {
                ASSERT_STREQ(error.what(), "Oops...") << entry.path();
                ++oops;
            }
            ++messages;
        }
    }
    EXPECT_GT(messages, 0);
    RecordProperty("messages", messages);
    RecordProperty("oops", oops);
    std::printf("%d messages, %d raised \"Oops...\"\n", messages, oops);
}

} // namespace
