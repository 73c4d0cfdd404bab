// "tarnix parse" on small real-shaped messages, checked byte for byte
// against golden outputs, and its exit statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kData = TARNIX_TEST_DATA;
const fs::path kGolden = kData / "message" / "golden";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs the built front end with the tests' MIME type table; `arguments` are
// put into the shell command as they stand.
Result RunTarnix(const std::string& arguments) {
    const fs::path dir = fs::path(TARNIX_BINARY_DIR) / "test-home" / "test_tarnix_parse";
    fs::create_directories(dir);
    const fs::path out = dir / ("out." + std::to_string(::getpid()));
    const fs::path err = dir / ("err." + std::to_string(::getpid()));
    const std::string command = "TARNIX_MIME_TYPES='" +
                                (kData / "message" / "mime.types").string() +
                                "' '" TARNIX_BINARY_DIR "/bin/tarnix' " + arguments + " >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    fs::remove(out);
    fs::remove(err);
    return result;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

class GoldenParse : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenParse, PrintsTheGoldenOutput) {
    const std::string name = GetParam();
    const fs::path source = name == "sample" ? kData / "sample.eml" : kGolden / (name + ".eml");
    const Result result = RunTarnix("parse " + Quoted(source));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, ReadFile(kGolden / (name + ".out")));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoldenParse,
                         ::testing::Values("sample", "alternative", "nested", "rfc822", "uuencode",
                                           "encoded-subject", "html-only"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST(TarnixParse, ReadsStandardInput) {
    const Result result = RunTarnix("parse - <" + Quoted(kGolden / "nested.eml"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, ReadFile(kGolden / "nested.out"));
}

TEST(TarnixParse, ABrokenUuencodedBlockIsAnError) {
    const Result result = RunTarnix("parse " + Quoted(kData / "message" / "broken-uuencode.eml"));
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "tarnix: Oops...\n");
    EXPECT_EQ(result.out, "");
}

TEST(TarnixParse, AnUnreadableFileIsAnError) {
    const Result missing = RunTarnix("parse " + Quoted(kData / "message" / "no-such-file.eml"));
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("tarnix: cannot open "), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("no-such-file.eml: No such file or directory"), std::string::npos)
        << missing.err;

    const Result folder = RunTarnix("parse " + Quoted(kData));
    EXPECT_EQ(folder.status, 3);
    EXPECT_NE(folder.err.find("tarnix: cannot read "), std::string::npos) << folder.err;
    EXPECT_EQ(folder.out, "");
}

TEST(TarnixParse, WrongArgumentsAreAUsageError) {
    EXPECT_EQ(RunTarnix("parse").status, 2);
    EXPECT_EQ(RunTarnix("parse a b").status, 2);
}

} // namespace
