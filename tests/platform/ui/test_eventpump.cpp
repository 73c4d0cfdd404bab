#include "platform/ui/eventpump.h"

#include "platform/core/hooks.h"
#include "platform/win/winapi.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

using namespace platform;

namespace {

constexpr UINT kPing = WM_USER + 7;

class EventPump : public ::testing::Test {
protected:
    void TearDown() override { SetProcessEventsHook({}); }
};

TEST_F(EventPump, OnTheGuiThreadPendingMessagesAreHandled) {
    int handled = 0;
    MessageWindow window("TTestSink", "", [&](UINT message, WPARAM, LPARAM) {
        handled += message == kPing;
        return LRESULT{0};
    });
    ASSERT_TRUE(PostMessage(window.handle(), kPing, 0, 0));
    ProcessPendingEvents(); // no pump installed yet
    EXPECT_EQ(handled, 0);
    InstallQtEventPump();
    ProcessPendingEvents();
    EXPECT_EQ(handled, 1);
}

TEST_F(EventPump, OnAWorkerThreadNothingHappens) {
    InstallQtEventPump();
    int afterPump = -1;
    int afterOwnLoop = -1;
    // A QThread has an event dispatcher, so its own processEvents would
    // deliver the message; the pump must not.
    std::unique_ptr<QThread> worker(QThread::create([&] {
        int handled = 0;
        MessageWindow window("TTestWorker", "", [&](UINT, WPARAM, LPARAM) {
            ++handled;
            return LRESULT{0};
        });
        PostMessage(window.handle(), kPing, 0, 0);
        ProcessPendingEvents();
        afterPump = handled;
        QCoreApplication::processEvents();
        afterOwnLoop = handled;
    }));
    worker->start();
    ASSERT_TRUE(worker->wait(30000));
    EXPECT_EQ(afterPump, 0);
    EXPECT_EQ(afterOwnLoop, 1);
}

} // namespace
