// Path text without the file system: parent and name parts, folder prefixes, working
// copies and same-path tests, each also walked with a double-byte code page whose trail
// bytes include the backslash (as Shift-JIS does), so a trail byte is never cut at.
#include "store/files/path_walk.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/multibyte.h"

namespace {

// "\x95\x5C" is one double-byte character whose trail byte is a backslash.
const std::string kKanji = "\x95\x5C";

// Shift-JIS lead bytes, so the cases mean the same on every machine and code page.
class DoubleByteCodePage {
public:
    DoubleByteCodePage() : m_first(0x81, 0x9F) {}

private:
    ScopedLeadBytesForTesting m_first;
};

std::string ParentOf(const std::string& path, size_t size = kPathBufferSize) {
    std::vector<char> out(size, 'x');
    GetParentFolder(path.c_str(), out.data(), out.size());
    for (size_t i = std::string(out.data()).size(); i < out.size(); ++i) {
        EXPECT_EQ(out[i], '\0') << "buffer not zero-filled at " << i;
    }
    return out.data();
}

TEST(GetParentFolderTest, CutsAtTheLastBackslashThatIsNotTheEnd) {
    struct Row {
        const char* path;
        const char* parent;
    };
    const Row rows[] = {
        {"C:\\a\\b\\file.txt", "C:\\a\\b"},
        {"C:\\file.txt", "C:"},
        {"C:\\a\\b\\", "C:\\a"},  // a trailing backslash belongs to the last component
        {"file.txt", ""},
        {"", ""},
        {"\\file", ""},
        {"C:\\a\\\\b", "C:\\a\\"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ParentOf(row.path), row.parent) << row.path;
    }
    EXPECT_EQ(ParentOf("C:\\abcdef\\x", 4), "C:\\");  // cut to the buffer, zero at the end
}

TEST(GetParentFolderTest, NeverCutsInsideADoubleByteCharacter) {
    DoubleByteCodePage codePage;
    EXPECT_EQ(ParentOf("C:\\" + kKanji + "\\f.txt"), "C:\\" + kKanji);
    EXPECT_EQ(ParentOf("C:\\d" + kKanji + "x.txt"), "C:");
    EXPECT_EQ(ParentOf("C:\\a\\d" + kKanji), "C:\\a");  // the trail byte is not a final '\'
}

TEST(GetFileNamePartTest, KeepsTheEndOfTheNameThatFits) {
    struct Row {
        const char* path;
        size_t size;
        const char* name;
    };
    const Row rows[] = {
        {"C:\\dl\\archive-2007.zip", 520, "archive-2007.zip"},
        {"C:\\dl\\archive-2007.zip", 8, "007.zip"},
        {"C:\\dl\\archive-2007.zip", 1, ""},
        {"plain.txt", 520, "plain.txt"},
        {"C:\\dl\\", 520, ""},
    };
    for (const Row& row : rows) {
        std::vector<char> out(row.size, 'x');
        EXPECT_EQ(GetFileNamePart(row.path, out.data(), out.size()), std::strlen(row.name))
            << row.path;
        EXPECT_STREQ(out.data(), row.name) << row.path;
    }
    char untouched = 'x';
    EXPECT_EQ(GetFileNamePart("C:\\a.txt", &untouched, 0), 0u);
    EXPECT_EQ(untouched, 'x');
}

TEST(GetFileNamePartTest, DropsWholeDoubleByteCharacters) {
    DoubleByteCodePage codePage;
    char out[520];
    const std::string path = "C:\\dl\\" + kKanji + "a.zip";
    EXPECT_EQ(GetFileNamePart(path.c_str(), out, sizeof(out)), 7u);
    EXPECT_EQ(std::string(out), kKanji + "a.zip");
    // Six bytes would split the character: both of its bytes go.
    char small[7];
    EXPECT_EQ(GetFileNamePart(path.c_str(), small, sizeof(small)), 5u);
    EXPECT_STREQ(small, "a.zip");
}

TEST(BuildFolderPrefixesTest, OnePrefixPerLevelInCreationOrder) {
    EXPECT_EQ(BuildFolderPrefixes("C:\\new\\deep\\tree"),
              (std::vector<std::string>{"C:", "C:\\new", "C:\\new\\deep", "C:\\new\\deep\\tree"}));
    EXPECT_EQ(BuildFolderPrefixes("C:\\a\\"), (std::vector<std::string>{"C:", "C:\\a", "C:\\a\\"}));
    EXPECT_EQ(BuildFolderPrefixes("name"), (std::vector<std::string>{"name"}));
    EXPECT_TRUE(BuildFolderPrefixes("").empty());

    DoubleByteCodePage codePage;
    EXPECT_EQ(BuildFolderPrefixes("C:\\" + kKanji + "\\b"),
              (std::vector<std::string>{"C:", "C:\\" + kKanji, "C:\\" + kKanji + "\\b"}));
}

TEST(WorkingCopyTest, RefusesPathsOf520CharactersAndTrimsTheRest) {
    char out[kPathBufferSize];
    const std::string fits(519, 'a');
    ASSERT_TRUE(MakeWorkingCopy(fits.c_str(), out));
    EXPECT_EQ(std::string(out), fits);
    EXPECT_FALSE(MakeWorkingCopy(std::string(520, 'a').c_str(), out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(MakeWorkingCopy(nullptr, out));

    ASSERT_TRUE(MakeWorkingCopy(" \tC:\\a b.txt \t ", out));
    EXPECT_STREQ(out, "C:\\a b.txt");
    // Blanks count before trimming: the limit is on what the caller passed.
    EXPECT_FALSE(MakeWorkingCopy(("C:\\x" + std::string(516, ' ')).c_str(), out));
}

TEST(WorkingCopyTest, StripsOneTrailingBackslashOfWholeCharacters) {
    struct Row {
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"C:\\a\\", "C:\\a"}, {"C:\\a\\\\", "C:\\a\\"}, {"\\", "\\"}, {"C:\\a", "C:\\a"}};
    for (const Row& row : rows) {
        std::string text = row.in;
        StripOneTrailingBackslash(&text[0]);
        EXPECT_EQ(std::string(text.c_str()), row.out) << row.in;
    }
    DoubleByteCodePage codePage;
    std::string text = "C:\\" + kKanji;
    StripOneTrailingBackslash(&text[0]);
    EXPECT_EQ(std::string(text.c_str()), "C:\\" + kKanji);
}

TEST(SamePathTest, IgnoresAsciiCaseOnly) {
    EXPECT_TRUE(SamePath("C:\\a.txt", "c:\\A.TXT"));
    EXPECT_FALSE(SamePath("C:\\a.txt", "C:\\a.txt "));
    EXPECT_FALSE(SamePath("C:\\a.txt", "C:\\b.txt"));
    DoubleByteCodePage codePage;
    // The trail bytes 'A' and 'a' are parts of two different characters.
    EXPECT_FALSE(
        SamePath("\x95"
                 "A",
                 "\x95"
                 "a"));
    EXPECT_TRUE(
        SamePath("X\x95"
                 "A",
                 "x\x95"
                 "A"));
}

TEST(JoinEntryPathTest, FormsFolderBackslashNameOnlyWhenItFits) {
    char out[kPathBufferSize];
    ASSERT_TRUE(JoinEntryPath("C:\\a", "b.txt", out, sizeof(out)));
    EXPECT_STREQ(out, "C:\\a\\b.txt");
    const std::string folder(500, 'f');
    EXPECT_TRUE(JoinEntryPath(folder, std::string(18, 'n'), out, sizeof(out)));   // 519 chars
    EXPECT_FALSE(JoinEntryPath(folder, std::string(19, 'n'), out, sizeof(out)));  // 520
}

TEST(TrimBlanksTest, KeepsDoubleByteCharacterWhoseTrailLooksLikeABlank) {
    EXPECT_EQ(TrimBlanks(" \t a b \t"), "a b");
    EXPECT_EQ(TrimBlanks("  "), "");
    ScopedLeadBytesForTesting codePage(0x81, 0x9F);
    const std::string text = "a\x81 ";  // lead byte + blank trail, then a real blank
    EXPECT_EQ(TrimBlanks(text + " "), text);
}

TEST(WholeDrivePathTest, RootsOfDrivesAndSharesOnly) {
    struct Row {
        std::string path;
        bool whole;
    };
    const Row rows[] = {
        {"C:", true},
        {"C:\\", true},
        {" c:\\\\ ", true},
        {"C:/", true},
        {"C:\\.\\", true},
        {"\\", true},
        {"", true},
        {"\\\\server\\share\\", true},
        {"\\\\server\\share", true},
        {"//server/share/", true},
        {"C:\\a", false},
        {"C:a", false},
        {"\\a", false},
        {"\\\\server\\share\\a", false},
        {"a", false},
        {"C:\\" + kKanji, false},
        // A trail byte that looks like a backslash separates nothing: server and share.
        {"\\\\a" + kKanji + "b\\c\\", true},
    };
    DoubleByteCodePage codePage;
    for (const Row& row : rows) {
        EXPECT_EQ(IsWholeDrivePath(row.path), row.whole) << row.path;
    }
}

}  // namespace
