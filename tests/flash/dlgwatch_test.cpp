// dlgwatch.exe against real message boxes of this process: it prints each box's caption
// and text and presses the chosen or the default button, once per box.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dlgwatch_process.h"

namespace {

struct Box {
    const char* caption;
    const char* text;
    UINT style;
    int result = 0;
};

DWORD WINAPI ShowBox(void* param) {
    auto* box = static_cast<Box*>(param);
    box->result = MessageBoxA(nullptr, box->text, box->caption, box->style);
    return 0;
}

// dlgwatch.exe beside this program, read line by line.
class Watcher {
public:
    explicit Watcher(const std::string& arguments) : process_(arguments) {}

    bool Started() const { return process_.Started(); }

    // The next whole line, without its line break; empty when the pipe ends.
    std::string ReadLine() {
        for (;;) {
            size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line;
            }
            char chunk[512];
            DWORD got = 0;
            if (!ReadFile(process_.Output(), chunk, sizeof(chunk), &got, nullptr) || got == 0)
                return {};
            pending_.append(chunk, got);
        }
    }

private:
    DlgWatchProcess process_;
    std::string pending_;
};

// Shows the boxes one after another on a thread and checks what the watcher printed and
// what each box returned.
void Expect(const std::string& arguments, Box* boxes, const int* expected, const char* const* lines,
            size_t count) {
    Watcher watcher(arguments);
    ASSERT_TRUE(watcher.Started());
    for (size_t i = 0; i < count; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, ShowBox, &boxes[i], 0, nullptr);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(watcher.ReadLine(), lines[i]);
        // The box ends once answered; a generous bound only guards against a hang.
        EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
        CloseHandle(thread);
        EXPECT_EQ(boxes[i].result, expected[i]) << lines[i];
    }
}

TEST(DlgWatchTest, AnswersWithTheDefaultButton) {
    Box boxes[] = {
        {"Vellamar", "Delete the file?", MB_OKCANCEL | MB_DEFBUTTON2},
        {"Vellamar", "Two\r\nlines", MB_YESNO},
        {"Other", "", MB_OK},
    };
    const int expected[] = {IDCANCEL, IDYES, IDOK};
    const char* const lines[] = {
        "dialog Vellamar | Delete the file?",
        "dialog Vellamar | Two lines",
        "dialog Other | ",
    };
    Expect("", boxes, expected, lines, 3);
}

TEST(DlgWatchTest, AnswersWithTheGivenButton) {
    const struct {
        const char* arguments;
        UINT style;
        int expected;
    } kCases[] = {
        {"--answer no", MB_YESNO, IDNO},
        {"--answer yes", MB_YESNO | MB_DEFBUTTON2, IDYES},
        {"--answer cancel", MB_OKCANCEL, IDCANCEL},
    };
    for (const auto& c : kCases) {
        Box box{"Question", "Go on?", c.style};
        const char* const line = "dialog Question | Go on?";
        Expect(c.arguments, &box, &c.expected, &line, 1);
    }
}

}  // namespace
