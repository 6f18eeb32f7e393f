// The file and folder operations on real temporary trees: creating, moving, copying,
// deleting and sizing files and folder trees, with the cases that lose data when wrong
// (a move onto an existing file, a move that stops half-way, read-only files) and the
// 520-character limit of the working copies.
#include "store/files/file_operations.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/files/temp_tree.h"
#include "tests/files/unix_links.h"

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
    return text;
}

// Pads with blanks to exactly `length` characters: the working copies trim them, so the
// padded path names the same file and only the length check tells the two apart.
std::string PadTo(const std::string& path, size_t length) {
    return path + std::string(length - path.size(), ' ');
}

TEST(FileTestsTest, ExistenceFolderAndReadability) {
    TempTree tree;
    tree.Write("f.txt", "x");
    tree.Folder("d");
    const std::string file = tree.Path("f.txt");
    const std::string folder = tree.Path("d");
    const std::string missing = tree.Path("none");

    EXPECT_EQ(FileExists(file.c_str()), 1);
    EXPECT_EQ(FileExists(folder.c_str()), 1);
    EXPECT_EQ(FileExists(missing.c_str()), 0);
    EXPECT_EQ(FileExists(nullptr), 0);

    EXPECT_EQ(IsFolder(folder.c_str()), 1);
    EXPECT_EQ(IsFolder(file.c_str()), 0);
    EXPECT_EQ(IsFolder(missing.c_str()), 0);

    EXPECT_TRUE(IsReadableFile(file.c_str()));
    EXPECT_FALSE(IsReadableFile(missing.c_str()));
    EXPECT_FALSE(IsReadableFile(nullptr));
    // A writer that shares nothing keeps everyone else out.
    const HANDLE locked =
        CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(IsReadableFile(file.c_str()));
    CloseHandle(locked);
    EXPECT_TRUE(IsReadableFile(file.c_str()));
}

TEST(CreateFolderTreeTest, CreatesEveryMissingLevel) {
    TempTree tree;
    tree.Write("file", "x");
    struct Row {
        std::string path;
        int result;
        const char* mustExist;
    };
    const Row rows[] = {
        {tree.Path("new\\deep\\tree"), 1, "new\\deep\\tree"},
        {tree.Path("new\\deep\\tree"), 1, "new\\deep\\tree"},  // already there
        {tree.Path("other\\trail\\"), 1, "other\\trail"},
        {tree.Path("new\\deep\\x\\y"), 1, "new\\deep\\x\\y"},  // partly there
        {tree.Path("file\\sub"), 0, "file"},                   // a file is in the way
        {"", 0, ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CreateFolderTree(row.path.c_str()), row.result) << row.path;
        EXPECT_TRUE(tree.Exists(row.mustExist)) << row.mustExist;
    }
    EXPECT_EQ(tree.Attributes("new\\deep\\tree"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(tree.Read("file"), "x");
}

TEST(SingleFileTest, MoveAndCopyToTable) {
    using Operation = int (*)(const char*, const char*);
    struct Row {
        const char* name;
        Operation operation;
        std::string source;  // relative to the tree
        std::string destination;
        int result;
        const char* sourceAfter;  // content at the source afterwards ("<missing>" if gone)
        const char* destinationAfter;
    };
    TempTree tree;
    auto setUp = [&tree] {
        tree.Write("a.txt", "A");
        tree.Write("b.txt", "B");
    };
    const Row rows[] = {
        {"move into a new folder", MoveFileTo, "a.txt", "n1\\n2\\c.txt", 1, "<missing>", "A"},
        {"move onto an existing file", MoveFileTo, "a.txt", "b.txt", 0, "A", "B"},
        {"copy overwrites", CopyFileTo, "a.txt", "b.txt", 1, "A", "A"},
        {"copy into a new folder", CopyFileTo, "a.txt", "c\\a.txt", 1, "A", "A"},
        {"move from a missing file", MoveFileTo, "none.txt", "c.txt", 0, "<missing>", "<missing>"},
        {"copy from a missing file", CopyFileTo, "none.txt", "c.txt", 0, "<missing>", "<missing>"},
    };
    for (const Row& row : rows) {
        setUp();
        EXPECT_EQ(row.operation(tree.Path(row.source).c_str(), tree.Path(row.destination).c_str()),
                  row.result)
            << row.name;
        EXPECT_EQ(tree.Read(row.source), row.sourceAfter) << row.name;
        EXPECT_EQ(tree.Read(row.destination), row.destinationAfter) << row.name;
        for (const char* name : {"a.txt", "b.txt", "c.txt", "n1\\n2\\c.txt", "c\\a.txt"}) {
            DeleteFileA(tree.Path(name).c_str());
        }
    }
}

TEST(SingleFileTest, SamePathAfterTrimmingAndCaseIsRefused) {
    TempTree tree;
    tree.Write("a.txt", "A");
    const std::string source = tree.Path("a.txt");
    const std::string same = Upper(source) + " ";
    EXPECT_EQ(MoveFileTo(source.c_str(), same.c_str()), 0);
    EXPECT_EQ(CopyFileTo((" " + source).c_str(), same.c_str()), 0);
    EXPECT_EQ(tree.Read("a.txt"), "A");
    // Without any backslash there is no folder to create, so the move fails.
    EXPECT_EQ(MoveFileTo(source.c_str(), "plain.txt"), 0);
    EXPECT_EQ(tree.Read("a.txt"), "A");
}

TEST(SingleFileTest, PathsOf519CharactersProceedAnd520AreRefused) {
    TempTree tree;
    tree.Write("a.txt", "A");
    const std::string source = tree.Path("a.txt");
    const std::string destination = tree.Path("b.txt");

    EXPECT_EQ(MoveFileTo(PadTo(source, 520).c_str(), destination.c_str()), 0);
    EXPECT_EQ(MoveFileTo(source.c_str(), PadTo(destination, 520).c_str()), 0);
    EXPECT_EQ(CopyFileTo(source.c_str(), PadTo(destination, 520).c_str()), 0);
    EXPECT_FALSE(tree.Exists("b.txt"));

    EXPECT_EQ(CopyFileTo(PadTo(source, 519).c_str(), PadTo(destination, 519).c_str()), 1);
    EXPECT_EQ(tree.Read("b.txt"), "A");
    EXPECT_EQ(MoveFileTo(PadTo(source, 519).c_str(), PadTo(tree.Path("c.txt"), 519).c_str()), 1);
    EXPECT_EQ(tree.Read("c.txt"), "A");
    EXPECT_FALSE(tree.Exists("a.txt"));
}

TEST(DeleteFileIfExistsTest, DeletesOnlyExistingWritableFiles) {
    TempTree tree;
    tree.Write("a.txt", "A");
    tree.Write("ro.txt", "R");
    tree.SetReadOnly("ro.txt");
    tree.Folder("d");
    EXPECT_EQ(DeleteFileIfExists(tree.Path("a.txt").c_str()), 1);
    EXPECT_FALSE(tree.Exists("a.txt"));
    EXPECT_EQ(DeleteFileIfExists(tree.Path("a.txt").c_str()), 0);
    EXPECT_EQ(DeleteFileIfExists(tree.Path("ro.txt").c_str()), 0);
    EXPECT_EQ(tree.Read("ro.txt"), "R");
    EXPECT_EQ(DeleteFileIfExists(tree.Path("d").c_str()), 0);
    EXPECT_TRUE(tree.Exists("d"));
}

// A source tree of files at two levels, one of them read-only.
void WriteSourceTree(const TempTree& tree) {
    tree.Write("src\\one.txt", "1");
    tree.Write("src\\sub\\two.txt", "22");
    tree.Write("src\\sub\\deeper\\three.txt", "333");
    tree.Folder("src\\empty");
    tree.Write("src\\ro.txt", "ro");
    tree.SetReadOnly("src\\ro.txt");
}

void ExpectTreeAt(const TempTree& tree, const std::string& root) {
    EXPECT_EQ(tree.Read(root + "\\one.txt"), "1");
    EXPECT_EQ(tree.Read(root + "\\sub\\two.txt"), "22");
    EXPECT_EQ(tree.Read(root + "\\sub\\deeper\\three.txt"), "333");
    EXPECT_EQ(tree.Read(root + "\\ro.txt"), "ro");
    EXPECT_TRUE(tree.Exists(root + "\\empty"));
}

TEST(FolderTreeTest, CopyKeepsTheSourceAndClearsReadOnly) {
    TempTree tree;
    WriteSourceTree(tree);
    tree.Write("dst\\one.txt", "old");  // overwritten
    tree.Write("dst\\kept.txt", "k");   // left alone
    EXPECT_EQ(CopyFolderTree(tree.Path("src").c_str(), tree.Path("dst").c_str()), 1);
    ExpectTreeAt(tree, "src");
    ExpectTreeAt(tree, "dst");
    EXPECT_EQ(tree.Read("dst\\kept.txt"), "k");
    EXPECT_EQ(tree.Attributes("src\\ro.txt") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(tree.Attributes("dst\\ro.txt") & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(FolderTreeTest, MoveCarriesEverythingAndRemovesTheSource) {
    TempTree tree;
    WriteSourceTree(tree);
    EXPECT_EQ(MoveFolderTree(tree.Path("src").c_str(), tree.Path("new\\place").c_str()), 1);
    ExpectTreeAt(tree, "new\\place");
    EXPECT_FALSE(tree.Exists("src"));
}

TEST(FolderTreeTest, SamePathDoesNothing) {
    TempTree tree;
    tree.Write("src\\one.txt", "1");
    const std::string source = tree.Path("src");
    const std::string variants[] = {Upper(source), " " + source + "\\ ", source + "\\"};
    for (const std::string& same : variants) {
        EXPECT_EQ(MoveFolderTree(source.c_str(), same.c_str()), 1) << same;
        EXPECT_EQ(CopyFolderTree(source.c_str(), same.c_str()), 1) << same;
        EXPECT_EQ(tree.List("src"), std::vector<std::string>{"one.txt"});
    }
}

TEST(FolderTreeTest, MoveThatStopsHalfWayKeepsWhatMoved) {
    TempTree tree;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) {
        tree.Write(std::string("src\\") + name, name);
    }
    // The listing order decides what moves before the clash; take it from the file system.
    const std::vector<std::string> order = tree.List("src");
    ASSERT_EQ(order.size(), 5u);
    const std::string clash = order[2];
    tree.Write("dst\\" + clash, "theirs");

    EXPECT_EQ(MoveFolderTree(tree.Path("src").c_str(), tree.Path("dst").c_str()), 0);
    for (size_t i = 0; i < order.size(); ++i) {
        const std::string& name = order[i];
        if (i < 2) {
            EXPECT_EQ(tree.Read("dst\\" + name), name) << name << " moved before the clash";
            EXPECT_FALSE(tree.Exists("src\\" + name)) << name;
        } else {
            EXPECT_EQ(tree.Read("src\\" + name), name) << name << " stays at the source";
        }
    }
    EXPECT_EQ(tree.Read("dst\\" + clash), "theirs");
}

TEST(FolderTreeTest, RefusesMissingSourceAndOverlongDestination) {
    TempTree tree;
    tree.Write("src\\one.txt", "1");
    EXPECT_EQ(MoveFolderTree(tree.Path("none").c_str(), tree.Path("dst").c_str()), 0);
    EXPECT_EQ(CopyFolderTree(tree.Path("none").c_str(), tree.Path("dst").c_str()), 0);
    EXPECT_EQ(CopyFolderTree(tree.Path("src").c_str(), PadTo(tree.Path("dst"), 520).c_str()), 0);
    EXPECT_EQ(MoveFolderTree(tree.Path("src").c_str(), PadTo(tree.Path("dst"), 520).c_str()), 0);
    EXPECT_FALSE(tree.Exists("dst"));
    EXPECT_EQ(tree.Read("src\\one.txt"), "1");
}

TEST(DeleteFolderTreeTest, RemovesTreesButNotReadOnlyFiles) {
    TempTree tree;
    WriteSourceTree(tree);
    tree.Write("plain\\a\\b.txt", "b");
    EXPECT_EQ(DeleteFolderTree(tree.Path("plain").c_str()), 1);
    EXPECT_FALSE(tree.Exists("plain"));

    EXPECT_EQ(DeleteFolderTree(tree.Path("src").c_str()), 0);
    EXPECT_EQ(tree.List("src"), std::vector<std::string>{"ro.txt"});
    EXPECT_EQ(DeleteFolderTree(tree.Path("none").c_str()), 0);
}

TEST(FolderSizeTest, CountsFilesAndAddsTheirLengths) {
    TempTree tree;
    WriteSourceTree(tree);  // 1 + 2 + 3 + 2 bytes in 4 files
    struct Row {
        std::string path;
        int count;
        uint64_t added;
    };
    const Row rows[] = {
        {tree.Path("src"), 4, 8},
        {tree.Path("src") + "\\\\", 4, 8},  // trailing backslashes are stripped
        {tree.Path("src\\sub"), 2, 5},
        {tree.Path("src\\empty"), 0, 0},
        {tree.Path("none"), 0, 0},
        // A bare drive is never walked, whatever its size.
        {"C:\\", 0, 0},
        {"C:", 0, 0},
        {"Z:\\\\", 0, 0},
        {"", 0, 0},
    };
    for (const Row& row : rows) {
        uint64_t total = 1000;
        EXPECT_EQ(GetFolderSize(row.path.c_str(), total), row.count) << row.path;
        EXPECT_EQ(total, 1000 + row.added) << row.path;
    }
}

TEST(PathSizeTest, FilesFoldersAndFoldersWithFurtherAttributes) {
    TempTree tree;
    WriteSourceTree(tree);
    // Wine reports a folder whose name starts with a dot as hidden.
    tree.Write(".hidden\\x.txt", "xx");
    ASSERT_EQ(tree.Attributes(".hidden"),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(tree.Attributes("src"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    EXPECT_EQ(GetPathSize(tree.Path("src").c_str()), 8u);
    EXPECT_EQ(GetPathSize(tree.Path("src\\sub\\two.txt").c_str()), 2u);
    EXPECT_EQ(GetPathSize(tree.Path(".hidden").c_str()), 0u);  // the folder entry's own size
    EXPECT_EQ(GetPathSize(tree.Path("none").c_str()), 0u);
    EXPECT_EQ(GetPathSize(nullptr), 0u);
}

TEST(PathSizeTest, SizesBeyond4GigabytesAreNotCut) {
    TempTree tree;
    tree.Folder("big");
    const std::string path = tree.Path("big\\sparse.bin");
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = (5LL << 30) + 7;
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    EXPECT_EQ(GetPathSize(path.c_str()), (5ULL << 30) + 7);
    EXPECT_EQ(GetPathSize(tree.Path("big").c_str()), (5ULL << 30) + 7);
}

// A drive letter mapped onto a scratch folder: every spelling of its root is refused by the
// delete and the move, and nothing below it is touched.
TEST(DriveRootTest, DeleteAndMoveRefuseTheRootOfADrive) {
    TempTree tree;
    tree.Write("drive\\keep.txt", "k");
    tree.Write("drive\\sub\\deep.txt", "d");
    unix_links::MappedDrive drive('r', tree.Path("drive"));
    ASSERT_TRUE(drive.Mapped());
    ASSERT_EQ(GetFileAttributesA("R:\\keep.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    for (const char* root : {"R:", "R:\\", "r:\\\\", " R:\\ ", "R:/", "R:\\sub\\.."}) {
        EXPECT_EQ(DeleteFolderTree(root), 0) << root;
        EXPECT_EQ(MoveFolderTree(root, tree.Path("moved").c_str()), 0) << root;
        EXPECT_EQ(MoveFolderTree(tree.Path("drive\\sub").c_str(), root), 0) << root;
        EXPECT_EQ(tree.Read("drive\\keep.txt"), "k") << root;
        EXPECT_EQ(tree.Read("drive\\sub\\deep.txt"), "d") << root;
        EXPECT_FALSE(tree.Exists("moved")) << root;
    }
    // A folder on that drive is still an ordinary folder.
    EXPECT_EQ(DeleteFolderTree("R:\\sub"), 1);
    EXPECT_FALSE(tree.Exists("drive\\sub"));
}

// A folder link inside a tree (Wine reports a Linux symbolic link to a folder as a reparse
// point, as Windows does a junction): the walks never go through it.
TEST(ReparsePointTest, WalksNeverGoThroughAFolderLink) {
    TempTree tree;
    tree.Write("target\\kept.txt", "kept");
    tree.Write("walk\\own.txt", "own");
    ASSERT_TRUE(tree.Link("walk\\link", "target"));
    // A link to its own ancestor would make every walk go round for ever.
    ASSERT_TRUE(tree.Link("walk\\loop", "walk"));
    ASSERT_NE(tree.Attributes("walk\\link") & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

    uint64_t total = 0;
    EXPECT_EQ(GetFolderSize(tree.Path("walk").c_str(), total), 1);
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(GetPathSize(tree.Path("walk").c_str()), 3u);

    EXPECT_EQ(CopyFolderTree(tree.Path("walk").c_str(), tree.Path("copy").c_str()), 1);
    EXPECT_EQ(tree.List("copy"), std::vector<std::string>{"own.txt"});

    DeleteFolderTree(tree.Path("walk").c_str());
    EXPECT_FALSE(tree.Exists("walk\\own.txt"));
    EXPECT_EQ(tree.Read("target\\kept.txt"), "kept");
}

TEST(ReparsePointTest, MoveLeavesTheLinkAndWhatItPointsAt) {
    TempTree tree;
    tree.Write("target\\kept.txt", "kept");
    tree.Write("walk\\own.txt", "own");
    ASSERT_TRUE(tree.Link("walk\\link", "target"));

    EXPECT_EQ(MoveFolderTree(tree.Path("walk").c_str(), tree.Path("moved").c_str()), 1);
    EXPECT_EQ(tree.Read("moved\\own.txt"), "own");
    EXPECT_FALSE(tree.Exists("moved\\link"));
    EXPECT_EQ(tree.List("walk"), std::vector<std::string>{"link"});
    EXPECT_EQ(tree.List("target"), std::vector<std::string>{"kept.txt"});
}

}  // namespace
