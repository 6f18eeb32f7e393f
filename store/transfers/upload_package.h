// Upload packages: a folder travels as one zip archive named F + ".PLENTHRA_UNZIP", built
// from a staging copy below the user cache folder's "UploadTemp" folder. Windows only.
//
// The upload worker calls buildUploadPackage, uploads the returned path, then deletes the
// package after every attempt, whatever the outcome: removeUploadPackage also removes an
// emptied numbered folder, a plain file delete is enough otherwise.
#pragma once

#include <string>

// Copies `sourceFolder` to userCacheFolder\UploadTemp\F (F its last path component), packs
// the copy and returns the package path userCacheFolder\UploadTemp\F.PLENTHRA_UNZIP. Never
// fails: when a step fails, the path is still returned and the upload then sends whatever
// is there (an empty part when nothing is). A stale staging copy, archive or package of the
// same name is removed first. While a package of the same folder name is still claimed by
// another packing or upload (only possible with an upload limit above 1), this one is made
// in a numbered folder instead: userCacheFolder\UploadTemp\<n>\F.PLENTHRA_UNZIP. A built
// package keeps its name claimed for as long as the package file exists.
std::string buildUploadPackage(const std::string& userCacheFolder, const std::string& sourceFolder);

// Deletes the package and its numbered folder when it had one and that is now empty. Safe
// for any path.
void removeUploadPackage(const std::string& packagePath);
