#pragma once
// The settings text conventions and the date, time and random helpers that
// start-up, the information pages and the update check share.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// "1" for true, "0" for false.
std::string BoolToFlag(bool value);
// True only for the exact text "1".
bool FlagToBool(std::string_view text);
// Lenient number reading: only the digits count, plus a leading "-" when the
// text is longer than one character; the digits wrap to 32 bits signed as the
// settings store always did; no digits read as 0.
std::int32_t DigitsToInt(std::string_view text);

// Local clock as whole seconds since 1970-01-01 00:00 local time (not UTC),
// kept to its low 32 bits.
std::int32_t UnixNow();
// Midnights of the local clock between the stamp and now.
std::int32_t DaysSince(std::int32_t stamp);
// Today's local date, "yyyy-mm-dd".
std::string TodayString();
// count letters "A" to "Z" drawn uniformly from the program's generator.
std::string RandomLetters(int count);

namespace platform {

using ClockFunction = std::function<std::chrono::system_clock::time_point()>;

// Replaces the wall clock (tests); an empty function restores the real one.
void SetClock(ClockFunction clock);
std::chrono::system_clock::time_point Now();

// Seeds the random generator from the clock. The program calls it once at
// start; RandomLetters seeds on first use if nobody did.
void Randomize();
// Seeds the generator with a fixed value (tests).
void RandSeed(std::uint32_t seed);

} // namespace platform
