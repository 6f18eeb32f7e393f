// Names used while packing a folder for upload: the archive and base folder of a packed
// folder, the staging places below the cache's "UploadTemp" folder, and the entry names
// written into the archive. Pure text, so it builds and is tested on every platform.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Archive names and the package name come from this suffix.
constexpr std::string_view kPackageMarker = ".PLENTHRA_UNZIP";

// Longest base folder or absolute archive path the zipper keeps (a MAX_PATH buffer).
constexpr std::size_t kZipPathLimit = 259;

// The archive "folder.zip" next to the folder, and the folder holding it (drive and
// directory, trailing backslash kept). One trailing backslash of the folder is ignored, so
// "C:\A\Car\" still packs into "C:\A\Car.zip" rather than "C:\A\Car\.zip".
struct ZipTarget {
    std::string archivePath;
    std::string baseFolder;
};
ZipTarget MakeZipTarget(std::string_view folder);

// The path without one trailing backslash (a whole character; a lone "\" stays).
std::string_view WithoutOneTrailingBackslash(std::string_view path);

// Removes trailing blanks and backslashes (whole characters only).
std::string TrimBaseFolder(std::string_view base);

// Removes leading blanks and backslashes.
std::string_view TrimEntryFront(std::string_view name);

// `fullPath` with `baseFolder` removed from its front (compared without ASCII case) and
// leading blanks and backslashes stripped. False when the path does not start with the
// base folder at a path boundary.
bool RelativeEntryName(std::string_view fullPath, std::string_view baseFolder, std::string& name);

// An entry name that cannot escape the folder it is unpacked into: not empty, no drive or
// other colon, no leading backslash or slash, and no "." or ".." component.
bool IsSafeEntryName(std::string_view name);

// Where one packing of `sourceFolder` stages its copy. `slot` 0 is the plain place
// cache\UploadTemp\F; a packing that must stay apart from a running one with the same
// folder name uses cache\UploadTemp\<slot>\F. `name` is F: the source folder's last path
// component (one trailing backslash ignored), at most 259 bytes, or "folder" when the
// source names none (a bare drive), so the staging copy never is UploadTemp itself.
// `usable` is false when F could not be a folder below UploadTemp of its own: only dots and
// blanks (".", "..", "..." name UploadTemp or its parent once Windows drops trailing dots
// and blanks) or a slash, which Windows takes for a separator. Nothing may be staged then.
struct StagingNames {
    std::string name;
    bool usable = true;
    std::string slotFolder;  // the folder holding the staging copy and the package
    std::string stagingFolder;
    std::string archivePath;  // staging folder + ".zip"
    std::string packagePath;  // staging folder + ".PLENTHRA_UNZIP"
};
StagingNames MakeStagingNames(std::string_view userCacheFolder, std::string_view sourceFolder,
                              int slot);
