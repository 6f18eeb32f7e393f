// Upload packages: a folder travels as one zip archive named F + ".PLENTHRA_UNZIP", built
// from a staging copy below the user cache folder's "UploadTemp" folder. Windows only.
//
// The upload worker calls buildUploadPackage, uploads the returned path, then deletes the
// package after every attempt, whatever the outcome: removeUploadPackage also removes an
// emptied numbered folder, a plain file delete is enough otherwise.
#pragma once

#include <atomic>
#include <string>

// How a packing ended.
enum class PackageResult {
    kBuilt,    // the package holds every entry of the folder
    kStopped,  // the stop flag was seen; nothing of the packing is left
    kFailed,   // an entry could not be copied or packed, or the folder's name would stage it
               // outside UploadTemp; nothing of the packing is left
};

// Copies `sourceFolder` to userCacheFolder\UploadTemp\F (F its last path component), packs
// the copy into the package userCacheFolder\UploadTemp\F.PLENTHRA_UNZIP and removes the
// copy. Only a package of every entry counts: when a step fails or `stop` is set (it is
// read between files and between archive writes), the staging copy, the archive and the
// package are removed. A name F of only dots and blanks (".", "..") or with a slash, or any
// staging folder that is not inside UploadTemp, is refused before anything is touched. A
// stale staging copy, archive or package of the same name is removed first. While a
// package of the same folder name is still claimed by another packing or upload (only
// possible with an upload limit above 1), this one is made in a numbered folder instead:
// userCacheFolder\UploadTemp\<n>\F.PLENTHRA_UNZIP. A built package keeps its name claimed
// for as long as the package file exists. `packagePath` is the package's path whenever a
// staging place was claimed (pass it to removeUploadPackage after the upload), else empty.
PackageResult buildUploadPackage(const std::string& userCacheFolder,
                                 const std::string& sourceFolder, const std::atomic<bool>& stop,
                                 std::string& packagePath);

// Deletes the package and its numbered folder when it had one and that is now empty. Safe
// for any path.
void removeUploadPackage(const std::string& packagePath);
