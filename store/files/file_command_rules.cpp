// Folder-marker and host-identifier rules of the file-system commands.
#include "store/files/file_command_rules.h"

#include <climits>

namespace {

// The suffix a file list puts on a folder that travels as a whole.
constexpr char kCopyFolderMarker[] = ".PLENTHRA_UNZIP";

void RemoveAll(std::string& text, std::string_view part) {
    for (std::size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos)) {
        text.erase(pos, part.size());
    }
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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

int ParseHostId(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(value);
}
