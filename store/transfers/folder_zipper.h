// Packs folders and files into a zip archive with minizip: backslash entry names relative
// to a base folder, a directory entry per folder, names starting with "." left out at every
// level, deflate at the default level, local last-write times and the file-system
// attributes. Windows only (it walks folders with FindFirstFile).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class FolderZipper {
public:
    FolderZipper() = default;
    FolderZipper(const FolderZipper&) = delete;
    FolderZipper& operator=(const FolderZipper&) = delete;
    ~FolderZipper();

    // Opens `archivePath` (made absolute, at most 259 bytes), adding to it only when
    // `append` is set and the file exists. Entry names are made relative to `baseFolder`;
    // null or empty means the archive's own folder. False when no archive is open.
    bool open(const char* archivePath, const char* baseFolder, bool append);

    // A directory entry for the folder, then its contents in listing order. A relative path
    // is taken below the base folder. False when the folder lies outside the base folder or
    // an entry cannot be written; a folder that cannot be listed still succeeds.
    bool addFolder(const char* path, bool flatten);

    // One file entry. False when the file lies outside the base folder, cannot be opened
    // (nothing is written then) or a zip call fails.
    bool addFile(const char* path, bool flatten);

    // A flag read before every file and every write; once set, addFile and addFolder stop
    // and answer false. Null (the default) never stops.
    void setStopFlag(const std::atomic<bool>* stop) { stopFlag = stop; }

    // Closes the archive (no global comment); false when the close failed.
    bool close();

    int filesAdded() const { return fileCount; }
    uint64_t bytesAdded() const { return totalBytes; }
    int foldersVisited() const { return folderCount; }

private:
    std::string fullPathOf(const char* path) const;
    bool writeEntry(const std::string& name, const std::string& fullPath, bool isFolder);

    bool stopped() const { return stopFlag != nullptr && stopFlag->load(); }

    const std::atomic<bool>* stopFlag = nullptr;
    void* zipHandle = nullptr;
    std::string baseFolder;
    int fileCount = 0;
    uint64_t totalBytes = 0;  // wider than a 32-bit count: a tree may hold more than 4 GB
    int folderCount = 0;
};

// Packs `folder` into folder + ".zip" next to it, entry names starting with the folder's
// own name. True when every entry was written; false as soon as `stop` (if given) is seen
// set between files or writes.
bool zipFolder(const char* folder, bool flatten, const std::atomic<bool>* stop = nullptr);
