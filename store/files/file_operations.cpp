// Win32 implementation of the file and folder operations. Folder walks hold their working
// buffers on the heap, one frame per level, so a deep tree cannot exhaust a worker's stack.
#include "store/files/file_operations.h"

#include <windows.h>
#include <shlwapi.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "store/files/folder_entries.h"
#include "store/shell/activity_log.h"

namespace {

// The text as given or its full form names a whole drive or share ("C:", "..\\..", "\\").
bool NamesWholeDrive(const char* path) {
    if (IsWholeDrivePath(path)) {
        return true;
    }
    char full[kPathBufferSize];
    const DWORD length = GetFullPathNameA(path, sizeof(full), full, nullptr);
    return length == 0 || length >= sizeof(full) || IsWholeDrivePath(full);
}

struct TreeFrame {
    char source[kPathBufferSize];
    char destination[kPathBufferSize];
    char oldPath[kPathBufferSize];
    char newPath[kPathBufferSize];
};

enum class TreeMode { kMove, kCopy };

int TransferFolderTree(const char* sourceArg, const char* destinationArg, TreeMode mode,
                       const std::atomic<bool>* stop = nullptr) {
    if (sourceArg == nullptr || destinationArg == nullptr || !FileExists(sourceArg)) {
        return 0;
    }
    if (mode == TreeMode::kMove &&
        (NamesWholeDrive(sourceArg) || NamesWholeDrive(destinationArg))) {
        LogLine("Folder move refused: a drive root (%s to %s)", sourceArg, destinationArg);
        return 0;
    }
    std::unique_ptr<TreeFrame> frame(new (std::nothrow) TreeFrame);
    if (!frame || !MakeWorkingCopy(sourceArg, frame->source) ||
        !MakeWorkingCopy(destinationArg, frame->destination)) {
        return 0;
    }
    StripOneTrailingBackslash(frame->source);
    StripOneTrailingBackslash(frame->destination);
    if (SamePath(frame->source, frame->destination)) {
        return 1;
    }

    int result = FileExists(destinationArg) ? 1 : CreateFolderTree(destinationArg);
    bool linksLeft = false;
    if (mode == TreeMode::kCopy && !FileExists(frame->source)) {
        // Gone since the first test: nothing can be copied, and that is no success.
        return 0;
    }
    {
        FolderEntries entries(frame->source);
        while (result != 0) {
            if (stop != nullptr && stop->load()) {
                result = 0;
                break;
            }
            const WIN32_FIND_DATAA* entry = entries.Next();
            if (entry == nullptr) {
                break;
            }
            if (!JoinEntryPath(frame->source, entry->cFileName, frame->oldPath, kPathBufferSize) ||
                !JoinEntryPath(frame->destination, entry->cFileName, frame->newPath,
                               kPathBufferSize)) {
                result = 0;
                break;
            }
            if (IsFolderEntry(*entry) && IsLinkEntry(*entry)) {
                // Moving a link by name may move what it points at (Wine does), so links stay.
                LogLine("Folder %s: link %s left where it is",
                        mode == TreeMode::kMove ? "move" : "copy", frame->oldPath);
                linksLeft = true;
            } else if (IsFolderEntry(*entry)) {
                CreateFolderTree(frame->newPath);
                result = TransferFolderTree(frame->oldPath, frame->newPath, mode, stop);
            } else {
                SetFileAttributesA(frame->oldPath, FILE_ATTRIBUTE_NORMAL);
                result = mode == TreeMode::kMove
                             ? (MoveFileA(frame->oldPath, frame->newPath) ? 1 : 0)
                             : (CopyFileA(frame->oldPath, frame->newPath, FALSE) ? 1 : 0);
            }
        }
    }
    if (result != 0 && mode == TreeMode::kMove && !linksLeft) {
        DeleteFolderTree(sourceArg);
    }
    return result;
}

// Appends the tree below `folder` (a growing buffer, restored before returning).
int AddFolderSize(std::string& folder, uint64_t& total) {
    FolderEntries entries(folder);
    if (!entries.Started()) {
        return 0;
    }
    const std::size_t base = folder.size();
    int count = 0;
    while (const WIN32_FIND_DATAA* entry = entries.Next()) {
        if (IsFolderEntry(*entry) && IsLinkEntry(*entry)) {
            LogLine("Folder size: link %s\\%s not followed", folder.c_str(), entry->cFileName);
        } else if (IsFolderEntry(*entry)) {
            folder += '\\';
            folder += entry->cFileName;
            count += AddFolderSize(folder, total);
            folder.resize(base);
        } else {
            total += (static_cast<uint64_t>(entry->nFileSizeHigh) << 32) | entry->nFileSizeLow;
            ++count;
        }
    }
    return count;
}

enum class FileMode { kMove, kCopy };

int TransferFile(const char* sourceArg, const char* destinationArg, FileMode mode) {
    char source[kPathBufferSize];
    char destination[kPathBufferSize];
    if (!MakeWorkingCopy(sourceArg, source) || !MakeWorkingCopy(destinationArg, destination)) {
        return 0;
    }
    if (SamePath(source, destination) || !FileExists(source)) {
        return 0;
    }
    char parent[kPathBufferSize];
    GetParentFolder(destination, parent, sizeof(parent));
    if (!CreateFolderTree(parent)) {
        return 0;
    }
    const BOOL done = mode == FileMode::kMove ? MoveFileA(source, destination)
                                              : CopyFileA(source, destination, FALSE);
    return done ? 1 : 0;
}

}  // namespace

int FileExists(const char* path) {
    return path != nullptr && PathFileExistsA(path) ? 1 : 0;
}

int IsFolder(const char* path) {
    if (path == nullptr) {
        return 0;
    }
    struct _stat64 status;
    return _stat64(path, &status) == 0 && (status.st_mode & 0x4000) != 0 ? 1 : 0;
}

bool IsReadableFile(const char* path) {
    if (path == nullptr) {
        return false;
    }
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

int CreateFolderTree(const char* path) {
    if (path == nullptr) {
        return 0;
    }
    if (FileExists(path)) {
        return 1;
    }
    const std::vector<std::string> prefixes = BuildFolderPrefixes(path);
    for (std::size_t i = 1; i < prefixes.size(); ++i) {
        // Failing here usually means the level is already there; the final test decides.
        if (CreateDirectoryA(prefixes[i].c_str(), nullptr)) {
            SetFileAttributesA(prefixes[i].c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
    return FileExists(path);
}

int DeleteFolderTree(const char* path) {
    if (path == nullptr) {
        return 0;
    }
    if (NamesWholeDrive(path)) {
        LogLine("Folder delete refused: a drive root (%s)", path);
        return 0;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return RemoveDirectoryA(path) ? 1 : 0;  // the link itself, never what it points at
    }
    {
        std::unique_ptr<char[]> entryPath(new (std::nothrow) char[kPathBufferSize]);
        if (!entryPath) {
            return 0;
        }
        FolderEntries entries(path);
        while (const WIN32_FIND_DATAA* entry = entries.Next()) {
            if (!JoinEntryPath(path, entry->cFileName, entryPath.get(), kPathBufferSize)) {
                continue;  // left in place; the folder removal below then fails
            }
            if (IsFolderEntry(*entry) && IsLinkEntry(*entry)) {
                RemoveDirectoryA(entryPath.get());
            } else if (IsFolderEntry(*entry)) {
                DeleteFolderTree(entryPath.get());
            } else {
                DeleteFileA(entryPath.get());
            }
        }
    }
    return RemoveDirectoryA(path) ? 1 : 0;
}

int MoveFolderTree(const char* source, const char* destination) {
    return TransferFolderTree(source, destination, TreeMode::kMove);
}

int CopyFolderTree(const char* source, const char* destination) {
    return TransferFolderTree(source, destination, TreeMode::kCopy);
}

int CopyFolderTree(const char* source, const char* destination, const std::atomic<bool>& stop) {
    return TransferFolderTree(source, destination, TreeMode::kCopy, &stop);
}

int GetFolderSize(const char* folder, uint64_t& total) {
    if (folder == nullptr) {
        return 0;
    }
    std::string path(folder);
    for (;;) {
        const std::size_t last = LastCharIndex(path);
        if (last == std::string::npos || last != path.size() - 1 || path[last] != '\\') {
            break;
        }
        path.resize(last);
    }
    // A bare drive is refused: sizing a whole disk would freeze the caller. Empty text
    // would name the current drive's root, so it is refused the same way.
    const std::size_t last = LastCharIndex(path);
    if (last == std::string::npos || (last == path.size() - 1 && path[last] == ':')) {
        return 0;
    }
    return AddFolderSize(path, total);
}

uint64_t GetPathSize(const char* path) {
    if (path == nullptr) {
        return 0;
    }
    if (GetFileAttributesA(path) == FILE_ATTRIBUTE_DIRECTORY) {
        uint64_t total = 0;
        GetFolderSize(path, total);
        return total;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (std::strlen(path) < MAX_PATH && GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return 0;
}

int MoveFileTo(const char* source, const char* destination) {
    return TransferFile(source, destination, FileMode::kMove);
}

int CopyFileTo(const char* source, const char* destination) {
    return TransferFile(source, destination, FileMode::kCopy);
}

int DeleteFileIfExists(const char* path) {
    if (!FileExists(path)) {
        return 0;
    }
    return DeleteFileA(path) ? 1 : 0;
}
