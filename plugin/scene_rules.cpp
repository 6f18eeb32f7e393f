// Scene hand-off rules that need no 3ds Max.
#include "plugin/scene_rules.h"

bool IsSceneFileToLoad(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    const std::string extension = path.substr(path.size() - 4);
    return extension == ".max" || extension == ".chr" || extension == ".drf";
}

bool HasDrivePath(const std::string& path) {
    return path.size() >= 3 && path[1] == ':' && path[2] == '\\';
}

std::string ThumbnailPath(const std::string& folder, int index) {
    return folder + "\\thumb" + std::to_string(index) + ".jpg";
}
