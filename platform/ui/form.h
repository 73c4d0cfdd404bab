#pragma once
// The base of the system's windows: a widget that is also a window in the
// handle table.
//
// A form is registered under its class name (`TfrmMainSpam` ...) when it is
// made and leaves the table when it is destroyed. Its caption in the table
// follows windowTitle(); its visibility and screen rectangle follow its show,
// hide, move and resize events, so other threads can look them up without
// touching the widget. Window messages reach it on the GUI thread through
// WindowProc, which calls the handler registered for the message with
// OnMessage (0 for a message without a handler); a form may also override
// WindowProc and pass what it does not handle on to Form::WindowProc.
//
// A form's parent window is the nearest form among its parent widgets when it
// is made. Forms are made, shown and destroyed on the GUI thread only.
#include "platform/win/winapi.h"

#include <QWidget>
#include <functional>
#include <string>
#include <unordered_map>

namespace platform {

class Form : public QWidget, public WindowProcedure {
    Q_OBJECT
public:
    using MessageHandler = std::function<LRESULT(WPARAM wParam, LPARAM lParam)>;

    explicit Form(const std::string& className, QWidget* parent = nullptr,
                  Qt::WindowFlags flags = {});
    ~Form() override;

    HWND handle() const { return handle_; }
    const std::string& className() const { return className_; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Raises the form's window and gives it the focus; a hidden form stays hidden.
    void BringToFront() override;

protected:
    // Replaces the handler of `message`; an empty function removes it.
    void OnMessage(UINT message, MessageHandler handler);
    // Takes the form out of the handle table early: a form whose handlers use
    // its own members calls this first thing in its destructor, so that no
    // message reaches a half-destroyed form.
    void Unregister();

    bool event(QEvent* event) override;

private:
    void reportState();
    void reportOwnState();

    std::string className_;
    std::unordered_map<UINT, MessageHandler> handlers_;
    HWND handle_ = 0;
};

} // namespace platform
