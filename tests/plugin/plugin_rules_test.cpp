// The plug-in's text rules: which downloads replace the scene, which scene paths can be
// handed over, the store's installation folder and command line, thumbnail names.
#include <gtest/gtest.h>

#include "plugin/launcher_rules.h"
#include "plugin/scene_rules.h"

namespace {

TEST(SceneRules, OnlyExactSceneExtensionsAreLoaded) {
    const struct {
        const char* path;
        bool load;
    } cases[] = {
        {"C:\\d\\model.max", true},
        {"C:\\d\\model.chr", true},
        {"C:\\d\\model.drf", true},
        {"C:\\d\\model.MAX", false},
        {"C:\\d\\model.Max", false},
        {"C:\\d\\model.obj", false},
        {"C:\\d\\model.3ds", false},
        {"C:\\d\\model.max.zip", false},
        {"C:\\d\\modelmax", false},
        {".max", true},
        {"max", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSceneFileToLoad(c.path), c.load) << c.path;
    }
}

TEST(SceneRules, OnlyDriveLetterPathsCanBeHandedOver) {
    const struct {
        const char* path;
        bool drive;
    } cases[] = {
        {"C:\\scenes\\a.max", true},
        {"z:\\a.max", true},
        {"C:/scenes/a.max", false},
        {"\\\\server\\share\\a.max", false},
        {"a.max", false},
        {"C:", false},
        {"C:\\", true},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HasDrivePath(c.path), c.drive) << c.path;
    }
}

TEST(SceneRules, ThumbnailsAreNumberedInTheFolder) {
    EXPECT_EQ(ThumbnailPath("C:\\out", 0), "C:\\out\\thumb0.jpg");
    EXPECT_EQ(ThumbnailPath("C:\\out", 3), "C:\\out\\thumb3.jpg");
}

TEST(LauncherRules, FolderIsOnTheWindowsDrive) {
    const struct {
        const char* windows;
        bool wow64;
        const char* folder;
    } cases[] = {
        {"C:\\WINDOWS", false, "C:\\Program Files\\Vellamar Plenthra"},
        {"C:\\WINDOWS", true, "C:\\Program Files (x86)\\Vellamar Plenthra"},
        {"D:\\WinNT", false, "D:\\Program Files\\Vellamar Plenthra"},
        // Cut after the last backslash, whatever comes before it.
        {"E:\\OS\\Windows", false, "E:\\OS\\Program Files\\Vellamar Plenthra"},
        {"C:\\", false, "C:\\Program Files\\Vellamar Plenthra"},
        {"WINDOWS", false, "Program Files\\Vellamar Plenthra"},
        // The Windows directory could not be read.
        {"", false, ""},
        {"", true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StoreInstallFolder(c.windows, c.wow64), c.folder) << c.windows << " " << c.wow64;
    }
}

TEST(LauncherRules, HiddenStartGluesHideWindowsToTheIdentity) {
    EXPECT_EQ(StoreParameters("APPHOSTID 14 APPPID 4242", false), "APPHOSTID 14 APPPID 4242");
    EXPECT_EQ(StoreParameters("APPHOSTID 14 APPPID 4242", true),
              "HideWindowsAPPHOSTID 14 APPPID 4242");
}

}  // namespace
