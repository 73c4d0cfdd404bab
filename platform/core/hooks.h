#pragma once
// Hooks through which the program plugs its user interface into display-free
// code: showing a message box, and letting the calling thread handle its
// pending window messages. Core code calls these; the program installs the
// real implementations at start, tests install recorders.
#include <functional>
#include <string>

namespace platform {

// Message box styles and answers, as the system's code passes them.
enum MessageBoxFlags : unsigned {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum MessageBoxAnswer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

using MessageBoxHook =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
using ProcessEventsHook = std::function<void()>;

// Shows a modal message box through the installed hook and returns its answer.
// Without a hook the text goes to standard error and the answer is IDOK.
// Safe to call from any thread.
int MessageBox(const std::string& text, const std::string& caption, unsigned flags = MB_OK);

// Installs the message box hook; an empty function restores the default.
void SetMessageBoxHook(MessageBoxHook hook);

// Lets the calling thread handle its pending window messages (timers, clicks,
// store notifications). Without a hook it does nothing.
void ProcessPendingEvents();
void SetProcessEventsHook(ProcessEventsHook hook);

} // namespace platform
