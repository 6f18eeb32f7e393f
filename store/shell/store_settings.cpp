// Loading pxplugin.xml and deriving the cache folders.
#include "store/shell/store_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <algorithm>
#endif

#include "store/shell/activity_log.h"
#include "store/shell/script_call.h"
#include "text/xml_document.h"

const char kDefaultUploadUrl[] = "http://upload.plenthra.example/Upload/uploadtest.asp";
const char kDefaultUpdateHost[] = "update.plenthra.example";
const char kInitialUserCacheFolder[] = "c:\\Documents and Settings\\";
const char kProfileFallbackFolder[] = "C:\\Documents and Settings\\All Users";
const char kCacheRootSuffix[] = "\\Vellamar Plenthra";

namespace {

// The file is only looked at when it exists; opening it shared for reading and writing
// does not disturb an editor that has it open.
bool SettingsFileExists(const std::string& path) {
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
#else
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
#endif
}

// Natively the backslashes of the Windows path are separators too, so the same logic runs
// in the tests there.
std::string OpenablePath(std::string path) {
#ifndef _WIN32
    std::replace(path.begin(), path.end(), '\\', '/');
#endif
    return path;
}

// A drive letter, a colon and a backslash, or a UNC path ("\\\\server\\share").
bool IsAbsoluteFolder(const std::string& path) {
    const bool driveLetter =
        path.size() >= 3 &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && path[2] == '\\';
    const bool unc = path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
    return driveLetter || unc;
}

}  // namespace

std::string SettingsFilePath(const std::string& installFolder) {
    return installFolder + "\\plugcfg\\pxplugin.xml";
}

void ApplySettingsElements(const XmlNode& root, StoreSettings& settings) {
    // The values as the file means them: the default text options would give "&" back as
    // "&amp;", which breaks an upload URL with a query.
    XmlTextOptions plain;
    plain.encodeEntities = false;

    std::string text = root.childText("width", plain);
    if (!text.empty()) {
        settings.windowWidth = ParseScriptInteger(text);
    }
    text = root.childText("height", plain);
    if (!text.empty()) {
        settings.windowHeight = ParseScriptInteger(text);
    }
    text = root.childText("TransDirectory", plain);
    if (!text.empty() && !IsAbsoluteFolder(text)) {
        // "D:PxCache" is what single backslashes become: the reader drops them.
        LogLine("Settings: TransDirectory \"%s\" is no absolute folder; the cache root is used",
                text.c_str());
    } else if (!text.empty()) {
        settings.transDirectory = text;
        settings.userCacheFolder = text;
    }
    text = root.childText("UploadUrl", plain);
    if (!text.empty()) {
        settings.uploadUrl = text;
    }
    text = root.childText("UpdateHost", plain);
    if (!text.empty()) {
        settings.updateHost = text;
    }
}

bool LoadSettings(StoreSettings& settings) {
    const std::string path = OpenablePath(SettingsFilePath(settings.installFolder));
    if (!SettingsFileExists(path)) {
        return false;
    }
    // A file that does not parse leaves what was built; lookups that find nothing keep the
    // defaults.
    XmlDocument& document = TheXmlDocument();
    document.loadFile(path.c_str());
    ApplySettingsElements(document.root, settings);
    return true;
}

std::string CacheRootFolderFor(const char* userProfile) {
    const bool usable = userProfile != nullptr && userProfile[0] != '\0' &&
                        std::strlen(userProfile) < kProfileBufferBytes;
    return std::string(usable ? userProfile : kProfileFallbackFolder) + kCacheRootSuffix;
}

void SetStartupFolders(StoreSettings& settings, const char* userProfile) {
    settings.cacheRootFolder = CacheRootFolderFor(userProfile);
    settings.userCacheFolder =
        settings.transDirectory.empty() ? settings.cacheRootFolder : settings.transDirectory;
}

void SetStartupFolders(StoreSettings& settings) {
#ifdef _WIN32
    char profile[kProfileBufferBytes];
    const DWORD length = GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
    // 0: not set (or empty); sizeof profile or more: the size it would need.
    SetStartupFolders(settings, length > 0 && length < sizeof profile ? profile : nullptr);
#else
    SetStartupFolders(settings, std::getenv("USERPROFILE"));
#endif
}

#ifdef _WIN32
std::string StoreInstallationFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return std::string();
    }
    std::string folder(path, length);
    const size_t slash = folder.find_last_of('\\');
    if (slash == std::string::npos) {
        return std::string();
    }
    folder.resize(slash + 1);
    return folder;
}
#endif
