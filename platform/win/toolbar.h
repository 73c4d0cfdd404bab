#pragma once
// The toolbar add-in contract: what the program tells the mail client's
// toolbar add-in, which is not part of this program.
//
// The add-in learns its buttons from the registry (a caption and the window
// message its click delivers to the settings window) and the program folder
// from `exedir`; the program starts and stops the add-in's hook library. The
// hook library is looked up by file name, so a system without the add-in
// simply runs without the toolbar.
#include "platform/win/messages.h"
#include "platform/win/winapi.h"

#include "platform/core/dynlib.h"

#include <array>
#include <cstdint>
#include <string>

namespace platform {

// The key of every setting of the program.
inline constexpr const char* kProgramKey = "HKEY_CURRENT_USER\\Software\\Vantor\\Filtrum";

struct ToolbarButton {
    const char* caption;
    UINT command; // delivered to the settings window as a window message
};

// button1 to button6, in this order; the last is the API button, shown only
// when `buttons` says 6.
inline constexpr std::array<ToolbarButton, 6> kToolbarButtons{{
    {"Spam", WM_CMD_SPAM},
    {"Not spam", WM_CMD_NOT_SPAM},
    {"Folder scan", WM_CMD_FOLDER_SCAN},
    {"Teach", WM_CMD_TEACH},
    {"Settings", WM_CMD_SETTINGS},
    {"VANTOR", WM_CMD_API},
}};

// Writes `exedir` (the program folder, with its trailing "/") and the six
// buttonNCaption / buttonNCommand values (commands as decimal text) under the
// program key, overwriting what is there. `buttons` and `button7Caption`
// belong to the tray window and the API preferences and are not touched.
void WriteToolbarSettings(const std::string& exeDir);
// The same with the folder of the running program file.
void WriteToolbarSettings();

// The hook library's export: SetWexhold(flag, window). Our contract for it on
// this platform: C linkage, two 32-bit arguments, a 32-bit result that is
// ignored.
using SetWexholdFunction = std::int32_t (*)(std::int32_t flag, std::uint32_t window);
inline constexpr const char* kHookExport = "SetWexhold";
// The add-in's hook library, found like any library loaded by bare name:
// beside the program, then by the loader's search, then in the current folder.
inline constexpr const char* kHookLibrary = "libwexhold.so";

// Starts and stops the hook library. Holds the library from Start to Stop.
// A missing library, or one without the export, means nothing happens and
// nothing is reported.
class HookLibrary {
public:
    explicit HookLibrary(std::string fileName = kHookLibrary);
    ~HookLibrary(); // stops a library still started
    HookLibrary(const HookLibrary&) = delete;
    HookLibrary& operator=(const HookLibrary&) = delete;

    // Loads the library and calls SetWexhold(1, trayWindow). True when the
    // call was made. A second Start while started does nothing and answers
    // false: the add-in was told once, and one Stop must undo it.
    bool Start(HWND trayWindow);
    // Calls SetWexhold(0, 0) and unloads the library; nothing when not started.
    void Stop();
    bool IsStarted() const { return module_ != 0; }

private:
    std::string fileName_;
    HMODULE module_ = 0;
    SetWexholdFunction setWexhold_ = nullptr;
};

} // namespace platform
