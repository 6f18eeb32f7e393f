// Building and removing upload packages; see upload_package.h.
#include "store/transfers/upload_package.h"

#include <windows.h>

#include <mutex>
#include <map>

#include "store/files/file_operations.h"
#include "store/files/path_walk.h"
#include "store/transfers/folder_zipper.h"
#include "store/transfers/package_names.h"

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

}  // namespace

std::string buildUploadPackage(const std::string& userCacheFolder,
                               const std::string& sourceFolder) {
    const StagingNames names = ClaimStagingNames(userCacheFolder, sourceFolder);
    const char* staging = names.stagingFolder.c_str();

    // Each step goes on whatever the previous one gave; the upload shows the outcome.
    if (IsFolder(staging))
        DeleteFolderTree(staging);
    DeleteFileIfExists(names.archivePath.c_str());
    // A package left by an interrupted run would make the move below fail and be uploaded
    // in place of the new one.
    DeleteFileIfExists(names.packagePath.c_str());
    CreateFolderTree(names.slotFolder.c_str());
    CopyFolderTree(sourceFolder.c_str(), staging);
    zipFolder(staging, false);
    MoveFileTo(names.archivePath.c_str(), names.packagePath.c_str());
    DeleteFolderTree(staging);
    EndPacking(names.packagePath);
    return names.packagePath;
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
