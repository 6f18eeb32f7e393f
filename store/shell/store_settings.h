// The store's settings: built-in defaults, then pxplugin.xml in the "plugcfg" folder below
// the installation folder, then the cache folders under the user profile. The main window
// owns one StoreSettings; the Init and StoreConfig commands (settings_commands.h) read and
// change it later on.
//
// The settings file's outermost element (any name) holds the direct children width, height,
// TransDirectory, UploadUrl and UpdateHost. The shared XML reader drops a backslash and keeps the
// character after it, so a folder in the file is written with doubled backslashes
// (C:\\Store\\Cache).
//
// TransDirectory: a non-empty value is the transfer directory the store starts with, in
// place of the cache root folder. Only an absolute folder counts (a drive letter, a colon
// and a backslash, or a UNC path); anything else ("D:PxCache", left by single backslashes)
// is logged and ignored. Without this the key would be read and then overwritten
// before anything used it. The signed-in user's folder that StoreConfig sets later still
// lies below the cache root folder, where the movie expects it (Init reports that root).
#pragma once

#include <cstddef>
#include <string>

struct XmlNode;

constexpr int kDefaultWindowWidth = 1024;
constexpr int kDefaultWindowHeight = 768;

// A placeholder on a reserved name: a real deployment names its upload script in
// pxplugin.xml.
extern const char kDefaultUploadUrl[];
// The same for the update check's configuration service: a host name, optionally followed
// by ":" and a port, reached with plain HTTP (port 80 unless one is given).
extern const char kDefaultUpdateHost[];
// The transfer directory before the start-up folders are set.
extern const char kInitialUserCacheFolder[];
// The cache root's base when USERPROFILE is not set.
extern const char kProfileFallbackFolder[];
// Appended to the profile folder to give the cache root folder.
extern const char kCacheRootSuffix[];
// USERPROFILE is read into this many bytes, terminator included.
constexpr std::size_t kProfileBufferBytes = 260;

struct StoreSettings {
    int windowWidth = kDefaultWindowWidth;
    int windowHeight = kDefaultWindowHeight;
    std::string installFolder;  // with its trailing backslash
    std::string cacheRootFolder;
    std::string userCacheFolder = kInitialUserCacheFolder;  // the transfer directory
    std::string transDirectory;  // TransDirectory from the file; empty when not given
    std::string uploadUrl = kDefaultUploadUrl;
    std::string updateHost = kDefaultUpdateHost;  // UpdateHost: "host" or "host:port"
};

// installFolder + "\plugcfg\pxplugin.xml" (a doubled backslash after the installation
// folder's own is harmless).
std::string SettingsFilePath(const std::string& installFolder);

// Applies the five elements below `root` in the order width, height, TransDirectory,
// UploadUrl, UpdateHost; a missing or empty element leaves its value unchanged. Numbers are read as
// the standard text-to-integer conversion reads them (no digits gives 0).
void ApplySettingsElements(const XmlNode& root, StoreSettings& settings);

// Reads the settings file of settings.installFolder into the shared XML document. Returns
// false, with every value unchanged, when the file does not exist.
bool LoadSettings(StoreSettings& settings);

// The profile folder + "\Vellamar Plenthra". A null, empty or too long profile (one that
// does not fit kProfileBufferBytes) falls back to kProfileFallbackFolder: a cut or empty
// profile would put the cache somewhere nobody chose.
std::string CacheRootFolderFor(const char* userProfile);

// Sets the cache root folder from `userProfile` and the transfer directory to the
// TransDirectory setting when there was one, else to the cache root folder.
void SetStartupFolders(StoreSettings& settings, const char* userProfile);
// The same with the process's USERPROFILE.
void SetStartupFolders(StoreSettings& settings);

#ifdef _WIN32
// The folder of the running program's file with a trailing backslash; empty on failure.
std::string StoreInstallationFolder();
#endif
