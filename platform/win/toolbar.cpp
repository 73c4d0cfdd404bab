#include "platform/win/toolbar.h"

#include "platform/core/registry.h"

namespace platform {

void WriteToolbarSettings(const std::string& exeDir) {
    RegWriteString(kProgramKey, "exedir", exeDir);
    for (std::size_t i = 0; i < kToolbarButtons.size(); ++i) {
        const std::string button = "button" + std::to_string(i + 1);
        RegWriteString(kProgramKey, button + "Caption", kToolbarButtons[i].caption);
        RegWriteString(kProgramKey, button + "Command", std::to_string(kToolbarButtons[i].command));
    }
}

void WriteToolbarSettings() {
    WriteToolbarSettings(ProgramDirectory());
}

HookLibrary::HookLibrary(std::string fileName) : fileName_(std::move(fileName)) {}

HookLibrary::~HookLibrary() {
    Stop();
}

bool HookLibrary::Start(HWND trayWindow) {
    if (module_ != 0)
        return false;
    HMODULE module = LoadLibrary(fileName_);
    if (module == 0)
        return false;
    // A library without the export is of no use to us; it is let go at once.
    auto function = reinterpret_cast<SetWexholdFunction>(GetProcAddress(module, kHookExport));
    if (!function) {
        FreeLibrary(module);
        return false;
    }
    module_ = module;
    setWexhold_ = function;
    setWexhold_(1, trayWindow);
    return true;
}

void HookLibrary::Stop() {
    if (module_ == 0)
        return;
    setWexhold_(0, 0);
    FreeLibrary(module_);
    module_ = 0;
    setWexhold_ = nullptr;
}

} // namespace platform
