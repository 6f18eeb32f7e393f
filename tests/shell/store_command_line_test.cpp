// The store's command-line forms: host IDs, hidden start, drive paths, and texts that
// must neither overrun a word buffer nor be taken as a format.
#include "store/shell/store_command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct CommandLineCase {
    const char* name;
    std::string text;
    int hostId;
    int hostPid;
    bool hidden;
    std::string file;
};

TEST(StoreCommandLine, FormsTable) {
    const std::string longWord(5000, 'W');
    const CommandLineCase cases[] = {
        {"host form", "APPHOSTID 14 APPPID 4242", 14, 4242, false, ""},
        {"arbitrary words", "foo 14 bar 4242", 14, 4242, false, ""},
        {"hidden form", "HideWindowsAPPHOSTID 14 APPPID 4242", 14, 4242, true, ""},
        {"hidden needs exact case", "hidewindowsapphostid 14 APPPID 4242", 14, 4242, false, ""},
        {"hidden needs APPPID", "HideWindowsAPPHOSTID 14 appPID 4242", 14, 4242, false, ""},
        {"blank runs and tabs", "  \tAPPHOSTID\t14 \r\n APPPID   4242  ", 14, 4242, false, ""},
        {"drive path", "C:\\Models\\chair 1.max", 0, 0, false, "C:\\Models\\chair 1.max"},
        {"drive path kept whole", "X:\\a 14 APPPID 4242", 0, 0, false, "X:\\a 14 APPPID 4242"},
        {"drive letter alone", "C:", 0, 0, false, ""},
        {"forward slash is no drive path", "C:/Models/chair.max", 0, 0, false, ""},
        {"empty", "", 0, 0, false, ""},
        {"blanks only", "   ", 0, 0, false, ""},
        {"percent taken literally", "%s%n%d 14 %x%n 4242", 14, 4242, false, ""},
        {"first number unreadable", "APPHOSTID x APPPID 4242", 0, 0, false, ""},
        {"second number unreadable", "APPHOSTID 14 APPPID pid", 14, 0, false, ""},
        {"second number missing", "APPHOSTID 14", 14, 0, false, ""},
        {"number too large for int", "APPHOSTID 99999999999 APPPID 4242", 0, 0, false, ""},
        {"signed numbers", "APPHOSTID -3 APPPID +7", -3, 7, false, ""},
        {"number glued to a word", "APPHOSTID 14APPPID 4242", 14, 4242, false, ""},
        {"long first word is cut", longWord + " 14 APPPID 4242", 14, 4242, false, ""},
        {"long third word is cut", "HideWindowsAPPHOSTID 14 " + longWord + " 4242", 14, 4242, false,
         ""},
    };
    for (const CommandLineCase& c : cases) {
        const StoreCommandLine parsed = ParseStoreCommandLine(c.text);
        EXPECT_EQ(parsed.hostId, c.hostId) << c.name;
        EXPECT_EQ(parsed.hostProcessId, c.hostPid) << c.name;
        EXPECT_EQ(parsed.hidden, c.hidden) << c.name;
        EXPECT_EQ(parsed.startupFilePath, c.file) << c.name;
    }
}

TEST(StoreCommandLine, DrivePathLooksOnlyAtSecondAndThirdCharacter) {
    EXPECT_TRUE(IsDrivePath("C:\\"));
    EXPECT_TRUE(IsDrivePath("?:\\anything"));
    EXPECT_FALSE(IsDrivePath("C:"));
    EXPECT_FALSE(IsDrivePath("\\\\server\\share\\file"));
    EXPECT_FALSE(IsDrivePath("\"C:\\quoted\""));
    EXPECT_FALSE(IsDrivePath(""));
}

}  // namespace
