// Folder packing over minizip and the Win32 file-finding calls; see folder_zipper.h.
#include "store/transfers/folder_zipper.h"

#include <windows.h>
#include <zip.h>

#include <cstring>

#include "store/files/path_walk.h"
#include "store/transfers/package_names.h"
#include "store/transfers/zip_entry_info.h"

namespace {

// Files are read in blocks of this size, which keeps the stack use of a worker small.
constexpr DWORD kReadBlock = 2048;

bool HasColon(const char* path) {
    return std::strchr(path, ':') != nullptr;
}

std::string NameAndExtension(const std::string& fullPath) {
    std::string path = fullPath;
    if (path.size() > 1 && path.back() == '\\')
        path.pop_back();
    char part[260];
    GetFileNamePart(path.c_str(), part, sizeof part);
    return part;
}

}  // namespace

FolderZipper::~FolderZipper() {
    close();
}

bool FolderZipper::open(const char* archivePath, const char* base, bool append) {
    close();
    fileCount = 0;
    totalBytes = 0;
    folderCount = 0;
    baseFolder.clear();
    if (archivePath == nullptr || *archivePath == '\0')
        return false;

    char full[kZipPathLimit + 1];
    char* namePart = nullptr;
    const DWORD length = GetFullPathNameA(archivePath, sizeof full, full, &namePart);
    if (length == 0 || length > kZipPathLimit)
        return false;

    const bool addToExisting = append && GetFileAttributesA(full) != INVALID_FILE_ATTRIBUTES;
    zipHandle = zipOpen(full, addToExisting ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE);

    if (base == nullptr || *base == '\0') {
        baseFolder = MakeZipTarget(full).baseFolder;
    } else {
        baseFolder = base;
    }
    baseFolder = TrimBaseFolder(baseFolder);
    if (baseFolder.size() > kZipPathLimit) {
        close();
        return false;
    }
    return zipHandle != nullptr;
}

bool FolderZipper::close() {
    if (zipHandle == nullptr)
        return true;
    const int result = zipClose(static_cast<zipFile>(zipHandle), nullptr);
    zipHandle = nullptr;
    return result == ZIP_OK;
}

std::string FolderZipper::fullPathOf(const char* path) const {
    if (HasColon(path))
        return path;
    return baseFolder + "\\" + path;
}

bool FolderZipper::writeEntry(const std::string& name, const std::string& fullPath, bool isFolder) {
    zip_fileinfo info;
    FillZipEntryInfo(fullPath.c_str(), isFolder, info);
    return zipOpenNewFileInZip(static_cast<zipFile>(zipHandle), name.c_str(), &info, nullptr, 0,
                               nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION) == ZIP_OK;
}

bool FolderZipper::addFolder(const char* path, bool flatten) {
    if (zipHandle == nullptr || path == nullptr)
        return false;
    ++folderCount;
    std::string full = fullPathOf(path);
    const std::size_t last = LastCharIndex(full);
    if (full.size() > 3 && last == full.size() - 1 && full[last] == '\\')
        full.pop_back();

    std::string name;
    if (flatten) {
        name = NameAndExtension(full);
    } else if (!RelativeEntryName(full, baseFolder, name)) {
        return false;
    }
    name = std::string(TrimEntryFront(name));

    bool ok = true;
    // The base folder itself would get the entry "\": a leading separator is never written.
    if (!name.empty()) {
        if (!IsSafeEntryName(name))
            return false;
        ok = writeEntry(name + "\\", full, true) &&
             zipCloseFileInZip(static_cast<zipFile>(zipHandle)) == ZIP_OK;
    }

    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((full + "\\*.*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return ok;
    do {
        if (stopped()) {
            ok = false;
            break;
        }
        if (found.cFileName[0] == '.')
            continue;
        const std::string child = full + "\\" + found.cFileName;
        const bool added = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                               ? addFolder(child.c_str(), flatten)
                               : addFile(child.c_str(), flatten);
        ok = added && ok;
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return ok;
}

bool FolderZipper::addFile(const char* path, bool flatten) {
    if (zipHandle == nullptr || path == nullptr || stopped())
        return false;
    if (!flatten && std::strncmp(path, "..\\", 3) == 0)
        return false;
    const std::string full = fullPathOf(path);

    std::string name;
    if (flatten) {
        name = NameAndExtension(full);
    } else if (HasColon(path)) {
        if (!RelativeEntryName(full, baseFolder, name))
            return false;
    } else {
        name = std::strncmp(path, ".\\", 2) == 0 ? path + 2 : path;
    }
    name = std::string(TrimEntryFront(name));
    if (!IsSafeEntryName(name))
        return false;

    const HANDLE file = CreateFileA(full.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;

    const zipFile zip = static_cast<zipFile>(zipHandle);
    bool ok = writeEntry(name, full, false);
    if (ok) {
        ++fileCount;
        char block[kReadBlock];
        DWORD got = 0;
        while (ReadFile(file, block, kReadBlock, &got, nullptr) && got > 0) {
            if (stopped() || zipWriteInFileInZip(zip, block, got) != ZIP_OK) {
                ok = false;
                break;
            }
            totalBytes += got;
        }
    }
    ok = zipCloseFileInZip(zip) == ZIP_OK && ok;
    CloseHandle(file);
    return ok;
}

bool zipFolder(const char* folder, bool flatten, const std::atomic<bool>* stop) {
    if (folder == nullptr)
        return false;
    const ZipTarget target = MakeZipTarget(folder);
    FolderZipper zipper;
    zipper.setStopFlag(stop);
    if (!zipper.open(target.archivePath.c_str(), target.baseFolder.c_str(), false))
        return false;
    const bool added = zipper.addFolder(folder, flatten);
    return zipper.close() && added;
}
