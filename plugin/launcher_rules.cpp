// Installation folder and command line of the store program, as the launcher uses them.
#include "plugin/launcher_rules.h"

std::string StoreInstallFolder(const std::string& windowsDirectory, bool wow64) {
    if (windowsDirectory.empty()) {
        return std::string();
    }
    // C:\WINDOWS gives C:\; a directory without a backslash leaves nothing of itself.
    const std::size_t lastBackslash = windowsDirectory.rfind('\\');
    std::string folder = lastBackslash == std::string::npos
                             ? std::string()
                             : windowsDirectory.substr(0, lastBackslash + 1);
    folder += wow64 ? "Program Files (x86)\\Vellamar Plenthra" : "Program Files\\Vellamar Plenthra";
    return folder;
}

std::string StoreParameters(const std::string& identity, bool hidden) {
    return hidden ? "HideWindows" + identity : identity;
}
