// Copies a folder to its staging place and packs the copy into a zip archive in one pass:
// each file is read once, written to the staging copy and deflated from the same buffer,
// while worker threads copy and deflate the files that follow. The archive is what packing
// the finished staging copy with FolderZipper gives: entries in listing order (a folder's
// entry before its contents), names starting with "." left out at every level (they are
// still copied), deflate at the default level, local last-write times and the attributes
// of the staging copy. Windows only.
#pragma once

#include <atomic>
#include <functional>
#include <string>

// Copies every entry of `sourceFolder` into `stagingFolder` (created when missing, the way
// CopyFolderTree copies: read-only, hidden and archive flags of the source files cleared,
// folder links left where they are) and writes the archive `archivePath` with entry names
// relative to the staging folder's parent. True only when every entry was copied and
// packed and the archive was closed; false at the first entry that cannot be read,
// written or packed, and once `stop` is seen (read between files and between blocks and
// archive writes). Whatever was made stays for the caller to remove. Every thread it
// starts has ended when it returns. `afterEntry`, when given, is called on the calling
// thread with the count of archive entries written so far, after each one.
bool PackThroughStaging(const std::string& sourceFolder, const std::string& stagingFolder,
                        const std::string& archivePath, const std::atomic<bool>& stop,
                        const std::function<void(int)>& afterEntry = {});
