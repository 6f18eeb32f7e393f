// The camera shelf's picture list on real folders: which entries of Shade count as
// pictures, the wire-frame twin mark, both folder spellings, and the rule that a search
// that finds nothing (or cannot run) leaves the previous list alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "store/files/camera_thumbnails.h"
#include "temp_tree.h"

namespace {

TEST(CameraThumbnails, PictureNamesGoByTheirLastThreeCharacters) {
    struct Case {
        const char* name;
        bool picture;
    };
    const Case cases[] = {
        {"a.JPG", true},  {"c.png", true},   {"b.bMp", true}, {"g.gif", true},
        {"t.TIF", true},  {"xjpg", true},    {"jpg", true},   {"x.jpeg", false},
        {"b.txt", false}, {"x.tiff", false}, {"pg", false},   {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsShelfPictureName(c.name), c.picture) << c.name;
    }
}

TEST(CameraThumbnails, ListTextPutsABackslashBeforeAndABarAfterEachEntry) {
    EXPECT_EQ(ThumbnailList({}), "");
    EXPECT_EQ(ThumbnailList({"cam1.jpg:\\cam1.jpg", "cam2.png:"}),
              "\\cam1.jpg:\\cam1.jpg|\\cam2.png:|");
}

// Shade holds pictures, a non-picture, folders and files the shelf must not show;
// Wireframe holds a twin of a.JPG only (c.png there is a folder, not a readable file).
class CameraThumbnailsFolder : public ::testing::Test {
protected:
    void SetUp() override {
        m_tree.Write("Uploaded\\Shade\\a.JPG", "a");
        m_tree.Write("Uploaded\\Shade\\b.txt", "b");
        m_tree.Write("Uploaded\\Shade\\c.png", "c");
        m_tree.Folder("Uploaded\\Shade\\d.jpg");
        m_tree.Write("Uploaded\\Shade\\e.jpg", "hidden");
        SetFileAttributesA(m_tree.Path("Uploaded\\Shade\\e.jpg").c_str(), FILE_ATTRIBUTE_HIDDEN);
        m_tree.Write("Uploaded\\Shade\\.f.jpg", "dot files count as hidden");
        m_tree.Write("Uploaded\\Shade\\s.bmp", "system");
        SetFileAttributesA(m_tree.Path("Uploaded\\Shade\\s.bmp").c_str(), FILE_ATTRIBUTE_SYSTEM);
        m_tree.Write("Uploaded\\Shade\\x.jpeg", "x");
        m_tree.Write("Uploaded\\Shade\\xjpg", "x");
        m_tree.Write("Uploaded\\Wireframe\\a.JPG", "wire");
        m_tree.Folder("Uploaded\\Wireframe\\c.png");
    }

    std::string Uploaded() const { return m_tree.Path("Uploaded"); }

    TempTree m_tree;
};

TEST_F(CameraThumbnailsFolder, ListsPicturesWithTheirWireframeTwinsInBothFolderSpellings) {
    for (const std::string& folder : {Uploaded(), Uploaded() + "\\"}) {
        std::vector<std::string> thumbnails = {"old:"};
        EXPECT_EQ(LoadThumbnails(folder, thumbnails), 1) << folder;
        EXPECT_EQ(ThumbnailList(thumbnails), "\\a.JPG:\\a.JPG|\\c.png:|\\xjpg:|") << folder;
    }
}

TEST_F(CameraThumbnailsFolder, ASearchWithoutPicturesKeepsThePreviousList) {
    const std::vector<std::string> previous = {"cam1.jpg:\\cam1.jpg", "cam2.png:"};
    // A missing folder, a folder without Shade, and a Shade folder whose pictures are gone.
    m_tree.Folder("Empty");
    m_tree.Write("Gone\\Shade\\notes.txt", "n");
    m_tree.Folder("Gone\\Shade\\old.jpg");
    const std::string folders[] = {m_tree.Path("Missing"), m_tree.Path("Empty"),
                                   m_tree.Path("Gone"), m_tree.Path("Gone") + "\\"};
    for (const std::string& folder : folders) {
        std::vector<std::string> thumbnails = previous;
        EXPECT_EQ(LoadThumbnails(folder, thumbnails), 0) << folder;
        EXPECT_EQ(thumbnails, previous) << folder;
    }
}

}  // namespace
