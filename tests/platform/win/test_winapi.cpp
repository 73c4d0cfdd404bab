#include "platform/win/winapi.h"
#include "tests/qtpump.h"

#include "platform/core/hooks.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using testing_qt::PumpUntil;

namespace {

constexpr UINT kTestMessage = WM_USER + 1;

bool onGuiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Whether the kernel thread `tid` of this process is asleep (blocked).
bool isSleeping(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}

TEST(PostMessage, ManySendersKeepTheirOrderOnTheGuiThread) {
    constexpr int kSenders = 8;
    constexpr int kPerSender = 10000;
    std::vector<std::vector<WPARAM>> received(kSenders);
    int total = 0;
    bool offThread = false;
    MessageWindow window("TTestSink", "sink", [&](UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kTestMessage && lParam >= 0 && lParam < kSenders) {
            received[static_cast<std::size_t>(lParam)].push_back(wParam);
            ++total;
        }
        offThread = offThread || !onGuiThread();
        return LRESULT{0};
    });
    const HWND handle = window.handle();
    std::atomic<int> refused{0};
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender)
        senders.emplace_back([&, sender] {
            for (int i = 0; i < kPerSender; ++i)
                if (!PostMessage(handle, kTestMessage, static_cast<WPARAM>(i), sender))
                    ++refused;
        });
    EXPECT_TRUE(PumpUntil([&] { return total == kSenders * kPerSender; })) << "received " << total;
    for (auto& sender : senders)
        sender.join();
    EXPECT_EQ(refused, 0);
    EXPECT_FALSE(offThread);
    std::vector<WPARAM> expected(kPerSender);
    for (int i = 0; i < kPerSender; ++i)
        expected[static_cast<std::size_t>(i)] = static_cast<WPARAM>(i);
    for (int sender = 0; sender < kSenders; ++sender)
        EXPECT_TRUE(received[static_cast<std::size_t>(sender)] == expected)
            << "sender " << sender << " got " << received[static_cast<std::size_t>(sender)].size()
            << " messages, or out of order";
}

TEST(PostMessage, DeliversLaterNotDuringTheCall) {
    int handled = 0;
    MessageWindow window("TTestSink", "", [&](UINT, WPARAM, LPARAM) {
        ++handled;
        return LRESULT{0};
    });
    ASSERT_TRUE(PostMessage(window.handle(), kTestMessage, 0, 0));
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(PumpUntil([&] { return handled == 1; }));
}

TEST(SendMessage, FromAWorkerRunsOnTheOwnersThreadAndReturnsTheResult) {
    QThread* ranOn = nullptr;
    MessageWindow window("TTestSink", "", [&](UINT message, WPARAM wParam, LPARAM lParam) {
        ranOn = QThread::currentThread();
        return message == kTestMessage ? static_cast<LRESULT>(wParam) * 1000 + lParam : -1;
    });
    const HWND handle = window.handle();
    auto answer = std::async(std::launch::async,
                             [handle] { return SendMessage(handle, kTestMessage, 42, -7); });
    ASSERT_TRUE(PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), 41993);
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
}

TEST(SendMessage, OnTheOwnersThreadIsDirectAheadOfPostedMessages) {
    std::vector<UINT> order;
    MessageWindow window("TTestSink", "", [&](UINT message, WPARAM, LPARAM) {
        order.push_back(message);
        return LRESULT{5};
    });
    ASSERT_TRUE(PostMessage(window.handle(), kTestMessage, 0, 0));
    EXPECT_EQ(SendMessage(window.handle(), kTestMessage + 1, 0, 0), 5);
    EXPECT_EQ(order, std::vector<UINT>{kTestMessage + 1});
    EXPECT_TRUE(PumpUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<UINT>{kTestMessage + 1, kTestMessage}));
}

TEST(SendMessage, ToAWindowOnAWorkerThreadRunsThere) {
    QThread worker;
    worker.start();
    std::unique_ptr<MessageWindow> window;
    QThread* ranOn = nullptr;
    // The window is made (and later destroyed) on the worker's own thread.
    QObject context;
    context.moveToThread(&worker);
    QMetaObject::invokeMethod(
        &context,
        [&] {
            window = std::make_unique<MessageWindow>("TTestWorker", "",
                                                     [&](UINT, WPARAM wParam, LPARAM) {
                                                         ranOn = QThread::currentThread();
                                                         return static_cast<LRESULT>(wParam + 1);
                                                     });
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(window && window->handle() != 0);
    EXPECT_EQ(SendMessage(window->handle(), kTestMessage, 9, 0), 10);
    EXPECT_EQ(ranOn, &worker);
    QMetaObject::invokeMethod(
        &context, [&] { window.reset(); }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
}

// The sender must be blocked in SendMessage, its call queued, when the window
// goes; it wakes with 0 instead of waiting for ever.
class SendToDyingWindow : public ::testing::TestWithParam<bool> {};

TEST_P(SendToDyingWindow, WaiterWakesWithZero) {
    const bool destroy = GetParam();
    bool handled = false;
    auto window = std::make_unique<MessageWindow>("TTestSink", "", [&](UINT, WPARAM, LPARAM) {
        handled = true;
        return LRESULT{99};
    });
    const HWND handle = window->handle();
    std::atomic<pid_t> senderTid{0};
    std::promise<LRESULT> answer;
    auto result = answer.get_future();
    std::thread sender([&] {
        senderTid = static_cast<pid_t>(::syscall(SYS_gettid));
        answer.set_value(SendMessage(handle, kTestMessage, 0, 0));
    });
    // Wait (without handling events) until the sender sleeps in its wait.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    int asleep = 0;
    while (asleep < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
        asleep = senderTid != 0 && isSleeping(senderTid) ? asleep + 1 : 0;
    }
    EXPECT_EQ(asleep, 3) << "the sender never blocked";
    if (destroy)
        window.reset();
    else
        UnregisterWindow(handle);
    EXPECT_TRUE(PumpUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 10s));
    if (result.wait_for(0s) != std::future_status::ready) {
        sender.detach(); // hung: fail rather than hang the whole run
        FAIL() << "SendMessage did not return";
    }
    sender.join();
    EXPECT_EQ(result.get(), 0);
    EXPECT_FALSE(handled);
}

INSTANTIATE_TEST_SUITE_P(Window, SendToDyingWindow, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "Destroyed" : "Unregistered");
                         });

TEST(Handles, StaleHandlesAreRefusedAndNeverReused) {
    std::set<HWND> seen;
    HWND last = 0;
    for (int i = 0; i < 50; ++i) {
        MessageWindow window("TTestSink", "", {});
        const HWND handle = window.handle();
        EXPECT_NE(handle, 0u);
        EXPECT_GT(handle, last);
        EXPECT_TRUE(seen.insert(handle).second);
        last = handle;
    }
    for (HWND stale : {*seen.begin(), last, HWND{0}, HWND{0xFFFFFFFF}}) {
        EXPECT_FALSE(IsWindow(stale));
        EXPECT_FALSE(PostMessage(stale, kTestMessage, 0, 0));
        EXPECT_EQ(SendMessage(stale, kTestMessage, 0, 0), 0);
        QRect rect(1, 2, 3, 4);
        EXPECT_FALSE(GetWindowRect(stale, rect));
        EXPECT_EQ(rect, QRect(1, 2, 3, 4));
        EXPECT_FALSE(IsWindowVisible(stale));
        EXPECT_FALSE(SetForegroundWindow(stale));
        EXPECT_EQ(GetParent(stale), 0u);
        EXPECT_EQ(GetClassName(stale), "");
    }
}

// Posters hammer a window while the GUI thread destroys it: every post
// either reaches the queue of a live window or is refused, never a freed
// object (the point of running this under AddressSanitizer), and once a post
// is refused the handle stays dead.
TEST(Handles, PostingToAWindowBeingDestroyedIsRefusedWithoutACrash) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> handled{0};
        auto window = std::make_unique<MessageWindow>("TTestSink", "", [&](UINT, WPARAM, LPARAM) {
            ++handled;
            return LRESULT{0};
        });
        const HWND handle = window->handle();
        std::atomic<bool> revived{false};
        std::atomic<int> started{0};
        std::vector<std::thread> posters;
        for (int i = 0; i < 4; ++i)
            posters.emplace_back([&] {
                ++started;
                bool refused = false;
                for (int n = 0; n < 20000; ++n) {
                    bool posted = PostMessage(handle, kTestMessage, 0, 0);
                    if (refused && posted)
                        revived = true;
                    refused = refused || !posted;
                }
            });
        PumpUntil([&] { return started == 4 && handled > 100; }, 10s);
        window.reset();
        for (auto& poster : posters)
            poster.join();
        QCoreApplication::processEvents();
        EXPECT_FALSE(revived);
        EXPECT_FALSE(IsWindow(handle));
        EXPECT_FALSE(PostMessage(handle, kTestMessage, 0, 0));
    }
}

TEST(Handles, AnObjectDestroyedWithoutUnregisteringLeavesTheTable) {
    struct Procedure : WindowProcedure {
        LRESULT WindowProc(UINT, WPARAM, LPARAM) override { return 1; }
    } procedure;
    auto object = std::make_unique<QObject>();
    const HWND handle = RegisterWindow(object.get(), &procedure, "TPlain", "plain");
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(SendMessage(handle, kTestMessage, 0, 0), 1);
    ASSERT_TRUE(PostMessage(handle, kTestMessage, 0, 0));
    object.reset(); // its queued message goes with it
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(PostMessage(handle, kTestMessage, 0, 0));
    QCoreApplication::processEvents();
}

TEST(Handles, RegistrationIsRefusedForBadArguments) {
    struct Procedure : WindowProcedure {
        LRESULT WindowProc(UINT, WPARAM, LPARAM) override { return 0; }
    } procedure;
    QObject object;
    EXPECT_EQ(RegisterWindow(nullptr, &procedure, "T", ""), 0u);
    EXPECT_EQ(RegisterWindow(&object, nullptr, "T", ""), 0u);
    HWND stale = 0;
    {
        MessageWindow gone("TGone", "", {});
        stale = gone.handle();
    }
    EXPECT_EQ(RegisterWindow(&object, &procedure, "T", "", stale), 0u) << "stale parent";
    HWND fromOtherThread = 1;
    std::thread([&] { fromOtherThread = RegisterWindow(&object, &procedure, "T", ""); }).join();
    EXPECT_EQ(fromOtherThread, 0u);
}

// Three top-level windows and two children of the first one.
class Lookup : public ::testing::Test {
protected:
    MessageWindow main{"TfrmMainSpam", "Vantor TARNIX - Settings", {}};
    MessageWindow tray{"TfrmVtFiltrum", "Vantor Black List", {}};
    MessageWindow other{"TfrmMainSpam", "Second", {}};
    MessageWindow edit1{"Edit", "first", {}, nullptr, main.handle()};
    MessageWindow edit2{"Edit", "second", {}, nullptr, main.handle()};
};

TEST_F(Lookup, FindWindowByClassAndCaption) {
    struct Row {
        const char* name;
        std::string className;
        std::string caption;
        HWND expected;
    };
    const Row rows[] = {
        {"class only, first registered wins", "TfrmMainSpam", "", main.handle()},
        {"class and caption", "TfrmMainSpam", "Second", other.handle()},
        {"caption only", "", "Vantor Black List", tray.handle()},
        {"letter case ignored", "tfrmvtfiltrum", "VANTOR BLACK LIST", tray.handle()},
        {"children are not top-level", "Edit", "", 0},
        {"no such class", "TfrmTeach", "", 0},
        {"caption must match whole", "TfrmMainSpam", "Vantor", 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(FindWindow(row.className, row.caption), row.expected) << row.name;
}

TEST_F(Lookup, FindWindowExWalksChildrenInOrder) {
    EXPECT_EQ(FindWindowEx(main.handle(), 0, "Edit", ""), edit1.handle());
    EXPECT_EQ(FindWindowEx(main.handle(), edit1.handle(), "Edit", ""), edit2.handle());
    EXPECT_EQ(FindWindowEx(main.handle(), edit2.handle(), "Edit", ""), 0u);
    EXPECT_EQ(FindWindowEx(main.handle(), 0, "", "second"), edit2.handle());
    EXPECT_EQ(FindWindowEx(tray.handle(), 0, "Edit", ""), 0u);
    // Top-level windows after a given one.
    EXPECT_EQ(FindWindowEx(0, main.handle(), "TfrmMainSpam", ""), other.handle());
    // childAfter must be a direct child of parent.
    EXPECT_EQ(FindWindowEx(main.handle(), tray.handle(), "", ""), 0u);
    EXPECT_EQ(FindWindowEx(tray.handle(), edit1.handle(), "", ""), 0u);
}

TEST_F(Lookup, ParentCaptionAndUnregisteredWindows) {
    EXPECT_EQ(GetParent(edit1.handle()), main.handle());
    EXPECT_EQ(GetParent(main.handle()), 0u);
    EXPECT_EQ(GetClassName(edit1.handle()), "Edit");
    tray.setCaption("Renamed");
    EXPECT_EQ(GetWindowText(tray.handle()), "Renamed");
    EXPECT_EQ(FindWindow("", "Vantor Black List"), 0u);
    EXPECT_EQ(FindWindow("", "Renamed"), tray.handle());
    UnregisterWindow(main.handle());
    EXPECT_EQ(FindWindow("TfrmMainSpam", ""), other.handle());
    EXPECT_FALSE(IsWindow(main.handle()));
}

TEST_F(Lookup, VisibilityNeedsTheParentsAndRectangleIsKept) {
    EXPECT_FALSE(IsWindowVisible(main.handle())) << "created hidden";
    edit1.setVisible(true);
    EXPECT_FALSE(IsWindowVisible(edit1.handle())) << "parent hidden";
    main.setVisible(true);
    EXPECT_TRUE(IsWindowVisible(main.handle()));
    EXPECT_TRUE(IsWindowVisible(edit1.handle()));
    EXPECT_FALSE(IsWindowVisible(edit2.handle()));
    main.setVisible(false);
    EXPECT_FALSE(IsWindowVisible(edit1.handle()));

    QRect rect;
    main.setGeometry(QRect(10, 20, 300, 200));
    ASSERT_TRUE(GetWindowRect(main.handle(), rect));
    EXPECT_EQ(rect, QRect(10, 20, 300, 200));
    EXPECT_TRUE(GetWindowRect(edit2.handle(), rect));
    EXPECT_TRUE(rect.isNull());
}

TEST(Foreground, IsRecordedAndTheOwnerBringsItForwardOnItsThread) {
    struct Procedure : WindowProcedure {
        LRESULT WindowProc(UINT, WPARAM, LPARAM) override { return 0; }
        void BringToFront() override { ranOn = QThread::currentThread(); }
        QThread* ranOn = nullptr;
    } procedure;
    QObject object;
    const HWND handle = RegisterWindow(&object, &procedure, "TFront", "");
    MessageWindow other("TOther", "", {});
    std::thread([&] { EXPECT_TRUE(SetForegroundWindow(handle)); }).join();
    EXPECT_EQ(GetForegroundWindow(), handle);
    EXPECT_TRUE(PumpUntil([&] { return procedure.ranOn != nullptr; }, 10s));
    EXPECT_EQ(procedure.ranOn, QCoreApplication::instance()->thread());
    procedure.ranOn = nullptr;
    EXPECT_TRUE(SetForegroundWindow(handle));
    EXPECT_EQ(procedure.ranOn, QCoreApplication::instance()->thread()) << "direct on the owner";
    EXPECT_TRUE(SetForegroundWindow(other.handle()));
    EXPECT_EQ(GetForegroundWindow(), other.handle());
    UnregisterWindow(other.handle());
    EXPECT_EQ(GetForegroundWindow(), 0u);
    UnregisterWindow(handle);
}

TEST(Dispatch, AnExceptionInAHandlerIsReportedAndAnswersZero) {
    std::vector<std::string> reported;
    SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned flags) {
        reported.push_back(text + (flags & MB_ICONERROR ? " (error)" : ""));
        return int{IDOK};
    });
    MessageWindow window("TTestSink", "", [](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kTestMessage)
            throw std::runtime_error("handler failed");
        return 3;
    });
    EXPECT_EQ(SendMessage(window.handle(), kTestMessage, 0, 0), 0);
    ASSERT_TRUE(PostMessage(window.handle(), kTestMessage, 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return reported.size() == 2; }, 10s));
    EXPECT_EQ(SendMessage(window.handle(), kTestMessage + 1, 0, 0), 3) << "window still works";
    SetMessageBoxHook({});
    EXPECT_EQ(reported,
              (std::vector<std::string>{"handler failed (error)", "handler failed (error)"}));
}

TEST(RegisterWindowMessage, SameNameSameNumber) {
    const UINT first = RegisterWindowMessage(WM_HTML_GETOBJECT_NAME);
    EXPECT_GE(first, 0xC000u);
    EXPECT_LE(first, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessage("wm_html_getobject"), first);
    const UINT other = RegisterWindowMessage("TarnixTestMessage");
    EXPECT_NE(other, first);
    EXPECT_GE(other, 0xC000u);
    EXPECT_EQ(RegisterWindowMessage(""), 0u);
}

} // namespace
