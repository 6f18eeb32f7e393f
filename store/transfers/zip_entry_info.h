// The time and attributes an archive entry carries, filled the same way by the folder
// zipper and the staged packer. Windows only.
#pragma once

#include <windows.h>
#include <zip.h>

// Fills `info` from a file's or folder's last-write time (stored in local time, as
// minizip keeps it) and its file-system attributes. A file entry never carries the
// read-only bit: an unpacked copy must stay writable. The internal attributes start at 0.
void FillZipEntryInfo(const FILETIME& writeTime, DWORD attributes, bool isFolder,
                      zip_fileinfo& info);

// The same for a path, read from the file system; the present time and plain attributes
// when the path cannot be read.
void FillZipEntryInfo(const char* path, bool isFolder, zip_fileinfo& info);
