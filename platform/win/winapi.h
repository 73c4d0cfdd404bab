#pragma once
// Window handles and window messages, in place of the system's window manager.
//
// A window handle is a 32-bit id (never 0, never reused within a process) in a
// process-wide table that maps it to the Qt object receiving its messages: a
// form of the system, or a widget-less MessageWindow. Messages are delivered on
// the thread that owns that object. Every call looks the handle up under the
// table's lock, so a stale handle is refused instead of reaching a destroyed
// object.
#include "platform/win/messages.h"

#include <QObject>
#include <QRect>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

using HWND = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// What receives the messages of a window.
class WindowProcedure {
public:
    virtual ~WindowProcedure() = default;
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// Enters `object` into the handle table. Its messages go to `procedure` on the
// object's thread. The entry leaves the table when UnregisterWindow is called
// or, at the latest, when the object is destroyed.
HWND RegisterWindow(QObject* object, WindowProcedure* procedure, const std::string& className,
                    const std::string& caption, HWND parent = 0);
void UnregisterWindow(HWND window);
void SetWindowCaption(HWND window, const std::string& caption);
bool IsWindow(HWND window);

// Queues the message for the window and returns at once; false for a stale
// handle. Thread-safe; the messages one thread posts to one window arrive in
// the order they were posted.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Calls the window's procedure and returns its result: directly on the
// owner's thread, otherwise by queueing the call and blocking until the owner
// has handled it. 0 for a stale handle, or when the window goes away before
// handling it.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Top-level windows (no parent) by class name and caption; an empty text
// matches any. 0 when none.
HWND FindWindow(const std::string& className, const std::string& caption);
// Children of `parent` (0: top-level windows) after `childAfter` (0: from the first).
HWND FindWindowEx(HWND parent, HWND childAfter, const std::string& className,
                  const std::string& caption);
HWND GetParent(HWND window);
bool IsWindowVisible(HWND window);
bool GetWindowRect(HWND window, QRect& rect);
bool SetForegroundWindow(HWND window);

// A window without a widget: messages to its handle are handed to a function
// on the thread that created it. Stand-in windows, tests and the front end use it.
class MessageWindow : public QObject, public WindowProcedure {
public:
    using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;
    MessageWindow(const std::string& className, const std::string& caption, Handler handler,
                  QObject* parent = nullptr);
    ~MessageWindow() override;
    HWND handle() const { return handle_; }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    Handler handler_;
    HWND handle_;
};

} // namespace platform
