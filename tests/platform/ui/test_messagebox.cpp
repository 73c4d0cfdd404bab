#include "platform/ui/messagebox.h"
#include "tests/qtpump.h"

#include "platform/win/winapi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;
using testing_qt::PumpUntil;

namespace {

QThread* guiThread() {
    return QCoreApplication::instance()->thread();
}

QMessageBox* openBox() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// Calls `act` with the first message box that opens, from the GUI thread's
// event loop (the box's own, once it runs). Watches until it goes.
class BoxWatcher {
public:
    explicit BoxWatcher(std::function<void(QMessageBox&)> act) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, act = std::move(act)] {
            if (QMessageBox* box = openBox()) {
                timer_.stop();
                act(*box);
            }
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

class MessageBoxes : public ::testing::Test {
protected:
    void TearDown() override { UninstallMessageBoxes(); }
};

TEST_F(MessageBoxes, ABoxFromAWorkerIsShownOnTheGuiThreadAndAnswersTheWorker) {
    MessageBoxRecorder recorder(IDNO);
    recorder.install();
    auto answer = std::async(std::launch::async, [] {
        return MessageBox("Really?", "Question", MB_YESNO | MB_ICONQUESTION);
    });
    ASSERT_TRUE(PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), IDNO);
    recorder.setAnswer(IDOK);
    EXPECT_EQ(MessageBox("Cannot save database", "TARNIX"), IDOK) << "GUI thread: direct";
    const auto shown = recorder.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Really?");
    EXPECT_EQ(shown[0].caption, "Question");
    EXPECT_EQ(shown[0].flags, unsigned{MB_YESNO | MB_ICONQUESTION});
    EXPECT_EQ(shown[0].thread, guiThread());
    EXPECT_EQ(shown[1].text, "Cannot save database");
    EXPECT_EQ(shown[1].thread, guiThread());
}

TEST_F(MessageBoxes, TheGuiThreadKeepsHandlingEventsWhileAWorkerWaits) {
    InstallMessageBoxPresenter(ShowQtMessageBox);
    int handled = 0;
    MessageWindow window("TTestSink", "", [&](UINT, WPARAM, LPARAM) {
        ++handled;
        return LRESULT{0};
    });
    int handledWhileOpen = -1;
    BoxWatcher watcher([&](QMessageBox& box) {
        // The worker waits for the box; messages still reach the GUI thread.
        PostMessage(window.handle(), WM_USER, 0, 0);
        QTimer::singleShot(50, &box, [&] {
            handledWhileOpen = handled;
            box.button(QMessageBox::Cancel)->click();
        });
    });
    auto answer =
        std::async(std::launch::async, [] { return MessageBox("Go on?", "TARNIX", MB_OKCANCEL); });
    ASSERT_TRUE(PumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), IDCANCEL);
    EXPECT_EQ(handledWhileOpen, 1);
}

struct QtBoxRow {
    const char* name;
    unsigned flags;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton preferred;
    QMessageBox::StandardButton click; // NoButton: close the box instead
    int answer;
};

void PrintTo(const QtBoxRow& row, std::ostream* out) {
    *out << row.name;
}

class QtBox : public ::testing::TestWithParam<QtBoxRow> {};

TEST_P(QtBox, ShowsTheFlagsAndAnswersTheButton) {
    const QtBoxRow& row = GetParam();
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QAbstractButton* preferred = nullptr;
    QAbstractButton* expectedPreferred = nullptr;
    BoxWatcher watcher([&](QMessageBox& box) {
        title = box.windowTitle();
        text = box.text();
        icon = box.icon();
        buttons = box.standardButtons();
        preferred = box.defaultButton();
        expectedPreferred = box.button(row.preferred);
        if (row.click == QMessageBox::NoButton)
            box.close();
        else
            box.button(row.click)->click();
    });
    EXPECT_EQ(ShowQtMessageBox("TARNIX will read your Sent Items folder to build \r\na white list",
                               "Vantor Quillon", row.flags),
              row.answer);
    EXPECT_EQ(title.toStdString(), "Vantor Quillon");
    EXPECT_EQ(text.toStdString(),
              "TARNIX will read your Sent Items folder to build \na white list");
    EXPECT_EQ(icon, row.icon);
    EXPECT_EQ(buttons, row.buttons);
    EXPECT_NE(preferred, nullptr);
    EXPECT_EQ(preferred, expectedPreferred);
}

using Box = QMessageBox;
INSTANTIATE_TEST_SUITE_P(
    Flags, QtBox,
    ::testing::Values(QtBoxRow{"OkPlain", MB_OK, Box::NoIcon, Box::Ok, Box::Ok, Box::Ok, IDOK},
                      QtBoxRow{"OkClosed", MB_OK | MB_ICONINFORMATION, Box::Information, Box::Ok,
                               Box::Ok, Box::NoButton, IDOK},
                      QtBoxRow{"OkCancelOk", MB_OKCANCEL | MB_ICONWARNING, Box::Warning,
                               Box::Ok | Box::Cancel, Box::Ok, Box::Ok, IDOK},
                      QtBoxRow{"OkCancelClosed", MB_OKCANCEL, Box::NoIcon, Box::Ok | Box::Cancel,
                               Box::Ok, Box::NoButton, IDCANCEL},
                      QtBoxRow{"YesNoYes", MB_YESNO | MB_ICONQUESTION, Box::Question,
                               Box::Yes | Box::No, Box::Yes, Box::Yes, IDYES},
                      QtBoxRow{"YesNoNo", MB_YESNO | MB_ICONERROR, Box::Critical,
                               Box::Yes | Box::No, Box::Yes, Box::No, IDNO},
                      QtBoxRow{"YesNoClosed", MB_YESNO, Box::NoIcon, Box::Yes | Box::No, Box::Yes,
                               Box::NoButton, IDNO},
                      QtBoxRow{"UnknownButtonsAreOk", 0x03 | MB_ICONERROR, Box::Critical, Box::Ok,
                               Box::Ok, Box::Ok, IDOK}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessageBoxes, TextThatIsNotUtf8IsShownByteForByte) {
    QString text;
    BoxWatcher watcher([&](QMessageBox& box) {
        text = box.text();
        box.close();
    });
    ShowQtMessageBox("Gr\xfc\xdf"
                     "e",
                     "TARNIX", MB_OK);
    EXPECT_EQ(text, QString::fromLatin1("Gr\xfc\xdf"
                                        "e"));
}

TEST_F(MessageBoxes, WithoutADisplayTheTextGoesToStandardErrorAndTheAnswerIsOk) {
    ASSERT_FALSE(HasDisplay()) << "the tests run on the offscreen platform";
    InstallQtMessageBoxes();
    bool boxOpened = false;
    BoxWatcher watcher([&](QMessageBox& box) {
        boxOpened = true;
        box.close();
    });
    testing::internal::CaptureStderr();
    const int onGui = MessageBox("Cannot save database", "TARNIX", MB_YESNO);
    // A worker is answered at once, without the GUI thread's help.
    const int onWorker =
        std::async(std::launch::async, [] {
            return MessageBox("Error: cannot find spam folder", "Spam", MB_OKCANCEL);
        }).get();
    const std::string printed = testing::internal::GetCapturedStderr();
    QCoreApplication::processEvents();
    EXPECT_EQ(onGui, IDOK);
    EXPECT_EQ(onWorker, IDOK);
    EXPECT_EQ(printed, "TARNIX: Cannot save database\nSpam: Error: cannot find spam folder\n");
    EXPECT_FALSE(boxOpened);
}

TEST(HeadlessPlatform, ByName) {
    struct Row {
        const char* name;
        bool headless;
    };
    const Row rows[] = {
        {"offscreen", true},
        {"minimal", true},
        {"xcb", false},
        {"wayland", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(IsHeadlessPlatform(QString::fromLatin1(row.name)), row.headless) << row.name;
}

} // namespace
