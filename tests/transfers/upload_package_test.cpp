// Upload packages built from real folders: the returned package path, the staging place
// cleaned up, stale leftovers replaced, same-named folders kept apart, entry names that
// stay inside the folder, and packings that fail or stop leaving nothing behind. Each package is
// also copied to packaging-out\<case>.zip in the working folder, where check_packages.py reads the
// layout back with Python's zipfile and `unzip -t`. A package of a larger tree, copied and
// deflated by several threads at once, is kept next to the archive the plain zipper makes of
// a finished copy of the same tree, for the script to compare entry by entry.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "store/files/file_operations.h"
#include "store/transfers/folder_zipper.h"
#include "store/transfers/package_names.h"
#include "store/transfers/staged_packer.h"
#include "store/transfers/upload_package.h"

namespace {

std::string WorkingFolder() {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    return cwd;
}

void WriteText(const std::string& path, const std::string& text) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadText(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string text(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text;
}

// `size` bytes that deflate neither to nothing nor not at all: words from a small
// vocabulary in an order drawn from `seed`.
std::string MixedBytes(std::size_t size, unsigned seed) {
    static const char* const kWords[] = {"chair ", "table ", "lamp\n", "\x01\xfe", "mesh ",
                                         "uv ",    "0.25 ",  "\t",     "wood ",    "\x7f"};
    std::string text;
    text.reserve(size + 8);
    unsigned state = seed * 2654435761u + 1;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += kWords[(state >> 16) % 10];
    }
    text.resize(size);
    return text;
}

// Last-write time given in local time, as the archive must store it.
void SetLocalWriteTime(const std::string& path, WORD year, WORD month, WORD day, WORD hour,
                       WORD minute, WORD second) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    SYSTEMTIME st{year, month, 0, day, hour, minute, second, 0};
    FILETIME local, utc;
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    SetFileTime(file, nullptr, nullptr, &utc);
    CloseHandle(file);
}

class UploadPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = WorkingFolder() + "\\packaging-work";
        out = WorkingFolder() + "\\packaging-out";
        DeleteFolderTree(root.c_str());
        // Kept archives of an earlier run must not pass for this run's.
        static bool outCleared = false;
        if (!outCleared)
            DeleteFolderTree(out.c_str());
        outCleared = true;
        ASSERT_TRUE(CreateFolderTree((root + "\\src").c_str()));
        ASSERT_TRUE(CreateFolderTree(out.c_str()));
        cache = root + "\\cache";
    }
    void TearDown() override { DeleteFolderTree(root.c_str()); }

    std::string MakeFolder(const std::string& relative) {
        const std::string path = root + "\\src\\" + relative;
        EXPECT_TRUE(CreateFolderTree(path.c_str()));
        return path;
    }
    // Keeps a copy of a package for check_packages.py.
    void Keep(const std::string& package, const char* caseName) {
        EXPECT_TRUE(CopyFileA(package.c_str(), (out + "\\" + caseName + ".zip").c_str(), FALSE))
            << package;
    }

    // Packs `folder` and expects a package; returns its path.
    std::string Pack(const std::string& folder) {
        std::atomic<bool> never{false};
        std::string package;
        EXPECT_EQ(buildUploadPackage(cache, folder, never, package), PackageResult::kBuilt)
            << folder;
        return package;
    }

    std::string root, out, cache;
};

TEST_F(UploadPackageTest, FolderBecomesOnePackageBelowUploadTemp) {
    const std::string car = MakeFolder("Models\\Car");
    MakeFolder("Models\\Car\\maps");
    MakeFolder("Models\\Car\\empty");
    MakeFolder("Models\\Car\\.git");
    WriteText(car + "\\body.max", "body of the car");
    WriteText(car + "\\.hidden", "not packed");
    WriteText(car + "\\maps\\wheel.jpg", std::string(100000, 'w'));
    WriteText(car + "\\maps\\.thumbs", "not packed");
    WriteText(car + "\\.git\\config", "not packed");
    SetLocalWriteTime(car + "\\body.max", 2021, 6, 15, 10, 20, 30);
    SetFileAttributesA((car + "\\body.max").c_str(), FILE_ATTRIBUTE_READONLY);

    const std::string package = Pack(car);
    EXPECT_EQ(package, cache + "\\UploadTemp\\Car.PLENTHRA_UNZIP");
    EXPECT_TRUE(FileExists(package.c_str()));
    EXPECT_FALSE(FileExists((cache + "\\UploadTemp\\Car").c_str())) << "staging copy left";
    EXPECT_FALSE(FileExists((cache + "\\UploadTemp\\Car.zip").c_str())) << "archive left";
    EXPECT_EQ(ReadText(car + "\\body.max"), "body of the car") << "source touched";
    Keep(package, "layout");
    SetFileAttributesA((car + "\\body.max").c_str(), FILE_ATTRIBUTE_NORMAL);
    removeUploadPackage(package);
    EXPECT_FALSE(FileExists(package.c_str()));
}

TEST_F(UploadPackageTest, EmptyAndDottedFoldersKeepTheirNames) {
    const std::string empty = MakeFolder("Empty");
    const std::string package = Pack(empty);
    EXPECT_EQ(package, cache + "\\UploadTemp\\Empty.PLENTHRA_UNZIP");
    Keep(package, "empty");

    const std::string dotted = MakeFolder("v1.2");
    WriteText(dotted + "\\readme.txt", "version");
    // A trailing backslash names the same folder.
    const std::string dottedPackage = Pack(dotted + "\\");
    EXPECT_EQ(dottedPackage, cache + "\\UploadTemp\\v1.2.PLENTHRA_UNZIP");
    Keep(dottedPackage, "dotted");

    EXPECT_TRUE(zipFolder(dotted.c_str(), false));
    EXPECT_TRUE(FileExists((root + "\\src\\v1.2.zip").c_str()));
}

TEST_F(UploadPackageTest, StaleLeftoversOfTheSameNameAreReplaced) {
    const std::string car = MakeFolder("Car");
    WriteText(car + "\\fresh.txt", "fresh");
    const std::string temp = cache + "\\UploadTemp";
    ASSERT_TRUE(CreateFolderTree((temp + "\\Car").c_str()));
    WriteText(temp + "\\Car\\stale.txt", "stale staging copy");
    WriteText(temp + "\\Car.zip", "stale archive");
    WriteText(temp + "\\Car.PLENTHRA_UNZIP", "stale package");

    const std::string package = Pack(car);
    EXPECT_EQ(package, temp + "\\Car.PLENTHRA_UNZIP");
    EXPECT_NE(ReadText(package), "stale package");
    Keep(package, "stale");
}

TEST_F(UploadPackageTest, SameNamedFoldersPackedTogetherStayApart) {
    const std::string first = MakeFolder("a\\Car");
    const std::string second = MakeFolder("b\\Car");
    WriteText(first + "\\which.txt", "first");
    WriteText(second + "\\which.txt", "second");

    // The first package is still being uploaded while the second folder is packed.
    const std::string p1 = Pack(first);
    const std::string p2 = Pack(second);
    EXPECT_EQ(p1, cache + "\\UploadTemp\\Car.PLENTHRA_UNZIP");
    EXPECT_EQ(p2, cache + "\\UploadTemp\\1\\Car.PLENTHRA_UNZIP");
    Keep(p1, "apart-first");
    Keep(p2, "apart-second");

    // Once the first upload deleted its package, the plain place is free again; the
    // numbered folder goes with its package.
    DeleteFileIfExists(p1.c_str());
    const std::string p3 = Pack(first);
    EXPECT_EQ(p3, p1);
    removeUploadPackage(p2);
    EXPECT_FALSE(FileExists((cache + "\\UploadTemp\\1").c_str()));
    removeUploadPackage(p3);

    // Packed at the same moment from two workers.
    std::string q1, q2;
    std::thread t1([&] { q1 = Pack(first); });
    std::thread t2([&] { q2 = Pack(second); });
    t1.join();
    t2.join();
    EXPECT_NE(q1, q2);
    EXPECT_TRUE(FileExists(q1.c_str()));
    EXPECT_TRUE(FileExists(q2.c_str()));
    removeUploadPackage(q1);
    removeUploadPackage(q2);
}

TEST_F(UploadPackageTest, FolderThatCannotBeCopiedWholeGivesNoPackageAndNoStagingCopy) {
    // A file another program holds open without sharing.
    const std::string locked = MakeFolder("Locked");
    WriteText(locked + "\\a.txt", "readable");
    WriteText(locked + "\\held.max", "held");
    const HANDLE held = CreateFileA((locked + "\\held.max").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // An entry whose path fits at the source but not once re-rooted below a cache folder
    // with a longer path.
    const std::string deep = MakeFolder("Deep");
    // A path of 250 bytes: within the 259 an ANSI file call takes, until re-rooted.
    ASSERT_LT(deep.size(), 200u);
    const std::string longName(250 - deep.size() - 1, 'n');
    WriteText(deep + "\\" + longName.substr(0, 20), "short");
    const std::string deepFile = deep + "\\" + longName;
    WriteText(deepFile, "fits here");
    ASSERT_EQ(ReadText(deepFile), "fits here");
    const std::string longCache = cache + "\\" + std::string(120, 'c');

    struct Case {
        const char* label;
        std::string cacheFolder;
        std::string folder;
        std::string name;
    };
    const Case cases[] = {
        {"locked file", cache, locked, "Locked"},
        {"path too long below the staging folder", longCache, deep, "Deep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::atomic<bool> never{false};
        std::string package;
        EXPECT_EQ(buildUploadPackage(c.cacheFolder, c.folder, never, package),
                  PackageResult::kFailed);
        const std::string temp = c.cacheFolder + "\\UploadTemp\\";
        EXPECT_FALSE(FileExists((temp + c.name + ".PLENTHRA_UNZIP").c_str())) << "package made";
        EXPECT_FALSE(FileExists((temp + c.name).c_str())) << "staging copy left";
        EXPECT_FALSE(FileExists((temp + c.name + ".zip").c_str())) << "archive left";
        removeUploadPackage(package);
    }
    CloseHandle(held);
    EXPECT_EQ(ReadText(locked + "\\held.max"), "held") << "source touched";
}

TEST_F(UploadPackageTest, PackageOfALargerTreeMatchesAZipOfTheFinishedCopy) {
    // Enough small files to fill the memory the copier and deflaters may hold, files above
    // what is deflated in memory between them, empty ones, and names left out of the archive.
    const std::string tree = MakeFolder("Tree");
    MakeFolder("Tree\\textures\\empty");
    MakeFolder("Tree\\.cache");
    WriteText(tree + "\\.cache\\index", MixedBytes(300000, 1));
    WriteText(tree + "\\.notes", "left out");
    WriteText(tree + "\\empty.max", "");
    WriteText(tree + "\\one.txt", "1");
    WriteText(tree + "\\big-first.max", MixedBytes(5000000, 2));
    for (int i = 0; i < 40; ++i) {
        const std::string folder = i % 2 ? "\\textures\\" : "\\";
        WriteText(tree + folder + "part" + std::to_string(i) + ".bin",
                  MixedBytes(static_cast<std::size_t>(700000 + 1000 * i), 10u + unsigned(i)));
    }
    WriteText(tree + "\\textures\\big-last.tga", MixedBytes(4500000, 3));
    SetLocalWriteTime(tree + "\\one.txt", 2019, 1, 2, 3, 4, 6);

    const std::string package = Pack(tree);
    Keep(package, "tree-package");
    EXPECT_FALSE(FileExists((cache + "\\UploadTemp\\Tree").c_str())) << "staging copy left";
    removeUploadPackage(package);

    const std::string reference = root + "\\reference\\Tree";
    ASSERT_TRUE(CopyFolderTree(tree.c_str(), reference.c_str()));
    ASSERT_TRUE(zipFolder(reference.c_str(), false));
    Keep(root + "\\reference\\Tree.zip", "tree-reference");
}

TEST_F(UploadPackageTest, FaultsWhileFilesAreInFlightLeaveNothing) {
    // The held file sits among many others (listed by name, it comes last), so copies and
    // deflates are under way when the packing fails; the big one is copied by the archive
    // writer itself.
    const std::string manySmall = MakeFolder("ManySmall");
    const std::string manyBig = MakeFolder("ManyBig");
    for (int i = 0; i < 60; ++i) {
        WriteText(manySmall + "\\a" + std::to_string(100 + i), MixedBytes(200000, unsigned(i)));
        WriteText(manyBig + "\\a" + std::to_string(100 + i), MixedBytes(200000, unsigned(i)));
    }
    WriteText(manySmall + "\\held.bin", MixedBytes(300000, 7));
    WriteText(manyBig + "\\held.bin", MixedBytes(6000000, 7));
    for (const std::string& folder : {manySmall, manyBig}) {
        SCOPED_TRACE(folder);
        const HANDLE held = CreateFileA((folder + "\\held.bin").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::atomic<bool> never{false};
        std::string package;
        EXPECT_EQ(buildUploadPackage(cache, folder, never, package), PackageResult::kFailed);
        CloseHandle(held);
        EXPECT_FALSE(FileExists(package.c_str())) << "package made";
        const std::string staging = package.substr(0, package.size() - kPackageMarker.size());
        EXPECT_FALSE(FileExists(staging.c_str())) << "staging copy left";
        EXPECT_FALSE(FileExists((staging + ".zip").c_str())) << "archive left";
        removeUploadPackage(package);
    }

    // A stop seen after the fifth entry: not one entry more is written, and the call ends
    // with every thread it started.
    std::atomic<bool> stop{false};
    int lastEntry = 0;
    const std::string staging = root + "\\stopped\\ManySmall";
    EXPECT_FALSE(PackThroughStaging(manySmall, staging, staging + ".zip", stop, [&](int entries) {
        lastEntry = entries;
        if (entries == 5)
            stop = true;
    }));
    EXPECT_EQ(lastEntry, 5);
}

TEST_F(UploadPackageTest, DotNamesThatWouldStageOutsideUploadTempDeleteNothing) {
    const std::string models = MakeFolder("Models");
    WriteText(models + "\\model.max", "model");
    // What the cache already holds: downloaded models and an earlier staging leftover.
    ASSERT_TRUE(CreateFolderTree((cache + "\\UploadTemp").c_str()));
    WriteText(cache + "\\downloaded.max", "downloaded");
    WriteText(cache + "\\UploadTemp\\other.PLENTHRA_UNZIP", "other package");
    for (const char* name : {"..", ".", "...", " . "}) {
        SCOPED_TRACE(name);
        std::atomic<bool> never{false};
        std::string package;
        EXPECT_EQ(buildUploadPackage(cache, models + "\\" + name, never, package),
                  PackageResult::kFailed);
        removeUploadPackage(package);
        EXPECT_EQ(ReadText(cache + "\\downloaded.max"), "downloaded");
        EXPECT_EQ(ReadText(cache + "\\UploadTemp\\other.PLENTHRA_UNZIP"), "other package");
        EXPECT_EQ(ReadText(models + "\\model.max"), "model");
    }
}

TEST_F(UploadPackageTest, StoppedPackingLeavesNothing) {
    const std::string car = MakeFolder("Car");
    for (int i = 0; i < 20; ++i)
        WriteText(car + "\\part" + std::to_string(i) + ".bin", std::string(200000, 'p'));
    std::atomic<bool> stop{true};
    std::string package;
    EXPECT_EQ(buildUploadPackage(cache, car, stop, package), PackageResult::kStopped);
    const std::string temp = cache + "\\UploadTemp\\";
    EXPECT_FALSE(FileExists((temp + "Car.PLENTHRA_UNZIP").c_str()));
    EXPECT_FALSE(FileExists((temp + "Car").c_str()));
    EXPECT_FALSE(FileExists((temp + "Car.zip").c_str()));

    // A stop while the archive is written ends it between writes.
    FolderZipper zipper;
    std::atomic<bool> later{false};
    zipper.setStopFlag(&later);
    ASSERT_TRUE(zipper.open((root + "\\stopped.zip").c_str(), (root + "\\src").c_str(), false));
    EXPECT_TRUE(zipper.addFile((car + "\\part0.bin").c_str(), false));
    later = true;
    EXPECT_FALSE(zipper.addFile((car + "\\part1.bin").c_str(), false));
    EXPECT_FALSE(zipper.addFolder(car.c_str(), false));
    EXPECT_EQ(zipper.filesAdded(), 1);
    zipper.close();
}

TEST_F(UploadPackageTest, ZipperRefusesNamesOutsideItsBaseFolder) {
    const std::string base = MakeFolder("base");
    const std::string outside = MakeFolder("outside");
    WriteText(base + "\\inside.txt", "in");
    WriteText(outside + "\\secret.txt", "out");
    MakeFolder("base\\sub");
    WriteText(base + "\\sub\\deep.txt", "deep");

    FolderZipper zipper;
    ASSERT_TRUE(zipper.open((out + "\\safe.zip").c_str(), base.c_str(), false));
    EXPECT_FALSE(zipper.addFile("..\\outside\\secret.txt", false));
    EXPECT_FALSE(zipper.addFile((outside + "\\secret.txt").c_str(), false));
    EXPECT_FALSE(zipper.addFolder(outside.c_str(), false));
    EXPECT_TRUE(zipper.addFile("inside.txt", false));
    EXPECT_TRUE(zipper.addFile(".\\sub\\deep.txt", false));
    // The base folder itself would be the entry "\": only its contents go in.
    EXPECT_TRUE(zipper.addFolder(base.c_str(), false));
    EXPECT_FALSE(zipper.addFile((base + "\\missing.txt").c_str(), false));
    EXPECT_EQ(zipper.filesAdded(), 4);
    EXPECT_EQ(zipper.bytesAdded(), 12u);
    EXPECT_TRUE(zipper.close());
}

}  // namespace
