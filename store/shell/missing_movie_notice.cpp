// The explanation a window of the store shows when it cannot play its movie. The string
// table's texts carry "%s" where a path or an error code goes; it is replaced here as
// plain text, so that nothing in a resource (or in a path) is ever read as a format.
#include "store/shell/missing_movie_notice.h"

#include <cstdio>

#include "store/shell/missing_movie_notice_ids.h"

namespace {

// Margin around the explanation, in dialog units (as the dialog templates space items).
constexpr int kMarginDialogUnits = 7;
// The longest text of the string table, with room to spare.
constexpr int kTextBufferBytes = 1024;

std::string LoadText(UINT id) {
    char text[kTextBufferBytes];
    const int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

// The text of `id` with its first "%s" replaced by `value`.
std::string LoadTextWith(UINT id, const std::string& value) {
    std::string text = LoadText(id);
    const std::size_t slot = text.find("%s");
    if (slot != std::string::npos) {
        text.replace(slot, 2, value);
    }
    return text;
}

std::string ErrorCodeText(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

void AddAfter(std::string& text, const char* separator, const std::string& part) {
    if (part.empty()) {
        return;
    }
    if (!text.empty()) {
        text += separator;
    }
    text += part;
}

void AddLine(std::string& text, const std::string& line) {
    AddAfter(text, "\r\n", line);
}

void AddParagraph(std::string& text, const std::string& paragraph) {
    AddAfter(text, "\r\n\r\n", paragraph);
}

}  // namespace

void SetControlFailure(MovieProblem& problem, HRESULT failureCode) {
    problem.control = failureCode == REGDB_E_CLASSNOTREG ? MovieProblem::Control::kNotInstalled
                                                         : MovieProblem::Control::kFailed;
    problem.code = failureCode;
}

bool MovieFileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string MissingMovieNoticeText(const MovieProblem& problem, NoticeWindow window,
                                   const std::string& logPath) {
    if (!problem.Any()) {
        return std::string();
    }
    // What is missing, a line each, then what follows from it.
    std::string missing;
    if (problem.control == MovieProblem::Control::kNotInstalled) {
        AddLine(missing, LoadText(IDS_NOTICE_CONTROL_MISSING));
    } else if (problem.control == MovieProblem::Control::kFailed) {
        AddLine(missing, LoadTextWith(IDS_NOTICE_CONTROL_FAILED, ErrorCodeText(problem.code)));
    }
    if (!problem.missingMovie.empty()) {
        AddLine(missing, LoadTextWith(IDS_NOTICE_MOVIE_MISSING, problem.missingMovie));
    }
    AddLine(missing, LoadText(IDS_NOTICE_NO_MOVIE));

    std::string text;
    AddParagraph(text, missing);
    AddParagraph(text,
                 LoadText(window == NoticeWindow::kMainWindow ? IDS_NOTICE_MAIN_STILL_WORKS
                                                              : IDS_NOTICE_SHELF_STILL_WORKS));
    if (!logPath.empty()) {
        AddParagraph(text, LoadTextWith(IDS_NOTICE_LOG_PATH, logPath));
    }
    return text;
}

HWND ShowMissingMovieNotice(HWND window, const std::string& text) {
    if (window == nullptr) {
        return nullptr;
    }
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    RECT margin = {0, 0, kMarginDialogUnits, kMarginDialogUnits};
    MapDialogRect(window, &margin);
    const int width = static_cast<int>(client.right - 2 * margin.right);
    const int height = static_cast<int>(client.bottom - 2 * margin.bottom);

    HWND notice = GetDlgItem(window, IDC_MOVIE_NOTICE);
    if (notice == nullptr) {
        // No prefix processing: an ampersand in a path is shown as it is. Hidden until its
        // font and text are in, so nobody sees it empty or in the system font.
        notice = CreateWindowExA(
            0, "STATIC", "", WS_CHILD | SS_LEFT | SS_NOPREFIX, static_cast<int>(margin.right),
            static_cast<int>(margin.bottom), width > 0 ? width : 0, height > 0 ? height : 0, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_MOVIE_NOTICE)),
            reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE)), nullptr);
        if (notice == nullptr) {
            return nullptr;
        }
        // A child made by hand starts in the system font; the window's own is its dialog font.
        const LRESULT font = SendMessageA(window, WM_GETFONT, 0, 0);
        if (font != 0) {
            SendMessageA(notice, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
        }
    }
    SetWindowTextA(notice, text.c_str());
    ShowWindow(notice, SW_SHOWNA);
    return notice;
}
