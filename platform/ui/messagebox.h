#pragma once
// Message boxes on Qt, behind the core hook platform::MessageBox.
//
// Every box is shown on the GUI thread. A box raised there is modal at once;
// one raised on another thread is handed to the GUI thread, which shows it
// while the raising thread waits for the answer, and which keeps handling its
// own events meanwhile. A thread that raises a box while the GUI thread waits
// for that thread deadlocks, as it would with the system's own boxes: worker
// jobs are not joined from the GUI thread while they may still report.
//
// Without a display (no QGuiApplication, or the offscreen or minimal
// platform) nobody could answer a box: the text goes to standard error as
// "caption: text" and the answer is IDOK, without going to the GUI thread.
#include "platform/core/hooks.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QThread;

namespace platform {

// What shows a box and returns its answer; always called on the GUI thread.
using MessageBoxPresenter =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Installs the Qt message boxes into the core hook. The program calls this
// once its QApplication exists.
void InstallQtMessageBoxes();
// Installs `presenter` in place of the Qt box, reached the same way (on the
// GUI thread, the raising thread waiting) but also without a display. Tests
// use it with a MessageBoxRecorder.
void InstallMessageBoxPresenter(MessageBoxPresenter presenter);
// Back to the core default (standard error, IDOK).
void UninstallMessageBoxes();

// Whether a user can see and answer a box.
bool HasDisplay();
// The platform names under which no user sees the windows.
bool IsHeadlessPlatform(const QString& platformName);

// The Qt box itself, on the GUI thread: the caption, the text ("\r\n" as line
// breaks), the buttons of the flags' low four bits (OK; OK and Cancel; Yes
// and No; others are shown as OK) with the first one as default, and the
// icon of the next four bits. Closing the box answers Cancel, No or OK.
int ShowQtMessageBox(const std::string& text, const std::string& caption, unsigned flags);

// A presenter for tests: keeps every box it was asked to show, with the
// thread it was shown on, and answers a chosen button.
class MessageBoxRecorder {
public:
    struct Shown {
        std::string text;
        std::string caption;
        unsigned flags;
        QThread* thread;
    };

    explicit MessageBoxRecorder(int answer = IDOK);
    MessageBoxPresenter presenter() const;
    void install() const { InstallMessageBoxPresenter(presenter()); }
    void setAnswer(int answer);
    std::vector<Shown> shown() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace platform
