// The handle table and message delivery.
//
// The races this file is built around:
// - A post from any thread against the window's destruction on its own
//   thread. The event is queued while the table's lock is held, and the
//   receiver takes its entry out under the same lock before Qt destroys it, so
//   a post either lands in a live receiver's queue (and is discarded with it)
//   or finds the handle gone.
// - A cross-thread SendMessage against the same destruction. The sender waits
//   on a reply carried by the event; the event's destructor answers 0 unless
//   it was handled, and Qt destroys the queued events of a dying object, so
//   the sender always wakes.
// - An event that reaches a receiver whose window was unregistered after the
//   post (the receiver lives on until its deferred deletion). Before each
//   dispatch the receiver checks that it still has its entry.
// Handles come from a counter and are never reused, so a stale handle can
// never name a newer window.
#include "platform/win/winapi.h"

#include "platform/core/collation.h"
#include "platform/core/hooks.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <climits>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {

// The answer slot of one SendMessage across threads. The event that carries
// it answers 0 when it is destroyed unhandled (its receiver went away), so a
// waiting sender always wakes.
class Reply {
public:
    void finish(LRESULT result) {
        {
            std::lock_guard lock(lock_);
            if (done_)
                return;
            result_ = result;
            done_ = true;
        }
        ready_.notify_all();
    }
    LRESULT wait() {
        std::unique_lock lock(lock_);
        ready_.wait(lock, [this] { return done_; });
        return result_;
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    bool done_ = false;
    LRESULT result_ = 0;
};

QEvent::Type windowEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class WindowEvent : public QEvent {
public:
    enum class Kind { Message, BringToFront };

    WindowEvent(Kind kind, UINT message, WPARAM wParam, LPARAM lParam,
                std::shared_ptr<Reply> reply = nullptr)
        : QEvent(windowEventType()), kind(kind), message(message), wParam(wParam), lParam(lParam),
          reply(std::move(reply)) {}
    ~WindowEvent() override {
        if (reply)
            reply->finish(0);
    }

    const Kind kind;
    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;
    const std::shared_ptr<Reply> reply;
};

class Receiver;

struct Entry {
    WindowProcedure* procedure = nullptr;
    Receiver* receiver = nullptr;
    std::string className;
    std::string caption;
    HWND parent = 0;
    bool visible = false;
    QRect rect;
};

// Ordered by handle, and handles only grow: iteration order is registration order.
std::mutex gTableLock;
std::map<HWND, Entry> gWindows;
HWND gNextHandle = 1;
HWND gForeground = 0;

void forgetReceiver(HWND window, const Receiver* receiver);
LRESULT dispatch(WindowProcedure* procedure, UINT message, WPARAM wParam, LPARAM lParam);

// Lives on the window's thread as a child of the window's object and turns
// queued events back into calls of the window's procedure.
class Receiver : public QObject {
public:
    Receiver(HWND window, QObject* parent) : QObject(parent), window_(window) {}
    ~Receiver() override { forgetReceiver(window_, this); }

    bool event(QEvent* event) override {
        if (event->type() != windowEventType())
            return QObject::event(event);
        auto* windowEvent = static_cast<WindowEvent*>(event);
        WindowProcedure* procedure = currentProcedure();
        if (!procedure)
            return true; // unregistered meanwhile; a waiting sender gets 0
        if (windowEvent->kind == WindowEvent::Kind::BringToFront) {
            procedure->BringToFront();
            return true;
        }
        LRESULT result =
            dispatch(procedure, windowEvent->message, windowEvent->wParam, windowEvent->lParam);
        if (windowEvent->reply)
            windowEvent->reply->finish(result);
        return true;
    }

private:
    WindowProcedure* currentProcedure() const {
        std::lock_guard lock(gTableLock);
        auto found = gWindows.find(window_);
        return found != gWindows.end() && found->second.receiver == this ? found->second.procedure
                                                                         : nullptr;
    }

    const HWND window_;
};

// Only the entry made with the receiver can refer to it.
void forgetReceiver(HWND window, const Receiver* receiver) {
    std::lock_guard lock(gTableLock);
    auto found = gWindows.find(window);
    if (found == gWindows.end() || found->second.receiver != receiver)
        return;
    if (gForeground == window)
        gForeground = 0;
    gWindows.erase(found);
}

// An exception must not unwind through Qt's event dispatch; it is reported the
// way an unhandled error of a window handler is, and the message answers 0.
LRESULT dispatch(WindowProcedure* procedure, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return procedure->WindowProc(message, wParam, lParam);
    } catch (const std::exception& error) {
        MessageBox(error.what(), QCoreApplication::applicationName().toStdString(),
                   MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBox("Unknown error", QCoreApplication::applicationName().toStdString(),
                   MB_OK | MB_ICONERROR);
    }
    return 0;
}

// Callers hold gTableLock.
const Entry* findEntry(HWND window) {
    auto found = gWindows.find(window);
    return found == gWindows.end() ? nullptr : &found->second;
}

bool matches(const Entry& entry, const std::string& className, const std::string& caption) {
    return (className.empty() || SameTextIgnoreCase(entry.className, className)) &&
           (caption.empty() || SameTextIgnoreCase(entry.caption, caption));
}

} // namespace

HWND RegisterWindow(QObject* object, WindowProcedure* procedure, const std::string& className,
                    const std::string& caption, HWND parent) {
    if (!object || !procedure || object->thread() != QThread::currentThread())
        return 0;
    HWND window = 0;
    {
        std::lock_guard lock(gTableLock);
        if ((parent != 0 && !gWindows.contains(parent)) || gNextHandle > INT32_MAX)
            return 0;
        window = gNextHandle++;
        Entry entry;
        entry.procedure = procedure;
        entry.className = className;
        entry.caption = caption;
        entry.parent = parent;
        gWindows.emplace(window, std::move(entry));
    }
    // Made outside the lock: a Qt child announces itself to its parent with
    // an event, and the parent may be a window whose handlers use the table.
    // Until the receiver is set, posts to the new handle are refused.
    auto* receiver = new Receiver(window, object); // owned by `object`
    std::lock_guard lock(gTableLock);
    if (auto found = gWindows.find(window); found != gWindows.end())
        found->second.receiver = receiver;
    return window;
}

void UnregisterWindow(HWND window) {
    std::lock_guard lock(gTableLock);
    auto found = gWindows.find(window);
    if (found == gWindows.end())
        return;
    // Under the lock, like a post: a receiver in the table is still alive even
    // if its object is being destroyed on another thread right now. Its
    // pending events are discarded with it; waiting senders get 0.
    if (Receiver* receiver = found->second.receiver)
        receiver->deleteLater();
    if (gForeground == window)
        gForeground = 0;
    gWindows.erase(found);
}

void SetWindowCaption(HWND window, const std::string& caption) {
    std::lock_guard lock(gTableLock);
    if (auto found = gWindows.find(window); found != gWindows.end())
        found->second.caption = caption;
}

bool IsWindow(HWND window) {
    std::lock_guard lock(gTableLock);
    return gWindows.contains(window);
}

std::string GetClassName(HWND window) {
    std::lock_guard lock(gTableLock);
    const Entry* entry = findEntry(window);
    return entry ? entry->className : std::string();
}

std::string GetWindowText(HWND window) {
    std::lock_guard lock(gTableLock);
    const Entry* entry = findEntry(window);
    return entry ? entry->caption : std::string();
}

void UpdateWindowState(HWND window, bool visible, const QRect& rect) {
    std::lock_guard lock(gTableLock);
    if (auto found = gWindows.find(window); found != gWindows.end()) {
        found->second.visible = visible;
        found->second.rect = rect;
    }
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(gTableLock);
    const Entry* entry = findEntry(window);
    if (!entry || !entry->receiver)
        return false;
    // Queued under the lock: the receiver cannot leave the table, and so
    // cannot be destroyed, until the event is in its queue.
    QCoreApplication::postEvent(entry->receiver,
                                new WindowEvent(WindowEvent::Kind::Message, message, wParam,
                                                lParam)); // owned by Qt's event queue
    return true;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowProcedure* direct = nullptr;
    std::shared_ptr<Reply> reply;
    {
        std::lock_guard lock(gTableLock);
        const Entry* entry = findEntry(window);
        if (!entry || !entry->receiver)
            return 0;
        if (entry->receiver->thread() == QThread::currentThread()) {
            direct = entry->procedure;
        } else {
            reply = std::make_shared<Reply>();
            QCoreApplication::postEvent(entry->receiver,
                                        new WindowEvent(WindowEvent::Kind::Message, message, wParam,
                                                        lParam, reply)); // owned by Qt
        }
    }
    // On the owner's thread nothing can destroy the window between the look-up
    // and the call but the call itself.
    if (direct)
        return dispatch(direct, message, wParam, lParam);
    return reply->wait();
}

HWND FindWindow(const std::string& className, const std::string& caption) {
    return FindWindowEx(0, 0, className, caption);
}

HWND FindWindowEx(HWND parent, HWND childAfter, const std::string& className,
                  const std::string& caption) {
    std::lock_guard lock(gTableLock);
    auto it = gWindows.begin();
    if (childAfter != 0) {
        it = gWindows.find(childAfter);
        if (it == gWindows.end() || it->second.parent != parent)
            return 0;
        ++it;
    }
    for (; it != gWindows.end(); ++it)
        if (it->second.parent == parent && matches(it->second, className, caption))
            return it->first;
    return 0;
}

HWND GetParent(HWND window) {
    std::lock_guard lock(gTableLock);
    const Entry* entry = findEntry(window);
    return entry ? entry->parent : 0;
}

bool IsWindowVisible(HWND window) {
    std::lock_guard lock(gTableLock);
    const Entry* entry = findEntry(window);
    if (!entry)
        return false;
    // Parents always have smaller handles, so the walk ends.
    for (; entry; entry = entry->parent ? findEntry(entry->parent) : nullptr)
        if (!entry->visible)
            return false;
    return true;
}

bool GetWindowRect(HWND window, QRect& rect) {
    std::lock_guard lock(gTableLock);
    const Entry* entry = findEntry(window);
    if (!entry)
        return false;
    rect = entry->rect;
    return true;
}

bool SetForegroundWindow(HWND window) {
    WindowProcedure* direct = nullptr;
    {
        std::lock_guard lock(gTableLock);
        const Entry* entry = findEntry(window);
        if (!entry || !entry->receiver)
            return false;
        gForeground = window;
        // The owner's own thread raises the window at once: its callers wait
        // on that thread for the window to take the keys.
        if (entry->receiver->thread() == QThread::currentThread())
            direct = entry->procedure;
        else
            QCoreApplication::postEvent(entry->receiver,
                                        new WindowEvent(WindowEvent::Kind::BringToFront, 0, 0,
                                                        0)); // owned by Qt's event queue
    }
    if (direct)
        direct->BringToFront();
    return true;
}

void NoteWindowActivated(HWND window) {
    std::lock_guard lock(gTableLock);
    if (gWindows.contains(window))
        gForeground = window;
}

HWND GetForegroundWindow() {
    std::lock_guard lock(gTableLock);
    return gForeground;
}

UINT RegisterWindowMessage(const std::string& name) {
    static std::mutex namesLock;
    static std::map<std::string, UINT, LessIgnoreCase> names;
    if (name.empty())
        return 0;
    std::lock_guard lock(namesLock);
    if (auto found = names.find(name); found != names.end())
        return found->second;
    UINT next = 0xC000 + static_cast<UINT>(names.size());
    if (next > 0xFFFF)
        return 0;
    names.emplace(name, next);
    return next;
}

MessageWindow::MessageWindow(const std::string& className, const std::string& caption,
                             Handler handler, QObject* parent, HWND parentWindow)
    : QObject(parent), handler_(std::move(handler)),
      handle_(RegisterWindow(this, this, className, caption, parentWindow)) {}

MessageWindow::~MessageWindow() {
    UnregisterWindow(handle_);
}

LRESULT MessageWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return handler_ ? handler_(message, wParam, lParam) : 0;
}

void MessageWindow::setCaption(const std::string& caption) {
    SetWindowCaption(handle_, caption);
}

void MessageWindow::setVisible(bool visible) {
    visible_ = visible;
    UpdateWindowState(handle_, visible_, rect_);
}

void MessageWindow::setGeometry(const QRect& rect) {
    rect_ = rect;
    UpdateWindowState(handle_, visible_, rect_);
}

} // namespace platform
