#include "platform/core/sysutil.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <set>

namespace {

using namespace std::chrono;

struct FlagCase {
    const char* text;
    bool expected;
};

TEST(FlagToBool, OnlyTheExactTextOneIsTrue) {
    const FlagCase cases[] = {
        {"1", true}, {"0", false}, {"", false}, {"true", false}, {"11", false}, {" 1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FlagToBool(c.text), c.expected) << "'" << c.text << "'";
    EXPECT_EQ(BoolToFlag(true), "1");
    EXPECT_EQ(BoolToFlag(false), "0");
}

struct DigitsCase {
    const char* text;
    std::int32_t expected;
};

TEST(DigitsToInt, ReadsTheDigitsLeniently) {
    const DigitsCase cases[] = {
        {"-5", -5},
        {"-", 0},    // a lone minus sign
        {"5-3", 53}, // only a leading minus counts
        {"", 0},
        {"12a3", 123}, // stray characters are skipped
        {"x-7", 7},    // the minus must stand first
        {"--7", -7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"4294967297", 1}, // wraps to 32 bits instead of failing
        {"00042", 42},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DigitsToInt(c.text), c.expected) << "'" << c.text << "'";
}

// Pins the local time zone for one test and restores the clock afterwards.
class LocalClock : public ::testing::Test {
protected:
    void SetUp() override { setZone("UTC"); }
    void TearDown() override {
        platform::SetClock(nullptr);
        setZone("UTC");
    }
    static void setZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    static void setNow(system_clock::time_point now) {
        platform::SetClock([now] { return now; });
    }
    static system_clock::time_point utc(int y, int mo, int d, int h, int mi, int s = 0) {
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        return system_clock::from_time_t(timegm(&tm));
    }
};

TEST_F(LocalClock, UnixNowCountsLocalSeconds) {
    setNow(utc(2026, 12, 11, 12, 0, 0));
    EXPECT_EQ(UnixNow(), 1796990400);
    setZone("CET-1"); // one hour east of UTC, no daylight saving
    EXPECT_EQ(UnixNow(), 1796990400 + 3600);
}

TEST_F(LocalClock, UnixNowRoundsToTheNearestSecond) {
    setNow(utc(2026, 12, 11, 12, 0, 0) + milliseconds(499));
    EXPECT_EQ(UnixNow(), 1796990400);
    setNow(utc(2026, 12, 11, 12, 0, 0) + milliseconds(500));
    EXPECT_EQ(UnixNow(), 1796990401);
}

TEST_F(LocalClock, DaysSinceCountsMidnightsNotPeriods) {
    setZone("CET-1");
    // 23:59 local time is 22:59 UTC.
    setNow(utc(2026, 12, 10, 22, 59));
    std::int32_t stamp = UnixNow();
    EXPECT_EQ(DaysSince(stamp), 0);
    setNow(utc(2026, 12, 10, 23, 1)); // two minutes later: 00:01 local, the next day
    EXPECT_EQ(DaysSince(stamp), 1);
    setNow(utc(2026, 12, 11, 22, 58)); // almost 24 hours later: still one midnight
    EXPECT_EQ(DaysSince(stamp), 1);
    setNow(utc(2026, 12, 18, 22, 58)); // 23:58 local, eight midnights on
    EXPECT_EQ(DaysSince(stamp), 8);
}

TEST_F(LocalClock, TodayStringIsTheLocalDate) {
    setNow(utc(2026, 1, 31, 23, 30));
    EXPECT_EQ(TodayString(), "2026-01-31");
    setZone("CET-1");
    EXPECT_EQ(TodayString(), "2026-02-01");
}

TEST(RandomLetters, GivesCapitalLettersOnly) {
    std::string letters = RandomLetters(96);
    ASSERT_EQ(letters.size(), 96u);
    std::set<char> seen;
    for (char c : letters) {
        EXPECT_GE(c, 'A');
        EXPECT_LE(c, 'Z');
        seen.insert(c);
    }
    EXPECT_GT(seen.size(), 10u); // 96 uniform draws from 26 letters
    EXPECT_EQ(RandomLetters(0), "");
    EXPECT_EQ(RandomLetters(-3), "");
}

TEST(RandomLetters, FollowsTheSeed) {
    platform::RandSeed(1234);
    std::string first = RandomLetters(20);
    platform::RandSeed(1234);
    EXPECT_EQ(RandomLetters(20), first);
    EXPECT_NE(RandomLetters(20), first);
}

} // namespace
