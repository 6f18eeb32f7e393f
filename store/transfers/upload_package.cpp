// Building and removing upload packages; see upload_package.h.
#include "store/transfers/upload_package.h"

#include <windows.h>

#include <mutex>
#include <map>

#include "store/files/file_operations.h"
#include "store/files/path_walk.h"
#include "store/transfers/package_names.h"
#include "store/transfers/staged_packer.h"

namespace {

// Package paths in use. A claim is taken when a packing starts; once the package is built
// it lasts as long as the package file exists, so an upload worker that deletes the package
// with a plain file delete ends the claim as well. Case is folded because the file system
// ignores it.
struct Claim {
    std::string packagePath;
    bool packing = true;
};
std::mutex gClaimsLock;
std::map<std::string, Claim> gClaims;

std::string FoldCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Claims the first free staging place for this folder name: the plain one when free.
StagingNames ClaimStagingNames(const std::string& userCacheFolder,
                               const std::string& sourceFolder) {
    std::lock_guard<std::mutex> lock(gClaimsLock);
    for (int slot = 0;; ++slot) {
        StagingNames names = MakeStagingNames(userCacheFolder, sourceFolder, slot);
        const std::string key = FoldCase(names.packagePath);
        const auto it = gClaims.find(key);
        if (it != gClaims.end() && (it->second.packing || FileExists(names.packagePath.c_str())))
            continue;
        gClaims[key] = Claim{names.packagePath, true};
        return names;
    }
}

void EndPacking(const std::string& packagePath) {
    std::lock_guard<std::mutex> lock(gClaimsLock);
    const auto it = gClaims.find(FoldCase(packagePath));
    if (it != gClaims.end())
        it->second.packing = false;
}

// True when `inner` names a place strictly below `outer`, both made absolute the way the
// file system will read them.
bool LiesInside(const std::string& inner, const std::string& outer) {
    char fullInner[kPathBufferSize];
    char fullOuter[kPathBufferSize];
    const DWORD innerLength = GetFullPathNameA(inner.c_str(), sizeof fullInner, fullInner, nullptr);
    const DWORD outerLength = GetFullPathNameA(outer.c_str(), sizeof fullOuter, fullOuter, nullptr);
    if (innerLength == 0 || innerLength >= sizeof fullInner || outerLength == 0 ||
        outerLength >= sizeof fullOuter)
        return false;
    StripOneTrailingBackslash(fullInner);
    StripOneTrailingBackslash(fullOuter);
    std::string_view in(fullInner);
    std::string_view out(fullOuter);
    return in.size() > out.size() + 1 && SamePath(in.substr(0, out.size()), out) &&
           in[out.size()] == '\\' && FindBackslash(in, out.size() + 1) == std::string_view::npos;
}

// True when no entry below `folder` has a path longer than `longest` bytes. Entries are
// found with the same calls the copy uses; "." and ".." are no entries.
bool TreeFitsWithin(std::string& folder, std::size_t longest) {
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return true;
    bool fits = true;
    const std::size_t base = folder.size();
    do {
        const std::string_view name(found.cFileName);
        if (name == "." || name == "..")
            continue;
        folder += '\\';
        folder += found.cFileName;
        fits =
            folder.size() <= longest && ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                                         TreeFitsWithin(folder, longest));
        folder.resize(base);
    } while (fits && FindNextFileA(find, &found));
    FindClose(find);
    return fits;
}

// True when every entry of `source`, re-rooted at `staging`, still has a path the archive
// can be written from. Only a staging folder longer than the source can make one too long.
bool StagingPathsFit(const std::string& source, const std::string& staging) {
    std::string folder(source);
    while (folder.size() > 1 && LastCharIndex(folder) == folder.size() - 1 && folder.back() == '\\')
        folder.pop_back();
    if (staging.size() <= folder.size())
        return true;
    const std::size_t growth = staging.size() - folder.size();
    if (growth >= kZipPathLimit)
        return false;
    return TreeFitsWithin(folder, kZipPathLimit - growth);
}

}  // namespace

PackageResult buildUploadPackage(const std::string& userCacheFolder,
                                 const std::string& sourceFolder, const std::atomic<bool>& stop,
                                 std::string& packagePath) {
    packagePath.clear();
    // Packing deletes its staging place first: a place that is not a folder of its own
    // inside UploadTemp (the cache folder itself, for "..") must never be used.
    const StagingNames plain = MakeStagingNames(userCacheFolder, sourceFolder, 0);
    if (!plain.usable || !LiesInside(plain.stagingFolder, userCacheFolder + "\\UploadTemp"))
        return PackageResult::kFailed;

    const StagingNames names = ClaimStagingNames(userCacheFolder, sourceFolder);
    packagePath = names.packagePath;
    const char* staging = names.stagingFolder.c_str();

    if (IsFolder(staging))
        DeleteFolderTree(staging);
    DeleteFileIfExists(names.archivePath.c_str());
    // A package left by an interrupted run would make the move below fail and be uploaded
    // in place of the new one.
    DeleteFileIfExists(names.packagePath.c_str());
    CreateFolderTree(names.slotFolder.c_str());

    // Only a package of every entry is posted: a part of a folder must never read as the
    // folder. The copy and the archive are made in one pass that stops between files and
    // writes once the stop is seen.
    PackageResult result = PackageResult::kFailed;
    if (StagingPathsFit(sourceFolder, names.stagingFolder) &&
        PackThroughStaging(sourceFolder, names.stagingFolder, names.archivePath, stop) &&
        MoveFileTo(names.archivePath.c_str(), names.packagePath.c_str()))
        result = PackageResult::kBuilt;
    if (stop.load())
        result = PackageResult::kStopped;
    DeleteFolderTree(staging);
    if (result != PackageResult::kBuilt) {
        DeleteFileIfExists(names.archivePath.c_str());
        DeleteFileIfExists(names.packagePath.c_str());
    }
    EndPacking(names.packagePath);
    return result;
}

void removeUploadPackage(const std::string& packagePath) {
    DeleteFileIfExists(packagePath.c_str());
    char parent[kPathBufferSize];
    GetParentFolder(packagePath.c_str(), parent, sizeof parent);
    char parentName[260];
    GetFileNamePart(parent, parentName, sizeof parentName);
    // Only a numbered place is removed, and only when nothing else is in it.
    char grand[kPathBufferSize];
    GetParentFolder(parent, grand, sizeof grand);
    char grandName[260];
    GetFileNamePart(grand, grandName, sizeof grandName);
    const bool numbered =
        parentName[0] != '\0' &&
        std::string(parentName).find_first_not_of("0123456789") == std::string::npos &&
        SamePath(grandName, "UploadTemp");
    {
        std::lock_guard<std::mutex> lock(gClaimsLock);
        if (numbered)
            RemoveDirectoryA(parent);
        const auto it = gClaims.find(FoldCase(packagePath));
        // A packing that took the name again since the delete keeps its claim.
        if (it != gClaims.end() && !it->second.packing)
            gClaims.erase(it);
    }
}
