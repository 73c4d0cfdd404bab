#pragma once
// The 17 operations of the store library, carried out over the store
// interfaces step by step. They run under the library's lock and never show
// anything themselves: a failure is recorded in the Report (text and caption
// of its message box), and the export shows it after leaving the lock.
//
// Handles that find nothing (0, closed, of another store, of a store whose
// opening failed) give the failure answer and record nothing: the store
// handle's own failure was shown when it was opened.
#include "storelib/StoreContext.h"
#include "storelib/storvane.h"

#include <optional>
#include <string>

namespace storvane {

class Report {
public:
    struct Box {
        std::string text;
        std::string caption;
    };
    // Records the failure's box; a call shows at most one (it answers at once).
    void Fail(const char* text, const char* caption) {
        if (!box_)
            box_ = Box{text, caption};
    }
    const std::optional<Box>& box() const { return box_; }

private:
    std::optional<Box> box_;
};

StoreHandle OpenStore(Handles& handles, Report& report);
void CloseStore(Handles& handles, StoreHandle store);
char* GetFolderNames(Handles& handles, StoreHandle store);
std::int32_t FolderExists(Handles& handles, StoreHandle store, const char* name, Report& report);
std::int32_t CreateFolder(Handles& handles, StoreHandle store, const char* name, Report& report);
FolderHandle OpenFolder(Handles& handles, StoreHandle store, const char* name, Report& report);
void CloseFolder(Handles& handles, StoreHandle store, FolderHandle folder);
std::int32_t GetMessageCount(Handles& handles, StoreHandle store, FolderHandle folder,
                             Report& report);
char* GetFirstMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId* id,
                      Report& report);
char* GetNextMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId* id,
                     Report& report);
char* GetMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId id,
                 Report& report);
MessageId CreateMessage(Handles& handles, StoreHandle store, FolderHandle folder, const char* text,
                        MessageFlags flags, Report& report);
Status DeleteMessage(Handles& handles, StoreHandle store, FolderHandle folder, MessageId id,
                     Report& report);
Status MoveMessage(Handles& handles, StoreHandle store, FolderHandle source,
                   FolderHandle destination, MessageId id, Report& report);
Status RegisterNotification(Handles& handles, StoreHandle store, FolderHandle folder,
                            WindowHandle window, Report& report);
Status UnRegisterNotification(Handles& handles, StoreHandle store, FolderHandle folder,
                              WindowHandle window, Report& report);
void FreeMem(void* text);

} // namespace storvane
