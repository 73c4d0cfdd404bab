#pragma once
// Every window message number of the system, in one place.
#include <cstdint>

namespace platform {

using UINT = std::uint32_t;

// Messages of the window manager itself, used where the system drives a window
// that is not its own (the mail client's windows, driven by the automation).
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_COMMAND = 0x0111; // wParam: command number
constexpr UINT EM_SETSEL = 0x00B1;  // edit box: select wParam..lParam (0, -1: all)
constexpr UINT WM_COPY = 0x0301;    // edit box: copy the selection to the clipboard
constexpr UINT WM_USER = 0x0400;
// List view control requests (8-bit text variants).
constexpr UINT LVM_FIRST = 0x1000;
constexpr UINT LVM_GETITEMA = LVM_FIRST + 5;
constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
constexpr UINT LVM_GETCOLUMNA = LVM_FIRST + 25;
constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
// Names passed to RegisterWindowMessage.
constexpr const char* WM_HTML_GETOBJECT_NAME = "WM_HTML_GETOBJECT";

// The mail client's command (WM_COMMAND to its toolbar band container) that
// opens the properties window of the selected message.
constexpr UINT CMD_MESSAGE_PROPERTIES = 40122;

// The mail store's notification: a message was added to a registered folder;
// wParam carries its message id.
constexpr UINT WM_NEWMSGS = WM_USER + 1650; // 0x0A72

// Tray window.
constexpr UINT WM_TRAY_NOOP = 0x82BC; // accepted, no effect

// Update window: run the update check (posted once, five minutes after start).
constexpr UINT WM_CHECK_UPDATE = 0x8001;
// Message browser: the folder was loaded (its "Tipp" balloon).
constexpr UINT WM_BROWSER_TIP = 0x8001;

// Settings window: reports from the toolbar add-in's dialog watch.
constexpr UINT WM_DIALOG_OPENED = 0xA198;        // wParam: window whose parent is the dialog
constexpr UINT WM_DIALOG_OPENED_SECOND = 0xA199; // never sent within the system
// Settings window: analyse the message source box.
constexpr UINT WM_ANALYZE_SOURCE = 0xA19B;
constexpr UINT WM_IGNORED_A1FC = 0xA1FC;
constexpr UINT WM_IGNORED_A1FD = 0xA1FD;
// Settings window: show the General page titled "Preferences".
constexpr UINT WM_SHOW_PREFERENCES = 0xA1FE;

// Toolbar commands to the settings window.
constexpr UINT WM_CMD_API = 0xA1FF;         // the API button
constexpr UINT WM_CMD_SPAM = 0xA200;        // "Spam"
constexpr UINT WM_CMD_NOT_SPAM = 0xA201;    // "Not spam"
constexpr UINT WM_CMD_TEACH = 0xA202;       // "Teach"
constexpr UINT WM_CMD_FOLDER_SCAN = 0xA203; // "Folder scan"
constexpr UINT WM_CMD_SETTINGS = 0xA204;    // "Settings"

// Settings window.
constexpr UINT WM_REPORT_IP = 0xA261;       // offer to report the sending server's address
constexpr UINT WM_POST_MESSAGE = 0xA263;    // the header copy is done: post the message
constexpr UINT WM_SAVE_KNOWLEDGE = 0xA264;  // the heartbeat's knowledge and counter save
constexpr UINT WM_MAKE_TOPMOST = 0xA265;    // make the window topmost
constexpr UINT WM_DEFERRED_INIT = 0xA2C4;   // deferred initialisation
constexpr UINT WM_WHITELIST_OFFER = 0xA2C5; // the one-time white list offer

// Ends of the working windows' jobs, posted by their worker threads.
constexpr UINT WM_TEACH_DONE = 0xA264;     // to the teaching window
constexpr UINT WM_SCAN_DONE = 0xA265;      // to the folder scan window
constexpr UINT WM_BUILD_DONE = 0xA266;     // to the white list builder
constexpr UINT WM_BROWSER_LOADED = 0xA265; // to the message browser

} // namespace platform
