// The file selection dialog and the two pickers on a real common dialog (needs a display).
// The dialog runs modally on the test's thread; a driver thread finds it, selects items in
// the shell view's list the way a click would, presses buttons and answers message boxes.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/files/file_dialog_ex.h"
#include "store/files/file_dialog_ex_ids.h"
#include "store/files/picker_commands.h"
#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"

namespace {

using Names = std::vector<std::string>;

const DWORD kWindowTimeoutMs = 30000;

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWindowTimeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
        if (condition()) {
            return true;
        }
        Sleep(20);
    }
    return condition();
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    std::vector<char> text(static_cast<size_t>(GetWindowTextLengthA(window)) + 2, '\0');
    GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    return text.data();
}

struct DescendantSearch {
    std::string className;
    int id;
    HWND found;
};

BOOL CALLBACK MatchDescendant(HWND window, LPARAM lParam) {
    auto* s = reinterpret_cast<DescendantSearch*>(lParam);
    if (ClassOf(window) == s->className && (s->id < 0 || GetDlgCtrlID(window) == s->id)) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindDescendant(HWND parent, const std::string& className, int id = -1) {
    DescendantSearch search{className, id, nullptr};
    EnumChildWindows(parent, MatchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectOwnDialog(HWND window, LPARAM lParam) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        ClassOf(window) == "#32770") {
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
    }
    return TRUE;
}

std::vector<HWND> OwnDialogs() {
    std::vector<HWND> dialogs;
    EnumWindows(CollectOwnDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

HWND WaitForOwnDialog(const std::function<bool(HWND)>& match) {
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND dialog : OwnDialogs()) {
            if (match(dialog)) {
                found = dialog;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool IsFileDialog(HWND dialog) {
    return FindDescendant(dialog, "SHELLDLL_DefView") != nullptr;
}

bool IsMessageBox(HWND dialog) {
    return GetDlgItem(dialog, 0xFFFF) != nullptr && !IsFileDialog(dialog) &&
           FindDescendant(dialog, "SysTreeView32") == nullptr;
}

// Runs the steps of one test on its own thread while the test's thread sits in the modal
// dialog. Whatever goes wrong, the driver keeps cancelling the process's dialogs until the
// modal call has returned, so a failing test never hangs.
class DialogDriver {
public:
    explicit DialogDriver(std::function<void(DialogDriver&)> steps) {
        m_thread = std::thread([this, steps] {
            steps(*this);
            while (!m_modalDone) {
                for (HWND dialog : OwnDialogs()) {
                    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                }
                Sleep(100);
            }
        });
    }
    ~DialogDriver() { Finish(); }

    // Called by the test once the modal call has returned.
    void Finish() {
        m_modalDone = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    void Fail(const std::string& what) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failures.push_back(what);
    }
    Names Failures() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failures;
    }

    // The visible file dialog with its items listed, or null (recorded as a failure).
    HWND FileDialog(const Names& expectedItems) {
        HWND frame = WaitForOwnDialog(IsFileDialog);
        if (frame == nullptr) {
            Fail("no file dialog");
            return nullptr;
        }
        HWND list = FindDescendant(frame, "SysListView32");
        bool listed = list != nullptr && WaitUntil([&] {
                          for (const std::string& name : expectedItems) {
                              if (FindItem(list, name) < 0) {
                                  return false;
                              }
                          }
                          return true;
                      });
        if (!listed) {
            Fail("the shell view does not list the test items");
            return nullptr;
        }
        return frame;
    }

    static int FindItem(HWND list, const std::string& name) {
        LVFINDINFOA find{};
        find.flags = LVFI_STRING;
        find.psz = name.c_str();
        return static_cast<int>(SendMessageA(list, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(&find)));
    }

    // Selects the named items (all items for an empty list), as a ctrl-click would.
    bool Select(HWND frame, const Names& names) {
        HWND list = FindDescendant(frame, "SysListView32");
        LVITEMA state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        if (names.empty()) {
            state.state = LVIS_SELECTED;
            state.stateMask = LVIS_SELECTED;
            SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(&state));
            return true;
        }
        for (const std::string& name : names) {
            int item = FindItem(list, name);
            if (item < 0) {
                Fail("no item " + name);
                return false;
            }
            SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item),
                         reinterpret_cast<LPARAM>(&state));
        }
        return true;
    }

    // Waits until the dialog's own name box shows `text`, then returns true.
    bool WaitForNameBox(HWND frame, const std::string& text) {
        HWND box = FindDescendant(frame, "ComboBox", IDC_FILEDIALOGEX_NAME_BOX);
        if (box == nullptr) {
            Fail("no name box");
            return false;
        }
        if (!WaitUntil([&] { return TextOf(box) == text; })) {
            Fail("name box shows [" + TextOf(box) + "], expected [" + text + "]");
            return false;
        }
        return true;
    }

    void PressSelect(HWND frame) {
        HWND button = FindDescendant(frame, "Button", IDC_FILEDIALOGEX_SELECT);
        PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(IDC_FILEDIALOGEX_SELECT, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }

    // Answers the next message box with OK and gives its text.
    std::string AnswerMessageBox() {
        HWND box = WaitForOwnDialog(IsMessageBox);
        if (box == nullptr) {
            Fail("no message box");
            return {};
        }
        char text[2048] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitUntil([&] { return !IsWindow(box); });
        return text;
    }

private:
    std::thread m_thread;
    std::atomic<bool> m_modalDone{false};
    std::mutex m_mutex;
    Names m_failures;
};

void WriteFile(const std::string& path, const std::string& content) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
}

// A fresh folder under the temporary folder with two files and two folders.
class FileDialogTest : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        char longTemp[MAX_PATH] = {};
        GetLongPathNameA(temp, longTemp, MAX_PATH);
        static int s_count = 0;
        m_folder = std::string(longTemp) + "pxdlg" + std::to_string(GetCurrentProcessId()) + "_" +
                   std::to_string(++s_count) + "\\";
        RemoveTree(m_folder);  // left over by an earlier run that was stopped
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr)) << m_folder;
        WriteFile(m_folder + "a.txt", "abc");
        WriteFile(m_folder + "b.txt", "hello");
        ASSERT_TRUE(CreateDirectoryA((m_folder + "sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((m_folder + "sub2").c_str(), nullptr));
        WriteFile(m_folder + "sub\\inner.bin", std::string(1000, 'x'));
        WriteFile(m_folder + "sub2\\more.bin", std::string(7, 'y'));
    }
    void TearDown() override {
        // The common dialog makes the folder it showed last the current folder.
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        SetCurrentDirectoryA(temp);
        EXPECT_TRUE(RemoveTree(m_folder)) << GetLastError();
    }

    static bool RemoveTree(const std::string& folder) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = data.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    RemoveTree(folder + name + "\\");
                } else {
                    DeleteFileA((folder + name).c_str());
                }
            } while (FindNextFileA(find, &data));
            FindClose(find);
        }
        return RemoveDirectoryA(folder.c_str()) != FALSE;
    }

    // A dialog set up as the file picker sets it up, opening in the test folder.
    struct Picker {
        explicit Picker(const std::string& folder)
            : dialog(true, nullptr, nullptr, OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY,
                     "All Files(*.*)|*.*||"),
              files(10240, 'x'),
              folders(10240, '\0') {
            initialDir = folder;
            dialog.m_ofn.lpstrFile = files.data();
            files[0] = '\0';
            dialog.m_ofn.nMaxFile = static_cast<DWORD>(files.size());
            dialog.m_ofn.lpstrInitialDir = initialDir.c_str();
            dialog.m_ofn.lpstrTitle = "Select Files to Upload";
            dialog.m_pFolderBuffer = folders.data();
            dialog.m_nFolderBufferSize = static_cast<int>(folders.size());
        }
        Names FilePaths() const {
            Names paths;
            for (const char* p = dialog.GetStartPosition(); p != nullptr;) {
                paths.push_back(dialog.GetNextPathName(p));
            }
            return paths;
        }
        Names FolderPaths() const {
            Names paths;
            for (const char* p = dialog.GetStartFolderPosition(); p != nullptr;) {
                paths.push_back(dialog.GetNextFolderPath(p));
            }
            return paths;
        }
        CFileDialogEx dialog;
        std::vector<char> files;
        std::vector<char> folders;
        std::string initialDir;
    };

    std::string m_folder;
};

TEST_F(FileDialogTest, SelectReturnsFilesAndFoldersInTheirBuffers) {
    const struct {
        Names selection;
        std::string nameBox;
        Names files;
        Names folders;
    } cases[] = {
        {{"a.txt", "sub", "b.txt"}, "\"sub\" \"a.txt\" \"b.txt\" ", {"a.txt", "b.txt"}, {"sub"}},
        {{"sub2", "sub"}, "\"sub\" \"sub2\" ", {}, {"sub", "sub2"}},
    };
    for (const auto& c : cases) {
        Picker picker(m_folder);
        RECT okRect{};
        RECT selectRect{};
        BOOL okVisible = TRUE;
        BOOL stockNameEnabled = TRUE;
        DialogDriver driver([&](DialogDriver& d) {
            HWND frame = d.FileDialog({"a.txt", "b.txt", "sub", "sub2"});
            if (frame == nullptr || !d.Select(frame, c.selection) ||
                !d.WaitForNameBox(frame, c.nameBox)) {
                return;
            }
            GetWindowRect(GetDlgItem(frame, IDOK), &okRect);
            GetWindowRect(FindDescendant(frame, "Button", IDC_FILEDIALOGEX_SELECT), &selectRect);
            okVisible = IsWindowVisible(GetDlgItem(frame, IDOK));
            stockNameEnabled = IsWindowEnabled(GetDlgItem(frame, 1148));
            d.PressSelect(frame);
        });
        INT_PTR answer = picker.dialog.DoModal();
        driver.Finish();
        EXPECT_EQ(driver.Failures(), Names{});
        EXPECT_EQ(answer, IDOK);
        EXPECT_EQ(picker.dialog.GetError(), 0);
        Names files;
        Names folders;
        for (const std::string& name : c.files) {
            files.push_back(m_folder + name);
        }
        for (const std::string& name : c.folders) {
            folders.push_back(m_folder + name);
        }
        EXPECT_EQ(picker.FilePaths(), files);
        EXPECT_EQ(picker.FolderPaths(), folders);
        // The Select button took the stock OK button's place; the stock name box is gone.
        EXPECT_EQ(selectRect.left, okRect.left);
        EXPECT_EQ(selectRect.top, okRect.top);
        EXPECT_EQ(selectRect.right, okRect.right);
        EXPECT_EQ(selectRect.bottom, okRect.bottom);
        EXPECT_FALSE(okVisible);
        EXPECT_FALSE(stockNameEnabled);
    }
}

TEST_F(FileDialogTest, AVanishedFileKeepsTheDialogOpenWithAMessage) {
    Picker picker(m_folder);
    std::string message;
    bool stillOpen = false;
    DialogDriver driver([&](DialogDriver& d) {
        HWND frame = d.FileDialog({"a.txt", "b.txt"});
        if (frame == nullptr || !d.Select(frame, {"a.txt", "b.txt"}) ||
            !d.WaitForNameBox(frame, "\"a.txt\" \"b.txt\" ")) {
            return;
        }
        DeleteFileA((m_folder + "b.txt").c_str());
        d.PressSelect(frame);
        message = d.AnswerMessageBox();
        Sleep(200);  // a wrongly closing dialog would be gone by now
        stillOpen = IsWindow(frame) && IsWindowVisible(frame);
        PostMessageA(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    INT_PTR answer = picker.dialog.DoModal();
    driver.Finish();
    EXPECT_EQ(driver.Failures(), Names{});
    EXPECT_EQ(message, "b.txt\nFile not found\nPlease verify the correct file name was given.");
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_EQ(picker.dialog.GetError(), 0);
    EXPECT_EQ(picker.FilePaths(), Names{});
}

TEST_F(FileDialogTest, ASelectionLargerThanTheBufferIsRefused) {
    // 60 folder names of 180 characters need 10860 bytes; the buffer has 10240.
    Names many;
    for (int i = 0; i < 60; ++i) {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "%02d", i);
        many.push_back(std::string(prefix) + std::string(178, 'f'));
        ASSERT_TRUE(CreateDirectoryA((m_folder + many.back()).c_str(), nullptr));
    }
    auto selectAllAndPressSelect = [&](DialogDriver& d) {
        HWND frame = d.FileDialog(many);
        if (frame == nullptr || !d.Select(frame, {})) {
            return;
        }
        HWND box = FindDescendant(frame, "ComboBox", IDC_FILEDIALOGEX_NAME_BOX);
        // Every folder is in the name box once the last selection change has been seen.
        if (!WaitUntil([&] { return TextOf(box).size() >= 60 * 183; })) {
            d.Fail("selection not seen");
        }
        d.PressSelect(frame);
    };
    {
        Picker picker(m_folder);
        DialogDriver driver(selectAllAndPressSelect);
        INT_PTR answer = picker.dialog.DoModal();
        driver.Finish();
        EXPECT_EQ(driver.Failures(), Names{});
        EXPECT_EQ(answer, IDCANCEL);
        EXPECT_EQ(picker.dialog.GetError(), 12291);
        EXPECT_EQ(picker.dialog.GetErrorText(),
                  "Too many files are selected for concurrent upload.");
        EXPECT_EQ(picker.FolderPaths(), Names{});
    }
    // The picker command shows the refusal to the user and answers empty text.
    SetCurrentDirectoryA(m_folder.c_str());
    ScriptResult result;
    std::string message;
    DialogDriver driver([&](DialogDriver& d) {
        selectAllAndPressSelect(d);
        message = d.AnswerMessageBox();
    });
    SelectFiles(nullptr, result);
    driver.Finish();
    EXPECT_EQ(driver.Failures(), Names{});
    EXPECT_EQ(message, "Too many files are selected for concurrent upload.");
    EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kText);
    EXPECT_EQ(result.Text(), "");
}

TEST_F(FileDialogTest, CancelLeavesBothBuffersEmpty) {
    Picker picker(m_folder);
    DialogDriver driver([&](DialogDriver& d) {
        HWND frame = d.FileDialog({"a.txt", "sub"});
        if (frame == nullptr || !d.Select(frame, {"a.txt", "sub"})) {
            return;
        }
        d.WaitForNameBox(frame, "\"sub\" a.txt");
        PostMessageA(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    INT_PTR answer = picker.dialog.DoModal();
    driver.Finish();
    EXPECT_EQ(driver.Failures(), Names{});
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_EQ(picker.dialog.GetError(), 0);
    EXPECT_EQ(picker.FilePaths(), Names{});
    EXPECT_EQ(picker.FolderPaths(), Names{});
}

// The date as the file list shows it, worked out the Windows way.
std::string ListDate(const FILETIME& time) {
    FILETIME local;
    SYSTEMTIME t;
    FileTimeToLocalFileTime(&time, &local);
    FileTimeToSystemTime(&local, &t);
    char text[16];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u", t.wMonth, t.wDay, t.wYear);
    return text;
}

std::string ExpectedRecord(const std::string& path, const std::string& shownPath, uint64_t size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return shownPath + "*" + std::to_string(size) + "*" + ListDate(data.ftCreationTime) + "*" +
           ListDate(data.ftLastWriteTime) + "|";
}

TEST_F(FileDialogTest, SelectFilesAnswersFileRecordsThenMarkedFolders) {
    CScriptCommands commands;
    RegisterPickerCommands(commands);
    SetCurrentDirectoryA(m_folder.c_str());
    ScriptResult result;
    DialogDriver driver([&](DialogDriver& d) {
        HWND frame = d.FileDialog({"a.txt", "b.txt", "sub"});
        if (frame == nullptr) {
            return;
        }
        if (TextOf(frame) != "Select Files to Upload") {
            d.Fail("title " + TextOf(frame));
        }
        if (d.Select(frame, {"b.txt", "sub", "a.txt"}) &&
            d.WaitForNameBox(frame, "\"sub\" \"a.txt\" \"b.txt\" ")) {
            d.PressSelect(frame);
        }
    });
    commands.Dispatch("SelectFiles", "", result);
    driver.Finish();
    EXPECT_EQ(driver.Failures(), Names{});
    EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kText);
    EXPECT_EQ(result.Text(),
              ExpectedRecord(m_folder + "a.txt", m_folder + "a.txt", 3) +
                  ExpectedRecord(m_folder + "b.txt", m_folder + "b.txt", 5) +
                  ExpectedRecord(m_folder + "sub", m_folder + "sub.PLENTHRA_UNZIP", 1000));
}

TEST(SelectPathTest, AnswersTheChosenFolderOrEmptyText) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    char longTemp[MAX_PATH] = {};
    GetLongPathNameA(temp, longTemp, MAX_PATH);
    std::string chosen = longTemp;
    if (chosen.size() > 3 && chosen.back() == '\\') {
        chosen.pop_back();
    }
    const struct {
        bool choose;
        std::string expected;
    } cases[] = {{false, ""}, {true, chosen}};
    for (const auto& c : cases) {
        CScriptCommands commands;
        RegisterPickerCommands(commands);
        ScriptResult result;
        std::string title;
        DialogDriver driver([&](DialogDriver& d) {
            HWND browser = WaitForOwnDialog(
                [](HWND dialog) { return FindDescendant(dialog, "SysTreeView32") != nullptr; });
            if (browser == nullptr) {
                d.Fail("no folder browser");
                return;
            }
            title = TextOf(GetDlgItem(browser, 14146));
            if (c.choose) {
                SendMessageA(browser, BFFM_SETSELECTIONA, TRUE,
                             reinterpret_cast<LPARAM>(chosen.c_str()));
            }
            PostMessageA(browser, WM_COMMAND, MAKEWPARAM(c.choose ? IDOK : IDCANCEL, BN_CLICKED),
                         0);
        });
        commands.Dispatch("SelectPath", "", result);
        driver.Finish();
        EXPECT_EQ(driver.Failures(), Names{});
        EXPECT_EQ(title, "Select a folder");
        EXPECT_EQ(result.GetKind(), ScriptResult::Kind::kText);
        EXPECT_EQ(result.Text(), c.expected);
    }
}

}  // namespace
