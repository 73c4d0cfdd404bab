#include "hooks.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace platform {
namespace {

// The hooks are read far more often than they are set; a shared_ptr copy taken
// under the lock lets a hook run without holding the lock (a message box can
// block for a long time, and a hook may itself raise another box).
std::mutex gHookLock;
std::shared_ptr<const MessageBoxHook> gMessageBox;
std::shared_ptr<const ProcessEventsHook> gProcessEvents;

template <typename T>
std::shared_ptr<const T> current(const std::shared_ptr<const T>& slot) {
    std::lock_guard lock(gHookLock);
    return slot;
}

} // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    if (auto hook = current(gMessageBox); hook && *hook)
        return (*hook)(text, caption, flags);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return IDOK;
}

void SetMessageBoxHook(MessageBoxHook hook) {
    auto next = hook ? std::make_shared<const MessageBoxHook>(std::move(hook)) : nullptr;
    std::lock_guard lock(gHookLock);
    gMessageBox = std::move(next);
}

void ProcessPendingEvents() {
    if (auto hook = current(gProcessEvents); hook && *hook)
        (*hook)();
}

void SetProcessEventsHook(ProcessEventsHook hook) {
    auto next = hook ? std::make_shared<const ProcessEventsHook>(std::move(hook)) : nullptr;
    std::lock_guard lock(gHookLock);
    gProcessEvents = std::move(next);
}

} // namespace platform
