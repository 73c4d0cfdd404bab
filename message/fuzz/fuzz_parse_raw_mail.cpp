// Feeds arbitrary bytes to the parser the way the spam manager does: split
// into lines, then ParseRawMail. The only error it may raise is "Oops...".
#include "message/QebMsg.h"
#include "message/TextLines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TQebMsg message;
    try {
        message.ParseRawMail(SplitLines(text));
    } catch (const std::runtime_error& error) {
        if (std::string_view(error.what()) != "Oops...")
            std::abort();
    }
    for (int i = 0; i < message.AttachedFiles.Count(); ++i)
        message.AttachedFiles.Items(i).ContentStream();
    return 0;
}
