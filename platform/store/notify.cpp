// The one place where the store meets the window layer: its notifications
// are window messages.
#include "platform/store/storeapi.h"
#include "platform/win/winapi.h"

namespace platform {

void PostNewMessage(STOREHWND window, MESSAGEID id) {
    // A window that is gone refuses the message; nobody is waiting for it.
    platform::PostMessage(window, WM_NEWMSGS, static_cast<WPARAM>(id), 0);
}

} // namespace platform
