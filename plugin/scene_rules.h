// Text rules of the scene hand-off: which downloaded files replace the scene, which
// scene paths can be handed to the store, and where viewport thumbnails go.
#pragma once

#include <string>

// True when the last four characters are exactly ".max", ".chr" or ".drf". The compare
// is byte for byte on purpose: "model.MAX" is imported, not loaded.
bool IsSceneFileToLoad(const std::string& path);

// True when the second and third characters are ":\" (a path on a drive letter).
bool HasDrivePath(const std::string& path);

// "<folder>\thumb<index>.jpg"
std::string ThumbnailPath(const std::string& folder, int index);
