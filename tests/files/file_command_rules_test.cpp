// Argument rules of the file-system commands: CopyFileEx's folder marker and OpenFile's
// host identifier.
#include "store/files/file_command_rules.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(FolderMarkerTest, BothSidesMarkedNameFoldersWithoutTheMarker) {
    struct Row {
        const char* source;
        const char* destination;
        bool folders;
        const char* sourceAfter;
        const char* destinationAfter;
    };
    const Row rows[] = {
        {"C:\\a.PLENTHRA_UNZIP", "D:\\b.PLENTHRA_UNZIP", true, "C:\\a", "D:\\b"},
        {"C:\\a.PLENTHRA_UNZIP\\x.PLENTHRA_UNZIP", "D:\\b.PLENTHRA_UNZIP", true, "C:\\a\\x",
         "D:\\b"},
        {"C:\\a.PLENTHRA_UNZIP", "D:\\b", false, "C:\\a.PLENTHRA_UNZIP", "D:\\b"},
        {"C:\\a", "D:\\b.PLENTHRA_UNZIP", false, "C:\\a", "D:\\b.PLENTHRA_UNZIP"},
        {"C:\\a.plenthra_unzip", "D:\\b.PLENTHRA_UNZIP", false, "C:\\a.plenthra_unzip",
         "D:\\b.PLENTHRA_UNZIP"},
    };
    for (const Row& row : rows) {
        std::string source = row.source;
        std::string destination = row.destination;
        EXPECT_EQ(TakeFolderMarkers(source, destination), row.folders) << row.source;
        EXPECT_EQ(source, row.sourceAfter);
        EXPECT_EQ(destination, row.destinationAfter);
    }
}

}  // namespace
