#include "platform/core/hooks.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(MessageBoxHook, WithoutAHookTheTextGoesToStandardError) {
    platform::SetMessageBoxHook(nullptr);
    testing::internal::CaptureStderr();
    int answer = platform::MessageBox("Cannot save database", "TARNIX");
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, platform::IDOK);
    EXPECT_EQ(printed, "TARNIX: Cannot save database\n");
}

TEST(MessageBoxHook, AnInstalledHookSeesEveryBoxFromEveryThread) {
    std::vector<std::string> seen;
    std::mutex lock;
    platform::SetMessageBoxHook(
        [&](const std::string& text, const std::string& caption, unsigned flags) {
            std::lock_guard guard(lock);
            seen.push_back(caption + "|" + text + "|" + std::to_string(flags));
            return platform::IDNO;
        });
    EXPECT_EQ(platform::MessageBox("Error reading message.", "Outlook Express Error"),
              platform::IDNO);
    std::thread worker([] {
        platform::MessageBox("Really?", "Question", platform::MB_YESNO | platform::MB_ICONQUESTION);
    });
    worker.join();
    platform::SetMessageBoxHook(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Outlook Express Error|Error reading message.|0");
    EXPECT_EQ(seen[1], "Question|Really?|36");
}

TEST(ProcessEventsHook, RunsTheInstalledPump) {
    platform::ProcessPendingEvents(); // no hook: nothing happens
    int pumped = 0;
    platform::SetProcessEventsHook([&] { ++pumped; });
    platform::ProcessPendingEvents();
    platform::ProcessPendingEvents();
    platform::SetProcessEventsHook(nullptr);
    platform::ProcessPendingEvents();
    EXPECT_EQ(pumped, 2);
}

} // namespace
