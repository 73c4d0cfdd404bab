// Helper of the killed-moves test: moves every message of the Inbox to
// "Spam" and back, through the loaded store library, until it is killed.
#include "tests/storelib/storvane_library.h"

#include <vector>

int main() {
    storetesting::StorvaneLibrary lib;
    storvane::StoreHandle store = lib.openStore();
    const char* names[2] = {"Inbox", "Spam"};
    for (int from = 0;; from = 1 - from) {
        storvane::FolderHandle source = lib.openFolder(store, names[from]);
        storvane::FolderHandle target = lib.openFolder(store, names[1 - from]);
        std::vector<storvane::MessageId> ids;
        storvane::MessageId id = 0;
        for (char* text = lib.getFirstMessage(store, source, &id); text;
             text = lib.getNextMessage(store, source, &id)) {
            lib.freeMem(text);
            ids.push_back(id);
        }
        for (storvane::MessageId each : ids)
            lib.moveMessage(store, source, target, each);
        lib.closeFolder(store, source);
        lib.closeFolder(store, target);
    }
}
