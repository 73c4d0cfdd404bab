// A hook library for tests: appends "flag window" to the file named by
// TARNIX_WEXHOLD_LOG for every call.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) std::int32_t SetWexhold(std::int32_t flag,
                                                                          std::uint32_t window) {
    const char* log = std::getenv("TARNIX_WEXHOLD_LOG");
    if (!log)
        return 0;
    if (std::FILE* file = std::fopen(log, "a")) {
        std::fprintf(file, "%d %u\n", static_cast<int>(flag), static_cast<unsigned>(window));
        std::fclose(file);
    }
    return 1;
}
