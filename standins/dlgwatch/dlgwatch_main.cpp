// dlgwatch.exe: answers the message boxes and dialogs of other processes so that a
// program under test never blocks on one, and prints each one so a test can check it.
//
//   dlgwatch.exe [--answer ok|yes|no|cancel]
//
// Prints "dialog CAPTION | TEXT" per dialog (flushed), then presses the chosen button,
// or the dialog's default button when none is given. Runs until it is ended.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace {

// How often the desktop is searched: fast enough that a test hardly waits.
constexpr DWORD kPollMs = 100;
// A text longer than this is cut; message boxes of the store are far shorter.
constexpr int kMaxText = 4096;

struct Scan {
    DWORD ownProcess;
    std::set<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
    auto* scan = reinterpret_cast<Scan*>(param);
    char className[32];
    if (GetClassNameA(window, className, sizeof(className)) == 0)
        return TRUE;
    if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != scan->ownProcess)
        scan->found.insert(window);
    return TRUE;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
    auto* text = reinterpret_cast<std::string*>(param);
    char className[32];
    if (GetClassNameA(child, className, sizeof(className)) == 0)
        return TRUE;
    if (_stricmp(className, "Static") != 0 || !IsWindowVisible(child))
        return TRUE;
    char buffer[kMaxText];
    if (GetWindowTextA(child, buffer, kMaxText) > 0) {
        if (!text->empty())
            text->push_back(' ');
        *text += buffer;
    }
    return TRUE;
}

// One line per dialog: line breaks inside the texts become single spaces.
std::string OneLine(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string DialogText(HWND box) {
    char buffer[kMaxText];
    // A message box keeps its text in the static 0xFFFF; other dialogs in any statics.
    if (GetDlgItemTextA(box, 0xFFFF, buffer, kMaxText) > 0)
        return buffer;
    std::string text;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
    return text;
}

BOOL CALLBACK FindDefPushButton(HWND child, LPARAM param) {
    auto* id = reinterpret_cast<int*>(param);
    char className[32];
    if (GetClassNameA(child, className, sizeof(className)) == 0)
        return TRUE;
    if (_stricmp(className, "Button") != 0)
        return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) != BS_DEFPUSHBUTTON)
        return TRUE;
    *id = GetDlgCtrlID(child);
    return FALSE;
}

// The button Enter would press: the one drawn as default (a message box marks its
// MB_DEFBUTTONn this way), else what the dialog says, else OK or Cancel.
int DefaultButton(HWND box) {
    int id = 0;
    EnumChildWindows(box, FindDefPushButton, reinterpret_cast<LPARAM>(&id));
    if (id != 0)
        return id;
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) &&
        HIWORD(result) == DC_HASDEFID && GetDlgItem(box, LOWORD(result)) != nullptr) {
        return LOWORD(result);
    }
    return GetDlgItem(box, IDOK) != nullptr ? IDOK : IDCANCEL;
}

void Answer(HWND box, int fixedButton) {
    char caption[kMaxText];
    if (GetWindowTextA(box, caption, kMaxText) <= 0)
        caption[0] = '\0';
    std::printf("dialog %s | %s\n", OneLine(caption).c_str(), OneLine(DialogText(box)).c_str());
    std::fflush(stdout);
    int button = fixedButton != 0 ? fixedButton : DefaultButton(box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

bool ParseAnswer(const char* name, int& button) {
    static const struct {
        const char* name;
        int id;
    } kAnswers[] = {{"ok", IDOK}, {"yes", IDYES}, {"no", IDNO}, {"cancel", IDCANCEL}};
    for (const auto& answer : kAnswers) {
        if (_stricmp(name, answer.name) == 0) {
            button = answer.id;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int fixedButton = 0;  // 0: the dialog's default button
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--answer") == 0 && i + 1 < argc &&
            ParseAnswer(argv[i + 1], fixedButton)) {
            ++i;
            continue;
        }
        std::fprintf(stderr, "usage: dlgwatch.exe [--answer ok|yes|no|cancel]\n");
        return 2;
    }
    // Every dialog is answered once: a window stays in the handled set while it
    // exists, since the answer is posted and the box closes a moment later.
    std::set<HWND> handled;
    for (;;) {
        Scan scan{GetCurrentProcessId(), {}};
        EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&scan));
        for (auto it = handled.begin(); it != handled.end();) {
            it = scan.found.count(*it) != 0 ? std::next(it) : handled.erase(it);
        }
        for (HWND box : scan.found) {
            if (handled.insert(box).second)
                Answer(box, fixedButton);
        }
        Sleep(kPollMs);
    }
}
