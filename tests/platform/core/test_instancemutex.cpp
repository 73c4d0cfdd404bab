#include "platform/core/instancemutex.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string uniqueName() {
    return "TARNIXTESTMUTEX" + std::to_string(::getpid());
}

TEST(NamedMutex, ASecondCreatorInTheSameProcessIsToldItExists) {
    bool exists = true;
    auto first = platform::NamedMutex::Create(uniqueName(), exists);
    ASSERT_TRUE(first);
    EXPECT_FALSE(exists);
    auto second = platform::NamedMutex::Create(uniqueName(), exists);
    EXPECT_FALSE(second);
    EXPECT_TRUE(exists);
    first.reset();
    auto third = platform::NamedMutex::Create(uniqueName(), exists);
    EXPECT_TRUE(third);
    EXPECT_FALSE(exists);
}

// The first process holds the mutex until it is killed; a second process is
// told it exists while the first lives, and can create it once it is gone.
TEST(NamedMutex, IsReleasedWhenItsHolderIsKilled) {
    const std::string name = uniqueName() + "x";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        bool exists = false;
        auto mutex = platform::NamedMutex::Create(name, exists);
        char ok = (mutex && !exists) ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        for (;;)
            ::pause();
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');

    bool exists = false;
    EXPECT_FALSE(platform::NamedMutex::Create(name, exists));
    EXPECT_TRUE(exists);

    ::kill(holder, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    auto mine = platform::NamedMutex::Create(name, exists);
    EXPECT_TRUE(mine);
    EXPECT_FALSE(exists);
    ::close(ready[0]);
    ::close(ready[1]);
}

} // namespace
