#include "platform/ui/form.h"
#include "tests/qtpump.h"

#include <QApplication>
#include <QThread>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;
using testing_qt::PumpUntil;

namespace {

constexpr UINT kPing = WM_USER + 11;

// A form as the system's windows are written: handlers in a table, one
// message handled by overriding WindowProc.
class TestForm : public Form {
public:
    explicit TestForm(QWidget* parent = nullptr) : Form("TfrmTest", parent) {
        setWindowTitle("Test window");
        OnMessage(kPing, [this](WPARAM wParam, LPARAM lParam) {
            ++pings;
            ranOn = QThread::currentThread();
            return static_cast<LRESULT>(wParam) + lParam;
        });
    }
    ~TestForm() override { Unregister(); }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_TRAY_NOOP)
            return 1;
        return Form::WindowProc(message, wParam, lParam);
    }
    void dropPingHandler() { OnMessage(kPing, {}); }

    int pings = 0;
    QThread* ranOn = nullptr;
};

TEST(Form, IsRegisteredUnderItsClassNameAndCaption) {
    HWND handle = 0;
    {
        TestForm form;
        handle = form.handle();
        ASSERT_NE(handle, 0u);
        EXPECT_EQ(FindWindow("TfrmTest", ""), handle);
        EXPECT_EQ(FindWindow("TfrmTest", "Test window"), handle);
        EXPECT_EQ(GetClassName(handle), "TfrmTest");
        form.setWindowTitle("Vantor TARNIX - Settings");
        EXPECT_EQ(GetWindowText(handle), "Vantor TARNIX - Settings");
        EXPECT_EQ(FindWindow("", "Test window"), 0u);
        EXPECT_EQ(FindWindow("", "Vantor TARNIX - Settings"), handle);
    }
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(FindWindow("TfrmTest", ""), 0u);
    EXPECT_FALSE(PostMessage(handle, kPing, 0, 0));
}

TEST(Form, MessagesReachTheHandlersOnTheGuiThread) {
    TestForm form;
    EXPECT_EQ(SendMessage(form.handle(), kPing, 2, 3), 5) << "direct on the GUI thread";
    EXPECT_EQ(form.pings, 1);
    auto answer = std::async(std::launch::async, [handle = form.handle()] {
        PostMessage(handle, kPing, 0, 0);
        return SendMessage(handle, kPing, 40, 2);
    });
    ASSERT_TRUE(PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), 42);
    EXPECT_EQ(form.pings, 3);
    EXPECT_EQ(form.ranOn, QCoreApplication::instance()->thread());
    EXPECT_EQ(SendMessage(form.handle(), WM_TRAY_NOOP, 0, 0), 1) << "overridden WindowProc";
    EXPECT_EQ(SendMessage(form.handle(), WM_USER + 99, 0, 0), 0) << "no handler";
    form.dropPingHandler();
    EXPECT_EQ(SendMessage(form.handle(), kPing, 2, 3), 0);
    EXPECT_EQ(form.pings, 3);
}

TEST(Form, ChildFormsHaveTheNearestFormAsParent) {
    TestForm top;
    QWidget* panel = new QWidget(&top);                 // owned by top
    auto first = std::make_unique<Form>("Edit", panel); // removed early below
    auto* second = new Form("Edit", &top);              // owned by top
    auto* inner = new Form("Edit", first.get());        // owned by first
    EXPECT_EQ(GetParent(top.handle()), 0u);
    EXPECT_EQ(GetParent(first->handle()), top.handle());
    EXPECT_EQ(GetParent(inner->handle()), first->handle());
    EXPECT_EQ(FindWindowEx(top.handle(), 0, "Edit", ""), first->handle());
    EXPECT_EQ(FindWindowEx(top.handle(), first->handle(), "Edit", ""), second->handle());
    EXPECT_EQ(FindWindowEx(top.handle(), second->handle(), "Edit", ""), 0u);
    EXPECT_EQ(FindWindow("Edit", ""), 0u) << "children are not top-level";
    const HWND innerHandle = inner->handle();
    first.reset(); // takes `inner` with it
    EXPECT_FALSE(IsWindow(innerHandle));
    EXPECT_EQ(FindWindowEx(top.handle(), 0, "Edit", ""), second->handle());
}

TEST(Form, VisibilityAndRectangleFollowTheWidget) {
    TestForm top;
    auto* child = new Form("TPanel", &top); // owned by top
    child->setGeometry(10, 20, 30, 40);
    top.setGeometry(100, 200, 300, 250);
    EXPECT_FALSE(IsWindowVisible(top.handle())) << "created hidden";
    top.show();
    ASSERT_TRUE(PumpUntil([&] { return top.isVisible(); }));
    EXPECT_TRUE(IsWindowVisible(top.handle()));
    EXPECT_TRUE(IsWindowVisible(child->handle()));
    QRect rect;
    ASSERT_TRUE(GetWindowRect(top.handle(), rect));
    EXPECT_EQ(rect, top.frameGeometry());
    EXPECT_EQ(rect.size(), top.frameGeometry().size());
    ASSERT_TRUE(GetWindowRect(child->handle(), rect));
    EXPECT_EQ(rect, QRect(top.mapToGlobal(QPoint(10, 20)), QSize(30, 40)));

    top.move(400, 300);
    PumpUntil([&] { return top.pos() == QPoint(400, 300); }, 5s);
    ASSERT_TRUE(GetWindowRect(child->handle(), rect));
    EXPECT_EQ(rect.topLeft(), top.mapToGlobal(QPoint(10, 20))) << "child moves with its window";
    ASSERT_TRUE(GetWindowRect(top.handle(), rect));
    EXPECT_EQ(rect, top.frameGeometry());

    child->hide();
    EXPECT_FALSE(IsWindowVisible(child->handle()));
    EXPECT_TRUE(IsWindowVisible(top.handle()));
    child->show();
    top.hide();
    EXPECT_FALSE(IsWindowVisible(top.handle()));
    EXPECT_FALSE(IsWindowVisible(child->handle()));
}

TEST(Form, SetForegroundWindowActivatesTheForm) {
    TestForm first;
    TestForm second;
    first.show();
    second.show();
    second.activateWindow();
    ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == &second; }, 10s));
    EXPECT_EQ(GetForegroundWindow(), second.handle()) << "activation is noted";
    bool accepted = false;
    std::thread([&] { accepted = SetForegroundWindow(first.handle()); }).join();
    EXPECT_TRUE(accepted);
    EXPECT_EQ(GetForegroundWindow(), first.handle());
    EXPECT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == &first; }, 10s));
    EXPECT_TRUE(SetForegroundWindow(second.handle())) << "from the GUI thread itself";
    EXPECT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == &second; }, 10s));
}

} // namespace
