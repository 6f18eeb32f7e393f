// Folder-marker and host-identifier rules of the file-system commands.
#include "store/files/file_command_rules.h"

namespace {

// The suffix a file list puts on a folder that travels as a whole.
constexpr char kCopyFolderMarker[] = ".PLENTHRA_UNZIP";

void RemoveAll(std::string& text, std::string_view part) {
    for (std::size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos)) {
        text.erase(pos, part.size());
    }
}

}  // namespace

bool TakeFolderMarkers(std::string& source, std::string& destination) {
    if (source.find(kCopyFolderMarker) == std::string::npos ||
        destination.find(kCopyFolderMarker) == std::string::npos) {
        return false;
    }
    RemoveAll(source, kCopyFolderMarker);
    RemoveAll(destination, kCopyFolderMarker);
    return true;
}
