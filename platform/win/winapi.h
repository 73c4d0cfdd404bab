#pragma once
// Window handles and window messages, in place of the system's window manager.
//
// A window handle is a 32-bit id (never 0, never reused within a process) in a
// process-wide table that maps it to the Qt object receiving its messages: a
// form of the system, or a widget-less MessageWindow. Messages are delivered on
// the thread that owns that object. Every call looks the handle up under the
// table's lock, so a stale handle is refused instead of reaching a destroyed
// object.
//
// Delivery goes through a small receiver object that is a Qt child of the
// window's object: a posted message is a Qt event queued to that receiver
// while the table's lock is held, and the receiver leaves the table before it
// is destroyed, so nothing is ever queued to an object that is going away.
// Events still queued when it goes are discarded by Qt; a SendMessage waiting
// on one of them wakes with 0.
//
// Visibility and rectangle are kept in the table and reported by the window's
// owner on its own thread (forms from their show, hide, move and resize
// events; MessageWindow from its setters), so any thread can ask for them
// without touching a widget or waiting for the owner.
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

// What receives the messages of a window. All calls come on the thread that
// owns the registered object.
class WindowProcedure {
public:
    virtual ~WindowProcedure() = default;
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Asked by SetForegroundWindow: bring the window to the front and give it
    // the keyboard focus. The default does nothing (no widget to raise).
    virtual void BringToFront() {}
};

// Enters `object` into the handle table. Its messages go to `procedure` on the
// object's thread. The entry leaves the table when UnregisterWindow is called
// or, at the latest, when the object is destroyed; a procedure that is part of
// the object itself must unregister in its own destructor, before its members
// go. Must be called on the object's thread. Answers 0 (nothing registered)
// for a null object or procedure, a call from another thread, a non-zero
// parent that is not a window, or when the handles are used up.
HWND RegisterWindow(QObject* object, WindowProcedure* procedure, const std::string& className,
                    const std::string& caption, HWND parent = 0);
void UnregisterWindow(HWND window);
void SetWindowCaption(HWND window, const std::string& caption);
bool IsWindow(HWND window);
// The texts the window was registered with; empty for a stale handle.
std::string GetClassName(HWND window);
std::string GetWindowText(HWND window);

// Called by a window's owner when the window is shown, hidden, moved or
// resized; `rect` is in screen coordinates. Ignored for a stale handle.
void UpdateWindowState(HWND window, bool visible, const QRect& rect);

// Queues the message for the window and returns at once; false for a stale
// handle. Thread-safe; the messages one thread posts to one window arrive in
// the order they were posted.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Calls the window's procedure and returns its result: directly on the
// owner's thread, otherwise by queueing the call and blocking until the owner
// has handled it. 0 for a stale handle, or when the window goes away before
// handling it. The owner's thread must run an event loop (or process its
// events), or a sender from another thread waits until the window goes away.
// A waiting sender handles nothing meanwhile: two threads that send to each
// other's windows at the same time, or a sender the owner's thread is
// waiting for, deadlock. The system's workers only post.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Top-level windows (no parent) by class name and caption, in the order they
// were registered; an empty text matches any, letter case is ignored. 0 when none.
HWND FindWindow(const std::string& className, const std::string& caption);
// Direct children of `parent` (0: top-level windows) after `childAfter` (0:
// from the first). 0 when none, or when `childAfter` is not such a child.
HWND FindWindowEx(HWND parent, HWND childAfter, const std::string& className,
                  const std::string& caption);
// 0 for a top-level window or a stale handle.
HWND GetParent(HWND window);
// The window and all its parents are visible.
bool IsWindowVisible(HWND window);
// The last rectangle its owner reported (screen coordinates); false for a stale handle.
bool GetWindowRect(HWND window, QRect& rect);
// Makes the window the foreground window and has its owner bring it to the
// front: at once on the owner's thread, else queued to it without waiting.
// False for a stale handle.
bool SetForegroundWindow(HWND window);
// Called by a window's owner when the user activates the window.
void NoteWindowActivated(HWND window);
// The window last made the foreground window or activated, 0 when none or
// when it is gone.
HWND GetForegroundWindow();

// A process-wide message number for a name, the same for every call with the
// same name (letter case ignored), in the range 0xC000 to 0xFFFF; 0 for an
// empty name or when the range is used up.
UINT RegisterWindowMessage(const std::string& name);

// A window without a widget: messages to its handle are handed to a function
// on the thread that created it. Stand-in windows, tests and the front end use
// it. It is created hidden with an empty rectangle; its owner sets both.
class MessageWindow : public QObject, public WindowProcedure {
public:
    using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;
    MessageWindow(const std::string& className, const std::string& caption, Handler handler,
                  QObject* parent = nullptr, HWND parentWindow = 0);
    ~MessageWindow() override;
    HWND handle() const { return handle_; }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void setCaption(const std::string& caption);
    void setVisible(bool visible);
    void setGeometry(const QRect& rect);
    bool isVisible() const { return visible_; }
    QRect geometry() const { return rect_; }

private:
    Handler handler_;
    HWND handle_;
    bool visible_ = false;
    QRect rect_;
};

} // namespace platform
