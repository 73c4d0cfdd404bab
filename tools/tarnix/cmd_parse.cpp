// tarnix parse FILE: parses one message the way the spam manager does and
// prints its fields, body text and attachments, for people and for tests.
#include "command.h"

#include "message/QebMsg.h"
#include "message/TextLines.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace tarnix {
namespace {

// Reads a whole file, or standard input for "-", as bytes.
bool ReadInput(const std::string& path, std::string& data, std::string& error) {
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    const int readErrno = errno;
    if (file != stdin)
        std::fclose(file);
    if (failed) {
        error = "cannot read " + path + ": " + std::strerror(readErrno);
        return false;
    }
    return true;
}

std::string Md5Hex(const std::string& bytes) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        throw std::runtime_error("MD5 is not available");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

void Field(std::string& out, const char* name, const std::string& value) {
    out += name;
    out += ": ";
    out += value;
    out += '\n';
}

int RunParse(const Options&, const std::vector<std::string>& args) {
    if (args.size() != 1) {
        PrintError("usage: tarnix parse FILE");
        return kExitUsage;
    }
    std::string source, error;
    if (!ReadInput(args[0], source, error)) {
        PrintError(error);
        return kExitError;
    }
    TQebMsg message;
    try {
        message.ParseRawMail(SplitLines(source));
    } catch (const std::exception& failure) {
        PrintError(failure.what());
        return kExitError;
    }
    std::string out;
    Field(out, "From", message.From);
    Field(out, "Sender", message.Sender);
    Field(out, "MessageID", message.MessageID);
    Field(out, "InReplyTo", message.InReplyTo);
    Field(out, "ReturnPath", message.ReturnPath);
    Field(out, "ReplyTo", message.ReplyTo);
    Field(out, "SendTo", message.SendTo);
    Field(out, "CC", message.CC);
    Field(out, "Date", message.Date);
    Field(out, "Subject", message.Subject);
    Field(out, "ContentType", message.ContentType);
    Field(out, "ContentTransferEncoding", message.ContentTransferEncoding);
    Field(out, "Text", std::to_string(message.Text.size()));
    for (const std::string& line : message.Text) {
        out += "| ";
        out += line;
        out += '\n';
    }
    for (int i = 0; i < message.AttachedFiles.Count(); ++i) {
        TAttachedFile& file = message.AttachedFiles.Items(i);
        const std::string& content = file.ContentStream().Data;
        out += "Attachment: " + file.FileName + " | " + file.ContentType + " | " +
               std::to_string(content.size()) + " | " + Md5Hex(content) + "\n";
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        PrintError(std::string("cannot write the output: ") + std::strerror(errno));
        return kExitError;
    }
    return kExitOk;
}

const TarnixCommand kParse("parse",
                           "parse FILE         prints the fields, body text and attachments of a "
                           "message (- reads standard input)",
                           &RunParse);

} // namespace
} // namespace tarnix
