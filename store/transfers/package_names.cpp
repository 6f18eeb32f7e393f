// Text rules of upload packaging; see package_names.h.
#include "store/transfers/package_names.h"

#include "store/files/path_walk.h"

namespace {

bool IsBlankOrBackslash(char c) {
    return c == ' ' || c == '\t' || c == '\\';
}

// End of the text once trailing blanks and backslashes are gone, walking whole characters
// so that a double-byte character's trail byte is never mistaken for a backslash.
std::size_t EndWithoutTrailing(std::string_view text) {
    std::size_t keep = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t next = NextCharIndex(text, i);
        if (next - i != 1 || !IsBlankOrBackslash(text[i]))
            keep = next;
        i = next;
    }
    return keep;
}

// Index just past the last backslash or slash that is a character of its own, or 0.
std::size_t AfterLastSeparator(std::string_view path) {
    std::size_t after = 0;
    for (std::size_t i = 0; i < path.size(); i = NextCharIndex(path, i)) {
        if (NextCharIndex(path, i) - i == 1 && (path[i] == '\\' || path[i] == '/'))
            after = i + 1;
    }
    return after;
}

}  // namespace

std::string_view WithoutOneTrailingBackslash(std::string_view path) {
    const std::size_t last = LastCharIndex(path);
    if (path.size() > 1 && last == path.size() - 1 && path[last] == '\\')
        path.remove_suffix(1);
    return path;
}

ZipTarget MakeZipTarget(std::string_view folder) {
    folder = WithoutOneTrailingBackslash(folder);
    ZipTarget target;
    target.archivePath = std::string(folder) + ".zip";
    std::size_t after = AfterLastSeparator(folder);
    // A drive without a separator ("C:Car") keeps the drive as its base.
    if (after == 0 && folder.size() >= 2 && folder[1] == ':')
        after = 2;
    target.baseFolder = std::string(folder.substr(0, after));
    return target;
}

std::string TrimBaseFolder(std::string_view base) {
    return std::string(base.substr(0, EndWithoutTrailing(base)));
}

std::string_view TrimEntryFront(std::string_view name) {
    std::size_t i = 0;
    while (i < name.size() && IsBlankOrBackslash(name[i]))
        ++i;
    return name.substr(i);
}

bool RelativeEntryName(std::string_view fullPath, std::string_view baseFolder, std::string& name) {
    name.clear();
    if (fullPath.size() < baseFolder.size() ||
        !SamePath(fullPath.substr(0, baseFolder.size()), baseFolder))
        return false;
    const std::string_view rest = fullPath.substr(baseFolder.size());
    // "C:\Models" must not claim "C:\ModelsOld\x" as its own.
    if (!baseFolder.empty() && baseFolder.back() != '\\' && !rest.empty() && rest.front() != '\\')
        return false;
    name = std::string(TrimEntryFront(rest));
    return true;
}

bool IsSafeEntryName(std::string_view name) {
    if (name.empty() || name.front() == '\\' || name.front() == '/')
        return false;
    std::size_t componentStart = 0;
    for (std::size_t i = 0; i <= name.size();) {
        const bool atEnd = i == name.size();
        const std::size_t next = atEnd ? i + 1 : NextCharIndex(name, i);
        const bool single = !atEnd && next - i == 1;
        if (single && name[i] == ':')
            return false;
        if (atEnd || (single && (name[i] == '\\' || name[i] == '/'))) {
            const std::string_view component = name.substr(componentStart, i - componentStart);
            if (component == "." || component == "..")
                return false;
            componentStart = i + 1;
        }
        i = next;
    }
    return true;
}

StagingNames MakeStagingNames(std::string_view userCacheFolder, std::string_view sourceFolder,
                              int slot) {
    StagingNames names;
    const std::string source(WithoutOneTrailingBackslash(sourceFolder));
    char part[260];
    GetFileNamePart(source.c_str(), part, sizeof part);
    names.name = part;
    if (names.name.empty() || names.name.find(':') != std::string::npos)
        names.name = "folder";
    names.usable = names.name.find_first_not_of(". ") != std::string::npos &&
                   names.name.find('/') == std::string::npos;
    names.slotFolder = std::string(userCacheFolder) + "\\UploadTemp";
    if (slot > 0)
        names.slotFolder += "\\" + std::to_string(slot);
    names.stagingFolder = names.slotFolder + "\\" + names.name;
    names.archivePath = names.stagingFolder + ".zip";
    names.packagePath = names.stagingFolder + std::string(kPackageMarker);
    return names;
}
