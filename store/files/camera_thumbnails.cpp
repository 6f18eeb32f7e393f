// Reading the Shade and Wireframe folders of the camera shelf.
#include "store/files/camera_thumbnails.h"

#include <windows.h>

#include <utility>

#include "store/files/file_operations.h"

namespace {

// Directory, hidden and system entries, and temporary files, are never shelf pictures.
constexpr DWORD kSkippedAttributes = 0x16 | 0x100;

const char* const kPictureSuffixes[] = {"bmp", "jpg", "gif", "tif", "png"};

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool IsShelfPictureName(const std::string& name) {
    if (name.size() < 3) {
        return false;
    }
    const std::string tail = name.substr(name.size() - 3);
    for (const char* suffix : kPictureSuffixes) {
        bool same = true;
        for (size_t i = 0; i < 3; ++i) {
            if (AsciiLower(tail[i]) != suffix[i]) {
                same = false;
                break;
            }
        }
        if (same) {
            return true;
        }
    }
    return false;
}

int LoadThumbnails(const std::string& folder, std::vector<std::string>& thumbnails) {
    const bool endsWithBackslash = !folder.empty() && folder.back() == '\\';
    const std::string separator = endsWithBackslash ? "" : "\\";
    const std::string shadePattern = folder + separator + "Shade\\*.*";
    const std::string wireframeFolder = folder + separator + "Wireframe\\";

    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA(shadePattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::vector<std::string> collected;
    bool searchFailed = false;
    for (;;) {
        const std::string name = entry.cFileName;
        if ((entry.dwFileAttributes & kSkippedAttributes) == 0 && IsShelfPictureName(name)) {
            const std::string twin = wireframeFolder + name;
            collected.push_back(IsReadableFile(twin.c_str()) ? name + ":\\" + name : name + ":");
        }
        if (!FindNextFileA(search, &entry)) {
            searchFailed = GetLastError() != ERROR_NO_MORE_FILES;
            break;
        }
    }
    FindClose(search);
    if (searchFailed || collected.empty()) {
        return 0;
    }
    thumbnails = std::move(collected);
    return 1;
}

std::string ThumbnailList(const std::vector<std::string>& thumbnails) {
    std::string list;
    for (const std::string& entry : thumbnails) {
        list += '\\';
        list += entry;
        list += '|';
    }
    return list;
}
