// The drop-files block: its size formula at the 32-byte steps and its exact layout.
#include "store/files/drop_file_list.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(DropFileListTest, BlockSizeGrowsIn32ByteSteps) {
    struct Row {
        std::vector<std::string> paths;
        size_t size;
    };
    const Row rows[] = {
        {{}, 32},                     // header and the list's final zero only
        {{"abcd", "abcde"}, 64},      // 11 path bytes
        {{std::string(8, 'a')}, 32},  // 9 + 22 = 31: the last size of one step
        {{std::string(9, 'a')}, 64},  // 10 + 22 = 32: the next step
        {{std::string(519, 'p'), "C:\\x"}, 576},
    };
    for (const Row& row : rows) {
        DropFileList list;
        size_t pathBytes = 0;
        for (const std::string& path : row.paths) {
            list.AddPath(path);
            pathBytes += path.size() + 1;
        }
        ASSERT_TRUE(list.BuildDropBlock());
        EXPECT_EQ(list.GetBlockSize(), row.size) << row.paths.size() << " paths";
        // Whatever the size, the header, every path, its zero and the list's end fit.
        EXPECT_GE(list.GetBlockSize(), kDropFilesHeaderSize + pathBytes + 1);
    }
}

TEST(DropFileListTest, LayoutIsTheShellHeaderThenZeroTerminatedPaths) {
    DropFileList list;
    list.AddPath("C:\\a");
    list.AddPath("D:\\bc");
    ASSERT_TRUE(list.BuildDropBlock());
    ASSERT_EQ(list.GetBlockSize(), 64u);

    std::vector<unsigned char> expected(64, 0);
    expected[0] = 20;  // file-list offset; point, non-client and wide flags stay 0
    const char list_text[] = "C:\\a\0D:\\bc";
    std::memcpy(&expected[20], list_text, sizeof(list_text));
    EXPECT_EQ(std::vector<unsigned char>(list.GetBlock(), list.GetBlock() + list.GetBlockSize()),
              expected);

    // Building again replaces the block with one for the current paths.
    list.AddPath(std::string(40, 'z'));
    ASSERT_TRUE(list.BuildDropBlock());
    EXPECT_EQ(list.GetBlockSize(), 96u);
    EXPECT_EQ(list.GetBlock()[20 + 11 + 40], 0);
    EXPECT_EQ(list.GetBlock()[20 + 11 + 41], 0);
}

}  // namespace
