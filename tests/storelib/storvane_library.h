#pragma once
// The real store library, loaded the way the program loads it (dlopen
// through the platform layer) and resolved by name, plus a recorder of its
// message boxes.
#include "platform/core/dynlib.h"
#include "platform/core/hooks.h"
#include "storelib/storvane.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace storetesting {

struct StorvaneLibrary {
    platform::HMODULE module = 0;
    storvane::OpenStoreFn openStore;
    storvane::CloseStoreFn closeStore;
    storvane::GetFolderNamesFn getFolderNames;
    storvane::FolderExistsFn folderExists;
    storvane::CreateFolderFn createFolder;
    storvane::OpenFolderFn openFolder;
    storvane::CloseFolderFn closeFolder;
    storvane::GetMessageCountFn getMessageCount;
    storvane::GetFirstMessageFn getFirstMessage;
    storvane::GetNextMessageFn getNextMessage;
    storvane::GetMessageFn getMessage;
    storvane::CreateMessageFn createMessage;
    storvane::DeleteMessageFn deleteMessage;
    storvane::MoveMessageFn moveMessage;
    storvane::RegisterNotificationFn registerNotification;
    storvane::UnRegisterNotificationFn unRegisterNotification;
    storvane::FreeMemFn freeMem;

    StorvaneLibrary() {
        module = platform::LoadLibrary(STORVANE_PATH);
        if (module == 0)
            throw std::runtime_error("cannot load " STORVANE_PATH);
        resolve("openStore", openStore);
        resolve("closeStore", closeStore);
        resolve("getFolderNames", getFolderNames);
        resolve("folderExists", folderExists);
        resolve("createFolder", createFolder);
        resolve("openFolder", openFolder);
        resolve("closeFolder", closeFolder);
        resolve("getMessageCount", getMessageCount);
        resolve("getFirstMessage", getFirstMessage);
        resolve("getNextMessage", getNextMessage);
        resolve("getMessage", getMessage);
        resolve("createMessage", createMessage);
        resolve("deleteMessage", deleteMessage);
        resolve("moveMessage", moveMessage);
        resolve("registerNotification", registerNotification);
        resolve("unRegisterNotification", unRegisterNotification);
        resolve("freeMem", freeMem);
    }
    ~StorvaneLibrary() { platform::FreeLibrary(module); }
    StorvaneLibrary(const StorvaneLibrary&) = delete;
    StorvaneLibrary& operator=(const StorvaneLibrary&) = delete;

    // The library's text as a string (null: "<null>"), given back.
    std::string take(char* text) {
        std::string out = text ? std::string(text) : std::string("<null>");
        freeMem(text);
        return out;
    }

private:
    template <typename Fn>
    void resolve(const char* name, Fn& entry) {
        entry = reinterpret_cast<Fn>(platform::GetProcAddress(module, name));
        if (!entry)
            throw std::runtime_error(std::string("no export ") + name);
    }
};

// Records message boxes instead of showing them, for its lifetime.
class BoxRecorder {
public:
    BoxRecorder() {
        platform::SetMessageBoxHook(
            [this](const std::string& text, const std::string& caption, unsigned) {
                std::lock_guard guard(mutex_);
                boxes_.push_back(text + " | " + caption);
                return int(platform::IDOK);
            });
    }
    ~BoxRecorder() { platform::SetMessageBoxHook({}); }
    // The boxes shown since the last call.
    std::vector<std::string> take() {
        std::lock_guard guard(mutex_);
        return std::exchange(boxes_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> boxes_;
};

} // namespace storetesting
