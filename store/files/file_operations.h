// The store's file and folder operations over the Win32 ANSI file interfaces. Stateless
// and safe from any thread; every failure is a result value (1 or non-zero for success,
// 0 for failure, unless a size or count is returned). Paths are narrow text in the ANSI
// code page with backslashes; forward slashes are the callers' business.
//
// Tree operations form each entry's path in a 520-byte buffer. An entry whose path would
// not fit is never touched: a move or copy stops there with 0 (so nothing is silently left
// behind), a delete skips it (the folder then stays and the result is 0), and a folder
// size does not count it.
#pragma once

#include <atomic>
#include <cstdint>

#include "store/files/drop_file_list.h"
#include "store/files/path_walk.h"

// 1 when a file or folder exists at the path (the shell's path-exists test).
int FileExists(const char* path);

// 1 when the C runtime's status query succeeds and reports the directory mode bit.
int IsFolder(const char* path);

// True when the path opens for reading as an existing file with read and write sharing.
bool IsReadableFile(const char* path);

// 1 when the path exists afterwards. Creates every missing level from the second prefix on
// (the first, normally the drive, is never created) and gives new folders normal
// attributes; a level that cannot be made is passed over.
int CreateFolderTree(const char* path);

// Deletes the folder's contents, then the folder; 1 only if the folder itself is gone. A
// read-only file is not deleted, so its folders stay and the result is 0. The root of a
// drive or share is refused with 0 and nothing is touched. A folder link (junction,
// symbolic link) is removed as a link; what it points at is never deleted.
int DeleteFolderTree(const char* path);

// Move or copy every entry of `source` into `destination` (created when missing). 1 on
// success, 0 at the first failure; what moved before a failure stays moved, and the source
// folder is removed only after a complete move. The same path (ignoring case, surrounding
// blanks and one trailing backslash) gives 1 and does nothing. Copying clears read-only,
// hidden and archive flags on the source files it copies and overwrites existing files.
// Folder links are never gone through: a move or copy leaves them where they are and logs
// them (a move then keeps the source folder with its links). A move from or to the root of a drive
// or share is refused with 0.
int MoveFolderTree(const char* source, const char* destination);
int CopyFolderTree(const char* source, const char* destination);
// The same copy, ending with 0 before the next entry once `stop` is set.
int CopyFolderTree(const char* source, const char* destination, const std::atomic<bool>& stop);

// Adds the length of every file below `folder` to `total` and returns how many files it
// counted. A bare drive (C:, C:\) or a folder that cannot be listed gives 0. Folder links
// are not gone through (and are logged).
int GetFolderSize(const char* folder, uint64_t& total);

// The file's length, or for a folder whose attributes are exactly the directory attribute
// the total of the tree below it; 0 when nothing can be read.
uint64_t GetPathSize(const char* path);

// Single files. Both refuse paths of 520 characters or more and the same path twice, need
// an existing source and create the destination's folder. A move never replaces an
// existing file; a copy does.
int MoveFileTo(const char* source, const char* destination);
int CopyFileTo(const char* source, const char* destination);

// 1 when the file existed and was deleted.
int DeleteFileIfExists(const char* path);
