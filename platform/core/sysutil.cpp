#include "sysutil.h"

#include <ctime>
#include <mutex>
#include <random>

std::string BoolToFlag(bool value) {
    return value ? "1" : "0";
}

bool FlagToBool(std::string_view text) {
    return text == "1";
}

std::int32_t DigitsToInt(std::string_view text) {
    bool negative = text.size() > 1 && text.front() == '-';
    // Unsigned arithmetic wraps modulo 2^32, which is the 32-bit reading of
    // any digit string, however long.
    std::uint32_t value = 0;
    for (char c : text)
        if (c >= '0' && c <= '9')
            value = value * 10u + static_cast<std::uint32_t>(c - '0');
    if (negative)
        value = 0u - value;
    return static_cast<std::int32_t>(value);
}

namespace platform {
namespace {

std::mutex gClockLock;
ClockFunction gClock;

std::mutex gRandomLock;
std::mt19937 gRandom;
bool gSeeded = false;

void seedLocked(std::uint32_t seed) {
    gRandom.seed(seed);
    gSeeded = true;
}

std::uint32_t clockSeed() {
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count() ^
                 Now().time_since_epoch().count();
    return static_cast<std::uint32_t>(ticks ^ (ticks >> 32));
}

} // namespace

void SetClock(ClockFunction clock) {
    std::lock_guard lock(gClockLock);
    gClock = std::move(clock);
}

std::chrono::system_clock::time_point Now() {
    ClockFunction clock;
    {
        std::lock_guard lock(gClockLock);
        clock = gClock;
    }
    return clock ? clock() : std::chrono::system_clock::now();
}

void Randomize() {
    auto seed = clockSeed();
    std::lock_guard lock(gRandomLock);
    seedLocked(seed);
}

void RandSeed(std::uint32_t seed) {
    std::lock_guard lock(gRandomLock);
    seedLocked(seed);
}

} // namespace platform

namespace {

// Seconds since 1970 of the local wall clock, read as if it were UTC.
std::int64_t localSeconds() {
    using namespace std::chrono;
    auto now = platform::Now();
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count();
    std::time_t whole = static_cast<std::time_t>(millis / 1000 - (millis % 1000 < 0 ? 1 : 0));
    std::tm local{};
    localtime_r(&whole, &local);
    std::int64_t fraction = millis - static_cast<std::int64_t>(whole) * 1000;
    // Rounded to the nearest whole second, as the day-fraction arithmetic did.
    return static_cast<std::int64_t>(whole) + local.tm_gmtoff + (fraction >= 500 ? 1 : 0);
}

} // namespace

std::int32_t UnixNow() {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(localSeconds()));
}

std::int32_t DaysSince(std::int32_t stamp) {
    // 64-bit division that truncates toward zero, on both sides.
    std::int64_t now = UnixNow();
    return static_cast<std::int32_t>(now / 86400 - static_cast<std::int64_t>(stamp) / 86400);
}

std::string TodayString() {
    std::time_t now = std::chrono::system_clock::to_time_t(platform::Now());
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

std::string RandomLetters(int count) {
    std::string letters;
    if (count <= 0)
        return letters;
    letters.reserve(static_cast<std::size_t>(count));
    std::lock_guard lock(platform::gRandomLock);
    if (!platform::gSeeded)
        platform::seedLocked(platform::clockSeed());
    std::uniform_int_distribution<int> pick(0, 25);
    for (int i = 0; i < count; ++i)
        letters.push_back(static_cast<char>('A' + pick(platform::gRandom)));
    return letters;
}
