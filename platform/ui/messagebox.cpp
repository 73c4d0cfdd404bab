#include "platform/ui/messagebox.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <mutex>

namespace platform {
namespace {

int toStandardError(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return IDOK;
}

// Runs the presenter on the GUI thread, the calling thread waiting for it.
int onGuiThread(const MessageBoxPresenter& presenter, const std::string& text,
                const std::string& caption, unsigned flags) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return toStandardError(text, caption);
    if (QThread::currentThread() == app->thread())
        return presenter(text, caption, flags);
    int answer = IDOK;
    // Should the application go before it runs the call, the wait ends with
    // the default answer.
    QMetaObject::invokeMethod(
        app, [&] { return presenter(text, caption, flags); }, Qt::BlockingQueuedConnection,
        &answer);
    return answer;
}

// Texts are 8-bit without a character set; UTF-8 is taken when it is valid,
// else each byte is one character.
QString toQString(const std::string& text) {
    QByteArray bytes = QByteArray::fromStdString(text);
    bytes.replace("\r\n", "\n");
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

QMessageBox::Icon iconOf(unsigned flags) {
    switch (flags & 0xF0) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

struct Buttons {
    QMessageBox::StandardButtons all;
    QMessageBox::StandardButton preferred;
    QMessageBox::StandardButton onClose;
};

Buttons buttonsOf(unsigned flags) {
    switch (flags & 0x0F) {
    case MB_OKCANCEL:
        return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Cancel};
    case MB_YESNO:
        return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No};
    default:
        return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
    }
}

int answerOf(int button) {
    switch (button) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

} // namespace

bool IsHeadlessPlatform(const QString& platformName) {
    return platformName == QLatin1String("offscreen") || platformName == QLatin1String("minimal");
}

bool HasDisplay() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
           !IsHeadlessPlatform(QGuiApplication::platformName());
}

int ShowQtMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    const Buttons buttons = buttonsOf(flags);
    QMessageBox box(iconOf(flags), toQString(caption), toQString(text), buttons.all);
    box.setDefaultButton(buttons.preferred);
    box.setEscapeButton(buttons.onClose);
    return answerOf(box.exec());
}

void InstallQtMessageBoxes() {
    SetMessageBoxHook([](const std::string& text, const std::string& caption, unsigned flags) {
        if (!HasDisplay())
            return toStandardError(text, caption);
        return onGuiThread(ShowQtMessageBox, text, caption, flags);
    });
}

void InstallMessageBoxPresenter(MessageBoxPresenter presenter) {
    SetMessageBoxHook([presenter = std::move(presenter)](
                          const std::string& text, const std::string& caption, unsigned flags) {
        return onGuiThread(presenter, text, caption, flags);
    });
}

void UninstallMessageBoxes() {
    SetMessageBoxHook({});
}

struct MessageBoxRecorder::State {
    mutable std::mutex lock;
    std::vector<Shown> shown;
    int answer;
};

MessageBoxRecorder::MessageBoxRecorder(int answer) : state_(std::make_shared<State>()) {
    state_->answer = answer;
}

MessageBoxPresenter MessageBoxRecorder::presenter() const {
    return [state = state_](const std::string& text, const std::string& caption, unsigned flags) {
        std::lock_guard lock(state->lock);
        state->shown.push_back({text, caption, flags, QThread::currentThread()});
        return state->answer;
    };
}

void MessageBoxRecorder::setAnswer(int answer) {
    std::lock_guard lock(state_->lock);
    state_->answer = answer;
}

std::vector<MessageBoxRecorder::Shown> MessageBoxRecorder::shown() const {
    std::lock_guard lock(state_->lock);
    return state_->shown;
}

} // namespace platform
