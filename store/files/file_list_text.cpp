// File-list records; see file_list_text.h.
#include "store/files/file_list_text.h"

#include <cinttypes>
#include <cstdio>

const char kFolderMarker[] = ".PLENTHRA_UNZIP";

std::string FormatFileListDate(std::time_t time) {
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &time) != 0) {
        return {};
    }
#else
    if (localtime_r(&time, &local) == nullptr) {
        return {};
    }
#endif
    char text[32];
    size_t length = std::strftime(text, sizeof text, "%m/%d/%Y", &local);
    return std::string(text, length);
}

void AppendFileListRecord(std::string& list, std::string_view path, uint64_t size,
                          std::time_t creationTime, std::time_t writeTime) {
    char sizeText[24];
    std::snprintf(sizeText, sizeof sizeText, "%" PRIu64, size);
    list.append(path);
    list += '*';
    list += sizeText;
    list += '*';
    list += FormatFileListDate(creationTime);
    list += '*';
    list += FormatFileListDate(writeTime);
    list += '|';
}
