// The exports of the store library: the 17 functions by their undecorated C
// names, and nothing else (hidden visibility plus a version script).
//
// Every export runs its operation under the library's one lock, so calls
// from the program's main thread and from its worker threads never overlap.
// No lock is held while a message box shows: the operation records the
// failure, the export leaves the lock and then shows the box, so a box that
// waits for the user blocks no other thread's call. No exception leaves an
// export: anything thrown gives the call's failure answer.
#include "storelib/storvane.h"
#include "platform/core/hooks.h"
#include "storelib/StoreOperations.h"

#include <mutex>
#include <type_traits>

#define STORVANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace storvane {
namespace {

std::mutex& libraryLock() {
    static std::mutex lock;
    return lock;
}

Handles& handles() {
    static Handles table;
    return table;
}

void show(const Report& report) noexcept {
    if (!report.box())
        return;
    try {
        platform::MessageBox(report.box()->text, report.box()->caption, platform::MB_OK);
    } catch (...) {
        // A box that cannot be shown changes nothing of the answer.
    }
}

// Runs `operation(report)` under the lock and answers its result, or
// `failure` when it throws; shows the recorded box afterwards.
template <typename Result, typename Operation>
Result call(Result failure, Operation operation) noexcept {
    Report report;
    Result result = failure;
    try {
        std::lock_guard guard(libraryLock());
        result = operation(report);
    } catch (...) {
        result = failure;
    }
    show(report);
    return result;
}

template <typename Operation>
void callVoid(Operation operation) noexcept {
    try {
        std::lock_guard guard(libraryLock());
        operation();
    } catch (...) {
    }
}

} // namespace
} // namespace storvane

using namespace storvane;

STORVANE_EXPORT StoreHandle openStore() {
    return call<StoreHandle>(0, [](Report& r) { return OpenStore(handles(), r); });
}

STORVANE_EXPORT void closeStore(StoreHandle store) {
    callVoid([&] { CloseStore(handles(), store); });
}

STORVANE_EXPORT char* getFolderNames(StoreHandle store) {
    return call<char*>(nullptr, [&](Report&) { return GetFolderNames(handles(), store); });
}

STORVANE_EXPORT std::int32_t folderExists(StoreHandle store, const char* name) {
    return call<std::int32_t>(0,
                              [&](Report& r) { return FolderExists(handles(), store, name, r); });
}

STORVANE_EXPORT std::int32_t createFolder(StoreHandle store, const char* name) {
    return call<std::int32_t>(0,
                              [&](Report& r) { return CreateFolder(handles(), store, name, r); });
}

STORVANE_EXPORT FolderHandle openFolder(StoreHandle store, const char* name) {
    return call<FolderHandle>(0, [&](Report& r) { return OpenFolder(handles(), store, name, r); });
}

STORVANE_EXPORT void closeFolder(StoreHandle store, FolderHandle folder) {
    callVoid([&] { CloseFolder(handles(), store, folder); });
}

STORVANE_EXPORT std::int32_t getMessageCount(StoreHandle store, FolderHandle folder) {
    return call<std::int32_t>(
        0, [&](Report& r) { return GetMessageCount(handles(), store, folder, r); });
}

STORVANE_EXPORT char* getFirstMessage(StoreHandle store, FolderHandle folder, MessageId* id) {
    return call<char*>(nullptr,
                       [&](Report& r) { return GetFirstMessage(handles(), store, folder, id, r); });
}

STORVANE_EXPORT char* getNextMessage(StoreHandle store, FolderHandle folder, MessageId* id) {
    return call<char*>(nullptr,
                       [&](Report& r) { return GetNextMessage(handles(), store, folder, id, r); });
}

STORVANE_EXPORT char* getMessage(StoreHandle store, FolderHandle folder, MessageId id) {
    return call<char*>(nullptr,
                       [&](Report& r) { return GetMessage(handles(), store, folder, id, r); });
}

STORVANE_EXPORT MessageId createMessage(StoreHandle store, FolderHandle folder, const char* text,
                                        MessageFlags flags) {
    return call<MessageId>(
        0, [&](Report& r) { return CreateMessage(handles(), store, folder, text, flags, r); });
}

STORVANE_EXPORT Status deleteMessage(StoreHandle store, FolderHandle folder, MessageId id) {
    return call<Status>(1,
                        [&](Report& r) { return DeleteMessage(handles(), store, folder, id, r); });
}

STORVANE_EXPORT Status moveMessage(StoreHandle store, FolderHandle source, FolderHandle destination,
                                   MessageId id) {
    return call<Status>(
        1, [&](Report& r) { return MoveMessage(handles(), store, source, destination, id, r); });
}

STORVANE_EXPORT Status registerNotification(StoreHandle store, FolderHandle folder,
                                            WindowHandle window) {
    return call<Status>(
        1, [&](Report& r) { return RegisterNotification(handles(), store, folder, window, r); });
}

STORVANE_EXPORT Status unRegisterNotification(StoreHandle store, FolderHandle folder,
                                              WindowHandle window) {
    return call<Status>(
        1, [&](Report& r) { return UnRegisterNotification(handles(), store, folder, window, r); });
}

STORVANE_EXPORT void freeMem(void* text) {
    FreeMem(text);
}

// The exports have exactly the types the program casts them to.
static_assert(std::is_same_v<decltype(&openStore), OpenStoreFn>);
static_assert(std::is_same_v<decltype(&closeStore), CloseStoreFn>);
static_assert(std::is_same_v<decltype(&getFolderNames), GetFolderNamesFn>);
static_assert(std::is_same_v<decltype(&folderExists), FolderExistsFn>);
static_assert(std::is_same_v<decltype(&createFolder), CreateFolderFn>);
static_assert(std::is_same_v<decltype(&openFolder), OpenFolderFn>);
static_assert(std::is_same_v<decltype(&closeFolder), CloseFolderFn>);
static_assert(std::is_same_v<decltype(&getMessageCount), GetMessageCountFn>);
static_assert(std::is_same_v<decltype(&getFirstMessage), GetFirstMessageFn>);
static_assert(std::is_same_v<decltype(&getNextMessage), GetNextMessageFn>);
static_assert(std::is_same_v<decltype(&getMessage), GetMessageFn>);
static_assert(std::is_same_v<decltype(&createMessage), CreateMessageFn>);
static_assert(std::is_same_v<decltype(&deleteMessage), DeleteMessageFn>);
static_assert(std::is_same_v<decltype(&moveMessage), MoveMessageFn>);
static_assert(std::is_same_v<decltype(&registerNotification), RegisterNotificationFn>);
static_assert(std::is_same_v<decltype(&unRegisterNotification), UnRegisterNotificationFn>);
static_assert(std::is_same_v<decltype(&freeMem), FreeMemFn>);
