#include "store/shell/dropped_files.h"

#include "store/files/file_list_text.h"
#include "store/files/file_operations.h"
#include "store/files/file_status.h"

std::string BuildDroppedFileList(const std::vector<std::string>& paths, std::time_t now) {
    std::string list;
    for (const std::string& path : paths) {
        if (IsFolder(path.c_str())) {
            uint64_t total = 0;
            GetFolderSize(path.c_str(), total);
            AppendFileListRecord(list, path + kFolderMarker, total, now, now);
            continue;
        }
        FileStatus status;
        if (QueryFileStatus(path.c_str(), status)) {
            AppendFileListRecord(list, path, status.size, status.creationTime, status.writeTime);
        }
    }
    return list;
}

std::string DescribeFileForSaving(const std::string& path) {
    std::string record;
    FileStatus status;
    if (!path.empty() && QueryFileStatus(path.c_str(), status)) {
        AppendFileListRecord(record, path, status.size, status.creationTime, status.writeTime);
    }
    return record;
}
