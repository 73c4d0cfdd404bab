#include "platform/ui/form.h"

#include <QEvent>

namespace platform {
namespace {

HWND parentFormOf(const QWidget* widget) {
    for (const QWidget* up = widget ? widget->parentWidget() : nullptr; up; up = up->parentWidget())
        if (auto* form = qobject_cast<const Form*>(up))
            return form->handle();
    return 0;
}

} // namespace

Form::Form(const std::string& className, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), className_(className) {
    handle_ =
        RegisterWindow(this, this, className_, windowTitle().toStdString(), parentFormOf(this));
}

Form::~Form() {
    Unregister();
}

void Form::Unregister() {
    UnregisterWindow(handle_);
    handle_ = 0;
}

LRESULT Form::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    auto found = handlers_.find(message);
    if (found == handlers_.end())
        return 0;
    // A copy: the handler may replace itself (or others) while it runs.
    MessageHandler handler = found->second;
    return handler(wParam, lParam);
}

void Form::OnMessage(UINT message, MessageHandler handler) {
    if (handler)
        handlers_[message] = std::move(handler);
    else
        handlers_.erase(message);
}

void Form::BringToFront() {
    QWidget* top = window();
    top->raise();
    top->activateWindow();
    if (top != this)
        setFocus(Qt::OtherFocusReason);
}

bool Form::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::WindowTitleChange:
        SetWindowCaption(handle_, windowTitle().toStdString());
        break;
    case QEvent::WindowActivate:
        if (isWindow())
            NoteWindowActivated(handle_);
        break;
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
        reportState();
        break;
    default:
        break;
    }
    return handled;
}

// Forms inside this one move and show with it, so their states are renewed too.
void Form::reportState() {
    reportOwnState();
    for (Form* inner : findChildren<Form*>())
        inner->reportOwnState();
}

// Screen coordinates, frame included for a window.
void Form::reportOwnState() {
    if (handle_ == 0)
        return;
    const QRect rect = isWindow() ? frameGeometry() : QRect(mapToGlobal(QPoint(0, 0)), size());
    UpdateWindowState(handle_, isVisible(), rect);
}

} // namespace platform
