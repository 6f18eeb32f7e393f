// Tests of the dispatcher: every command name reaches its handler slot without regard to
// letter case, unknown names are logged and answered empty, and the two argument tools.
#include "store/shell/script_commands.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/shell/temp_log.h"
#include "text/multibyte.h"
#include "tests/text/shift_jis_lead_bytes.h"

namespace {

// Every slot records which slot ran and with what, and answers with its own number.
class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (size_t slot = 0; slot < kScriptCommandCount; ++slot) {
            m_commands.SetHandler(static_cast<ScriptCommand>(slot),
                                  [this, slot](const std::string& arguments, ScriptResult& result) {
                                      EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kEmpty);
                                      m_ran.push_back(slot);
                                      m_arguments.push_back(arguments);
                                      result.SetSigned(static_cast<int32_t>(slot));
                                  });
        }
    }

    // The slot `name` ran, or -1 when none did.
    int DispatchedSlot(const std::string& name) {
        m_ran.clear();
        ScriptResult result;
        m_commands.Dispatch(name, "", result);
        if (m_ran.empty()) {
            EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kEmpty);
            return -1;
        }
        EXPECT_EQ(m_ran.size(), 1u);
        EXPECT_EQ(result.Signed(), static_cast<int32_t>(m_ran[0]));
        return static_cast<int>(m_ran[0]);
    }

    CScriptCommands m_commands;
    std::vector<size_t> m_ran;
    std::vector<std::string> m_arguments;
};

TEST_F(DispatchTest, EveryNameReachesItsSlotWithoutRegardToCase) {
    // Written out independently of the dispatcher's own table.
    struct Row {
        const char* name;
        ScriptCommand slot;
    };
    const Row rows[] = {
        {"GetTransStatus", ScriptCommand::kGetTransStatus},
        {"Init", ScriptCommand::kInit},
        {"StoreConfig", ScriptCommand::kStoreConfig},
        {"StartDownloadFile", ScriptCommand::kStartDownloadFile},
        {"DownloadAndOpenFile", ScriptCommand::kDownloadAndOpenFile},
        {"StartUploadFile", ScriptCommand::kStartUploadFile},
        {"StopTransFile", ScriptCommand::kStopTransFile},
        {"OpenFile", ScriptCommand::kOpenFile},
        {"FileExistEx", ScriptCommand::kFileExistEx},
        {"GetFileSizeEx", ScriptCommand::kGetFileSizeEx},
        {"SelectPath", ScriptCommand::kSelectPath},
        {"SelectFiles", ScriptCommand::kSelectFiles},
        {"MoveFileEx", ScriptCommand::kMoveFileEx},
        {"CopyFileEx", ScriptCommand::kCopyFileEx},
        {"DelFileEx", ScriptCommand::kDelFileEx},
        {"RenameFileEx", ScriptCommand::kMoveFileEx},  // renaming shares the move handler
        {"CreateFolderEx", ScriptCommand::kCreateFolderEx},
        {"DeleteFolderEx", ScriptCommand::kDeleteFolderEx},
        {"MoveFolderEx", ScriptCommand::kMoveFolderEx},
        {"CopyFolderEx", ScriptCommand::kCopyFolderEx},
        {"RenameFolderEx", ScriptCommand::kMoveFolderEx},
        {"GetAllProgress", ScriptCommand::kGetAllProgress},
        {"CameraShelfInit", ScriptCommand::kCameraShelfInit},
        {"CameraShelfAddCamera", ScriptCommand::kCameraShelfAddCamera},
        {"CameraShelfImageSelect", ScriptCommand::kCameraShelfImageSelect},
    };
    static_assert(sizeof(rows) / sizeof(rows[0]) == kScriptCommandNameCount);
    for (const Row& row : rows) {
        std::string upper = row.name;
        std::string lower = row.name;
        for (size_t i = 0; i < upper.size(); ++i) {
            upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
            lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
        }
        for (const std::string& name : {std::string(row.name), upper, lower}) {
            EXPECT_EQ(DispatchedSlot(name), static_cast<int>(row.slot)) << name;
        }
    }
}

TEST_F(DispatchTest, NearNamesSelectNothing) {
    const char* names[] = {"Init ", " Init",  "Ini",      "Init2",
                           "",      "Rename", "MoveFile", "BeginDropFiles"};
    for (const char* name : names) {
        EXPECT_EQ(DispatchedSlot(name), -1) << '"' << name << '"';
    }
    EXPECT_EQ(DispatchedSlot(std::string("Init\0x", 6)), -1);
}

TEST_F(DispatchTest, HandlersGetTheArgumentTextUnchanged) {
    ScriptResult result;
    m_commands.Dispatch("CopyFileEx", "C:/a b.max*D:\\x\\ *", result);
    EXPECT_EQ(m_arguments, std::vector<std::string>{"C:/a b.max*D:\\x\\ *"});
}

TEST_F(DispatchTest, EmptySlotsAndUnknownNamesAreLoggedAndLeaveTheResultEmpty) {
    m_commands.ClearHandlers();
    TempLogFolder log;
    ASSERT_TRUE(log.Open());
    ScriptResult result;
    m_commands.Dispatch("Init", "", result);
    EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kEmpty);
    m_commands.Dispatch("NoSuchCommand", "a*%s*b", result);
    EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kEmpty);
    EXPECT_TRUE(m_ran.empty());
    EXPECT_EQ(log.CloseAndReadBody(), (std::vector<std::string>{
                                          "Function=Init, Arguments=",
                                          "Function=NoSuchCommand, Arguments=a*%s*b",
                                      }));
}

TEST_F(DispatchTest, LongArgumentTextIsLoggedCutButHandedOverWhole) {
    std::string arguments(2000, 'a');
    TempLogFolder log;
    ASSERT_TRUE(log.Open());
    ScriptResult result;
    m_commands.Dispatch("StoreConfig", arguments, result);
    EXPECT_EQ(m_arguments, std::vector<std::string>{arguments});
    std::vector<std::string> lines = log.CloseAndReadBody();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], ("Function=StoreConfig, Arguments=" + arguments).substr(0, 1020));
}

TEST(ScriptCommandsTest, TransferManagerLinkAndUserCacheFolder) {
    CScriptCommands commands;
    EXPECT_EQ(commands.GetTransferManager(), nullptr);
    EXPECT_EQ(commands.UserCacheFolder(), "");
    int standIn = 0;
    TransferManager* manager = reinterpret_cast<TransferManager*>(&standIn);
    commands.SetTransferManager(manager, "C:\\Cache\\User");
    EXPECT_EQ(commands.GetTransferManager(), manager);
    EXPECT_EQ(commands.UserCacheFolder(), "C:\\Cache\\User");
    commands.SetUserCacheFolder("C:\\Cache\\Other");  // StoreConfig's "User" key
    EXPECT_EQ(commands.GetTransferManager(), manager);
    EXPECT_EQ(commands.UserCacheFolder(), "C:\\Cache\\Other");
}

TEST(ScriptCommandsTest, SplitArgumentsKeepsEmptyPieces) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"a*b*", {"a", "b", ""}},
        {"", {""}},
        {"*", {"", ""}},
        {"**a", {"", "", "a"}},
        {"C:\\a b.max", {"C:\\a b.max"}},
        {"7*http://h/f*C:\\a.max*14", {"7", "http://h/f", "C:\\a.max", "14"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CScriptCommands::SplitArguments(c.text, '*'), c.pieces) << c.text;
    }
}

TEST(ScriptCommandsTest, NormalizingPatternIsTheStoredText) {
    const char expected[] = {'[', ' ', '\f', '\n', '\r', '\t', '\v', ']',  '*',  '[', '\\', '\\',
                             ']', '+', '[',  ' ',  '\f', '\n', '\r', '\t', '\v', ']', '*',  '\0'};
    EXPECT_EQ(std::strlen(kNormalizingPattern), 23u);
    EXPECT_STREQ(kNormalizingPattern, expected);
}

TEST(ScriptCommandsTest, NormalizeArgumentPathsCollapsesSeparatorRuns) {
    struct Case {
        std::string text;
        std::string normalized;
    };
    const Case cases[] = {
        {"C:/a//b \\ c", "C:\\a\\b\\c"},
        // A network path keeps its two leading backslashes, in every "*"-joined piece.
        {"\\\\server\\share\\a.max", "\\\\server\\share\\a.max"},
        {"\\\\\\server\\\\share", "\\\\server\\share"},
        {"//server/share/a.max", "\\\\server\\share\\a.max"},
        {" \\\\server\\a*\\\\?\\Z:\\b*\\c", "\\\\server\\a*\\\\?\\Z:\\b*\\c"},
        {"C:\\a*\\\\server\\b", "C:\\a*\\\\server\\b"},
        {"C:\\My Files\\a b.max*D:/x y/z", "C:\\My Files\\a b.max*D:\\x y\\z"},
        {"a \t\r\n\f\v\\\\\v\f\n\r\t b", "a\\b"},
        {"C:\\dir\\ ", "C:\\dir\\"},
        {" *a b* ", " *a b* "},
        {"", ""},
    };
    CScriptCommands commands;
    for (const Case& c : cases) {
        std::string text = c.text;
        commands.NormalizeArgumentPaths(text);
        EXPECT_EQ(text, c.normalized) << c.text;
    }
}

// A double-byte character whose trail byte is a backslash ("\x95\x5C", Shift-JIS) right before
// a separator: the trail byte is part of the name, so the separator after it stays.
TEST(ScriptCommandsTest, NormalizeArgumentPathsWalksWholeCharacters) {
    ShiftJisLeadBytes shiftJis;
    const std::string kanji = "\x95\x5C";
    struct Case {
        std::string text;
        std::string normalized;
    };
    const Case cases[] = {
        {"C:\\a" + kanji + "\\b", "C:\\a" + kanji + "\\b"},
        {"C:/a" + kanji + "/b", "C:\\a" + kanji + "\\b"},
        {"C:\\a" + kanji + " \\\\ b", "C:\\a" + kanji + "\\b"},
        {kanji + kanji + "\\\\" + kanji, kanji + kanji + "\\" + kanji},
        {"C:/a//b \\ c", "C:\\a\\b\\c"},
        {"a \\", "a\\"},
        {"\x95", "\x95"},  // a lead byte at the very end stays
    };
    CScriptCommands commands;
    for (const Case& c : cases) {
        std::string text = c.text;
        commands.NormalizeArgumentPaths(text);
        EXPECT_EQ(text, c.normalized) << c.text;
    }
}

}  // namespace
