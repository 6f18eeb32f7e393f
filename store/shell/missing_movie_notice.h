// The explanation a window of the store shows in place of its movie when the Flash control
// cannot be created or the movie file is missing: without it the user would see an empty
// grey window and nothing else, since the reason only goes to the activity log. The
// explanation is a plain static child in the window's client area, in the window's dialog
// font, its texts from the program's string table (missing_movie_notice.rc).
#pragma once

#include <windows.h>

#include <string>

// Why a window cannot play its movie: the control, the movie file, or both.
struct MovieProblem {
    enum class Control {
        kWorks,
        kNotInstalled,  // its class is not registered
        kFailed,        // it exists but could not be created or activated
    };
    Control control = Control::kWorks;
    HRESULT code = S_OK;       // the failing step's HRESULT (kFailed)
    std::string missingMovie;  // the movie file that is not there; empty when it is

    bool Any() const { return control != Control::kWorks || !missingMovie.empty(); }
};

// Records a control whose creation failed with `failureCode`.
void SetControlFailure(MovieProblem& problem, HRESULT failureCode);

// True when `path` names an existing file (not a folder).
bool MovieFileExists(const std::string& path);

// Which window explains itself; they differ in what still works.
enum class NoticeWindow { kMainWindow, kCameraShelf };

// The explanation: what is missing, what still works, and where the log is (`logPath`; the
// sentence is left out when it is empty). Paragraphs are separated by an empty line.
std::string MissingMovieNoticeText(const MovieProblem& problem, NoticeWindow window,
                                   const std::string& logPath);

// Puts `text` into `window`'s client area as the static child IDC_MOVIE_NOTICE (replacing
// the text of one shown earlier), in the window's font, filling the client area but for a
// margin. The window keeps its size and title. Returns the static, or null when it could
// not be created.
HWND ShowMissingMovieNotice(HWND window, const std::string& text);
