// Names of upload packaging: where a folder's archive and staging copy go, and which entry
// names may be written (never one that escapes the folder it is unpacked into).
#include "store/transfers/package_names.h"

#include <string>

#include <gtest/gtest.h>

#include "text/multibyte.h"

namespace {

TEST(MakeZipTargetTest, ArchiveNextToTheFolderAndBaseIsItsParent) {
    struct Row {
        const char* folder;
        const char* archive;
        const char* base;
    } rows[] = {
        {"C:\\Models\\Car", "C:\\Models\\Car.zip", "C:\\Models\\"},
        {"C:\\Models\\Car\\", "C:\\Models\\Car.zip", "C:\\Models\\"},
        {"C:\\Cache\\UploadTemp\\v1.2", "C:\\Cache\\UploadTemp\\v1.2.zip",
         "C:\\Cache\\UploadTemp\\"},
        {"C:Car", "C:Car.zip", "C:"},
        {"Car", "Car.zip", ""},
    };
    for (const Row& row : rows) {
        const ZipTarget target = MakeZipTarget(row.folder);
        EXPECT_EQ(target.archivePath, row.archive) << row.folder;
        EXPECT_EQ(target.baseFolder, row.base) << row.folder;
    }
}

TEST(TrimBaseFolderTest, DropsTrailingBlanksAndBackslashesButNotATrailByte) {
    EXPECT_EQ(TrimBaseFolder("C:\\Models\\ \\ "), "C:\\Models");
    EXPECT_EQ(TrimBaseFolder("\\\\"), "");
    ScopedLeadBytesForTesting shiftJis(0x81, 0x9F);
    // The last character is a double-byte one whose trail byte is a backslash.
    EXPECT_EQ(TrimBaseFolder("C:\\x\x95\x5C\\"), "C:\\x\x95\x5C");
}

TEST(RelativeEntryNameTest, StripsTheBaseWithoutCaseAtAPathBoundary) {
    struct Row {
        const char* full;
        const char* base;
        bool ok;
        const char* name;
    } rows[] = {
        {"C:\\Cache\\UploadTemp\\Car", "C:\\Cache\\UploadTemp", true, "Car"},
        {"c:\\cache\\uploadtemp\\Car\\maps\\wheel.jpg", "C:\\Cache\\UploadTemp", true,
         "Car\\maps\\wheel.jpg"},
        {"C:\\Cache\\UploadTemp", "C:\\Cache\\UploadTemp", true, ""},
        {"C:\\Cache\\UploadTempOld\\x", "C:\\Cache\\UploadTemp", false, ""},
        {"D:\\Other\\x", "C:\\Cache", false, ""},
        {"C:\\Cache\\ \\x", "C:\\Cache", true, "x"},
    };
    for (const Row& row : rows) {
        std::string name = "junk";
        EXPECT_EQ(RelativeEntryName(row.full, row.base, name), row.ok) << row.full;
        EXPECT_EQ(name, row.name) << row.full;
    }
}

TEST(IsSafeEntryNameTest, RefusesDrivesLeadingSeparatorsAndDotComponents) {
    struct Row {
        const char* name;
        bool safe;
    } rows[] = {
        {"Car\\", true},           {"Car\\maps\\wheel.jpg", true},
        {"Car\\v1.2\\a..b", true}, {"", false},
        {"\\Car", false},          {"/Car", false},
        {"C:\\Car", false},        {"Car\\x:y", false},
        {"..\\Car", false},        {"Car\\..\\..\\x", false},
        {"Car/../x", false},       {"Car\\.\\x", false},
        {"Car\\..", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(IsSafeEntryName(row.name), row.safe) << row.name;
}

TEST(MakeStagingNamesTest, PlainPlaceFirstNumberedPlacesApart) {
    const StagingNames plain = MakeStagingNames("C:\\Cache\\u", "C:\\Models\\Car", 0);
    EXPECT_EQ(plain.name, "Car");
    EXPECT_EQ(plain.stagingFolder, "C:\\Cache\\u\\UploadTemp\\Car");
    EXPECT_EQ(plain.archivePath, "C:\\Cache\\u\\UploadTemp\\Car.zip");
    EXPECT_EQ(plain.packagePath, "C:\\Cache\\u\\UploadTemp\\Car.PLENTHRA_UNZIP");

    const StagingNames second = MakeStagingNames("C:\\Cache\\u", "C:\\Models\\Car\\", 2);
    EXPECT_EQ(second.slotFolder, "C:\\Cache\\u\\UploadTemp\\2");
    EXPECT_EQ(second.packagePath, "C:\\Cache\\u\\UploadTemp\\2\\Car.PLENTHRA_UNZIP");

    EXPECT_EQ(MakeStagingNames("C:\\c", "D:\\v1.2", 0).packagePath,
              "C:\\c\\UploadTemp\\v1.2.PLENTHRA_UNZIP");
    // A bare drive must not make the staging copy the staging folder itself.
    EXPECT_EQ(MakeStagingNames("C:\\c", "D:", 0).stagingFolder, "C:\\c\\UploadTemp\\folder");
    EXPECT_EQ(MakeStagingNames("C:\\c", "D:\\", 0).stagingFolder, "C:\\c\\UploadTemp\\folder");
}

TEST(MakeStagingNamesTest, NamesThatWouldStageOutsideUploadTempAreNotUsable) {
    struct Row {
        const char* source;
        bool usable;
    };
    const Row rows[] = {
        {"C:\\Models\\..", false},  {"C:\\Models\\.", false},    {"C:\\Models\\...", false},
        {"C:\\Models\\ . ", false}, {"C:\\Models\\a/..", false}, {"C:\\Models\\..\\", false},
        {"C:\\Models\\.car", true}, {"C:\\Models\\v1.2", true},  {"C:\\Models\\a..", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(MakeStagingNames("C:\\c", row.source, 0).usable, row.usable) << row.source;
}

}  // namespace
