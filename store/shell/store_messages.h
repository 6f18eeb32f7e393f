// The main window's private messages. Workers and the host link post them; the
// user-interface thread handles them. Where a text travels, wParam carries a token for it
// (PostTextMessage, TakeMessageText); a number the store did not issue is ignored.
#pragma once

#include <windows.h>

constexpr UINT WM_PX_PUSH_SHOW_FILES = WM_USER + 99;      // 0x463
constexpr UINT WM_PX_PUSH_SHOW_STORE = WM_USER + 100;     // 0x464
constexpr UINT WM_PX_PUSH_SAVE_FILE = WM_USER + 101;      // 0x465, text: a file path
constexpr UINT WM_PX_RUN_UPDATE_CHECK = WM_USER + 102;    // 0x466, text: empty = interactive
constexpr UINT WM_PX_PUSH_DROPPED_FILES = WM_USER + 103;  // 0x467, text: a file list
constexpr UINT WM_PX_BEGIN_DRAG_OUT = WM_USER + 104;      // 0x468, text: the drag-out list

// Kinds of PostWhenMovieReady requests.
enum MovieRequestKind {
    kShowStoreRequest = 0,
    kShowFilesRequest = 1,
    kSaveFileRequest = 2,
    kUpdateCheckRequest = 3,
    kDroppedFilesRequest = 4,
};
