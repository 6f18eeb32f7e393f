// The file-system commands through the dispatcher, compared as the SetReturnValue texts
// the movie receives, and OpenFile's hand-off to a host window recorded on this thread.
#include "store/files/file_system_commands.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostlink/host_link_codes.h"
#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"
#include "hostlink/message_window.h"
#include "store/files/store_identity.h"
#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"
#include "tests/files/temp_tree.h"

namespace {

std::string Reply(const std::string& name, const std::string& value) {
    return "<invoke name=\"SetReturnValue\" returntype=\"xml\"><arguments><string>" + name +
           "</string><string>" + value + "</string></arguments></invoke>";
}

std::string Slashed(std::string path) {
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

class FixedIdentity : public IStoreIdentity {
public:
    int HostId() const override { return hostId; }
    HWND MainWindow() const override { return mainWindow; }

    int hostId = 0;
    HWND mainWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));
};

// A host window of this thread: what arrives while the workers are waited for is kept.
class HostRecorder {
public:
    struct Received {
        ULONG_PTR code;
        std::string text;
        WPARAM sender;
    };

    explicit HostRecorder(int hostId) {
        m_window =
            CreateMessageOnlyWindow("PxFilesTestHost", HostWindowTitle(hostId).c_str(), Proc, this);
    }
    ~HostRecorder() {
        DestroyWindow(m_window);
        UnregisterMessageWindowClass("PxFilesTestHost");
    }
    HostRecorder(const HostRecorder&) = delete;
    HostRecorder& operator=(const HostRecorder&) = delete;

    bool Created() const { return m_window != nullptr; }
    std::vector<Received> received;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<HostRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_COPYDATA && self != nullptr) {
            const ReceivedText text = ReadCopyData(lParam);
            self->received.push_back({text.code, text.text, wParam});
            return TRUE;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    HWND m_window = nullptr;
};

class FileCommandsTest : public ::testing::Test {
protected:
    FileCommandsTest() {
        RegisterFileSystemCommands(
            m_commands, &m_identity, m_workers,
            [this](const std::string& path) { m_shellOpened.push_back(path); });
    }

    std::string Call(const std::string& name, const std::string& arguments) {
        ScriptResult result;
        m_commands.Dispatch(name, arguments, result);
        m_workers.WaitAll();  // delivers a hand-off to this thread's host window
        return BuildReturnValueCall(name, result);
    }

    TempTree m_tree;
    CScriptCommands m_commands;
    FixedIdentity m_identity;
    CLinkWorkers m_workers;
    std::vector<std::string> m_shellOpened;
};

TEST_F(FileCommandsTest, OnePathCommandsNormaliseAndAnswerIntegers) {
    m_tree.Write("Temp\\report .txt", "r");
    m_tree.Write("gone.txt", "g");
    const std::string root = Slashed(m_tree.Root());
    struct Row {
        const char* name;
        std::string arguments;
        const char* value;
    };
    const Row rows[] = {
        {"FileExistEx", "", "0"},
        // The slashes and the blank after them become one backslash; the blank inside the
        // name stays.
        {"FileExistEx", root + "/Temp// report .txt", "1"},
        {"FileExistEx", root + "/Temp/report.txt", "0"},
        // A path in the "\\?\" namespace keeps its two leading backslashes.
        {"FileExistEx", "//?/" + root + "/Temp// report .txt", "1"},
        {"FileExistEx", "\\\\?\\" + root + "/Temp/report.txt", "0"},
        {"DelFileEx", "", "0"},
        {"DelFileEx", root + "//gone.txt", "1"},
        {"DelFileEx", root + "/gone.txt", "0"},
        {"CreateFolderEx", "", "0"},
        {"CreateFolderEx", root + "/made/deep", "1"},
        {"DeleteFolderEx", "", "0"},
        {"DeleteFolderEx", root + "/made", "1"},
        {"DeleteFolderEx", root + "/made", "0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Call(row.name, row.arguments), Reply(row.name, row.value))
            << row.name << " " << row.arguments;
    }
    EXPECT_FALSE(m_tree.Exists("gone.txt"));
    EXPECT_FALSE(m_tree.Exists("made"));
}

TEST_F(FileCommandsTest, GetFileSizeExAnswersUnsigned64BitOrNothing) {
    m_tree.Write("d\\a.bin", std::string(3000, 'a'));
    m_tree.Write("d\\e\\b.bin", std::string(5, 'b'));
    const std::string sparse = m_tree.Path("d\\big.bin");
    const HANDLE file =
        CreateFileA(sparse.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 5LL << 30;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);

    const std::string root = Slashed(m_tree.Root());
    EXPECT_EQ(Call("GetFileSizeEx", ""), Reply("GetFileSizeEx", ""));
    EXPECT_EQ(Call("GetFileSizeEx", root + "/d/a.bin"), Reply("GetFileSizeEx", "3000"));
    EXPECT_EQ(Call("GetFileSizeEx", root + "/d/big.bin"), Reply("GetFileSizeEx", "5368709120"));
    EXPECT_EQ(Call("GetFileSizeEx", root + "/d"), Reply("GetFileSizeEx", "5368712125"));
    EXPECT_EQ(Call("GetFileSizeEx", root + "/none"), Reply("GetFileSizeEx", "0"));
}

TEST_F(FileCommandsTest, TwoPathCommandsAnswerOnlyWhetherTheyGotTwoPieces) {
    m_tree.Write("a\\x.txt", "x");
    const std::string x = m_tree.Path("a\\x.txt");
    const std::string y = m_tree.Path("b\\y.txt");
    struct Row {
        const char* name;
        std::string arguments;
        const char* value;
    };
    const Row rows[] = {
        {"MoveFileEx", x + "*" + y + "*" + y, "-1"},
        {"MoveFileEx", "", "-1"},
        {"MoveFileEx", x, "-1"},
        {"CopyFileEx", x + "*", "0"},  // two pieces, the copy itself fails
        {"MoveFolderEx", "*", "0"},
        {"CopyFolderEx", "a*b*c", "-1"},
        {"MoveFileEx", m_tree.Path("none.txt") + "*" + y, "0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Call(row.name, row.arguments), Reply(row.name, row.value))
            << row.name << " " << row.arguments;
    }
    EXPECT_EQ(m_tree.Read("a\\x.txt"), "x");
    EXPECT_FALSE(m_tree.Exists("b"));

    // RenameFileEx is MoveFileEx: into another folder, created on the way.
    EXPECT_EQ(Call("RenameFileEx", Slashed(x) + "*" + Slashed(y)), Reply("RenameFileEx", "0"));
    EXPECT_EQ(m_tree.Read("b\\y.txt"), "x");
    EXPECT_FALSE(m_tree.Exists("a\\x.txt"));
}

TEST_F(FileCommandsTest, FolderCommandsMoveCopyAndRename) {
    m_tree.Write("src\\sub\\f.txt", "f");
    const std::string root = m_tree.Root();
    EXPECT_EQ(Call("CopyFolderEx", root + "\\src*" + root + "\\copy"), Reply("CopyFolderEx", "0"));
    EXPECT_EQ(m_tree.Read("copy\\sub\\f.txt"), "f");
    EXPECT_EQ(Call("MoveFolderEx", root + "\\copy*" + root + "\\moved"),
              Reply("MoveFolderEx", "0"));
    EXPECT_EQ(Call("RenameFolderEx", root + "\\moved*" + root + "\\renamed"),
              Reply("RenameFolderEx", "0"));
    EXPECT_EQ(m_tree.Read("renamed\\sub\\f.txt"), "f");
    EXPECT_FALSE(m_tree.Exists("copy"));
    EXPECT_FALSE(m_tree.Exists("moved"));
    EXPECT_EQ(m_tree.Read("src\\sub\\f.txt"), "f");
}

TEST_F(FileCommandsTest, CopyFileExCopiesAFolderOnlyWhenBothSidesAreMarked) {
    m_tree.Write("src\\sub\\f.txt", "f");
    const std::string source = m_tree.Path("src.PLENTHRA_UNZIP");
    EXPECT_EQ(Call("CopyFileEx", source + "*" + m_tree.Path("one")), Reply("CopyFileEx", "0"));
    EXPECT_FALSE(m_tree.Exists("one"));
    EXPECT_EQ(Call("CopyFileEx", source + "*" + m_tree.Path("two.PLENTHRA_UNZIP")),
              Reply("CopyFileEx", "0"));
    EXPECT_EQ(m_tree.Read("two\\sub\\f.txt"), "f");
}

TEST_F(FileCommandsTest, OpenFileHandsOffToTheMatchingHostOrTheShell) {
    HostRecorder host(kHostId3dsMax);
    ASSERT_TRUE(host.Created());
    m_tree.Write("dl\\model.max", "m");
    const std::string path = m_tree.Path("dl\\model.max");
    const std::string given = Slashed(m_tree.Root()) + "//dl/model.max";

    struct Row {
        int storeHost;
        std::string arguments;
        const char* value;
        bool sent;
        bool shellOpened;
    };
    const Row rows[] = {
        {14, given + "*14", "0", true, false},
        {14, given + "* 14", "0", true, false},
        {14, given + "*13", "0", false, true},  // another host's request
        {0, given + "*0", "0", false, true},    // the store has no host
        {0, given + "*14", "0", false, true},
        {14, given, "-1", false, false},
        {14, given + "*14*1", "-1", false, false},
        {14, m_tree.Path("dl\\none.max") + "*14", "-1", false, false},
        {14, "*14", "-1", false, false},
    };
    for (const Row& row : rows) {
        m_identity.hostId = row.storeHost;
        host.received.clear();
        m_shellOpened.clear();
        EXPECT_EQ(Call("OpenFile", row.arguments), Reply("OpenFile", row.value)) << row.arguments;
        if (row.sent) {
            ASSERT_EQ(host.received.size(), 1u) << row.arguments;
            EXPECT_EQ(host.received[0].code, PXCD_OPEN_FILE);
            EXPECT_EQ(host.received[0].text, path);
            EXPECT_EQ(host.received[0].sender, reinterpret_cast<WPARAM>(m_identity.mainWindow));
        } else {
            EXPECT_TRUE(host.received.empty()) << row.arguments;
        }
        EXPECT_EQ(m_shellOpened,
                  row.shellOpened ? std::vector<std::string>{path} : std::vector<std::string>{})
            << row.arguments;
    }
}

}  // namespace
