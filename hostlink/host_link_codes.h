// The host link's wire: message codes, WM_COPYDATA codes, window titles and the text
// payload, shared by the store program and every host plug-in so that both sides are
// built from the same numbers. Needs no Windows header.
#pragma once

#include <cstddef>

// Plain messages posted to the store window.
constexpr unsigned int WM_PX_HOST_GONE = 0x40E;
constexpr unsigned int WM_PX_BRING_TO_FRONT = 0x411;
constexpr unsigned int WM_PX_SHOW_STORE = 0x413;
constexpr unsigned int WM_PX_SHOW_MY_FILES = 0x414;
constexpr unsigned int WM_PX_SHOW_EMPTY = 0x415;
constexpr unsigned int WM_PX_CHECK_UPDATE = 0x417;
constexpr unsigned int WM_PX_SHOW_CAMERA_SHELF = 0x419;
constexpr unsigned int WM_PX_RESTACK = 0x42D;

// Plain messages to the host window.
constexpr unsigned int WM_PX_QUERY_HOST = 0x41A;
constexpr unsigned int WM_PX_HOST_HELLO = 0x426;
constexpr unsigned int WM_PX_SEND_BUILD = 0x427;

// The store's own workers talk to the store window with these during an update check
// and download. Other programs can post them too: a saved file's message carries only a
// token for a path the workers left (posted_texts.h), so one that names none is ignored.
constexpr unsigned int WM_PX_UPDATE_DESCRIPTOR = 0x510;
constexpr unsigned int WM_PX_RUN_DOWNLOADED = 0x511;
constexpr unsigned int WM_PX_UPDATE_DESCRIPTOR_SILENT = 0x512;
constexpr unsigned int WM_PX_SHOW_PROGRESS = 0x513;
constexpr unsigned int WM_PX_CLOSE_PROGRESS = 0x514;
constexpr unsigned int kUpdateFlowFirst = WM_PX_UPDATE_DESCRIPTOR;
constexpr unsigned int kUpdateFlowLast = WM_PX_CLOSE_PROGRESS;

// COPYDATASTRUCT.dwData codes accepted by the store window.
constexpr unsigned int PXCD_SAVE_FILE = 0x416;
constexpr unsigned int PXCD_HOST_IDENTITY = 0x418;
constexpr unsigned int PXCD_HOST_REPLY = 0x429;
constexpr unsigned int PXCD_PLUGIN_BUILD = 0x43B;

// COPYDATASTRUCT.dwData codes accepted by a host window.
constexpr unsigned int PXCD_OPEN_FILE = 0x40F;
constexpr unsigned int PXCD_SAVE_THUMBNAILS = 0x412;
constexpr unsigned int PXCD_IMAGE_SELECTED = 0x41B;

// Every WM_COPYDATA text travels in a buffer of this size: at most 520 text bytes and a zero.
constexpr std::size_t kLinkPayloadSize = 521;
constexpr std::size_t kLinkTextMax = kLinkPayloadSize - 1;

// Host IDs that may own a host window; the store counts all of them before it quits.
constexpr int kHostIdFirst = 1;
constexpr int kHostIdLast = 14;
constexpr int kHostId3dsMax = 14;

// Window classes of the two hidden windows.
constexpr char kStoreWindowClass[] = "CPXHidMessageWin";
constexpr char kHostWindowClass[] = "PXMaxHidCommWin";

constexpr char kStoreGuidText[] = "038772DC1639433887360D5CC243BC00";

// Formats stay macros so that the compiler checks every printf-style use of them.
#define PX_STORE_TITLE_FORMAT "VellamarStoreHidWinSTORE_GUID%s"
#define PX_HOST_TITLE_FORMAT "VellamarHostHidWinHostID%dPLUGIN_GUID4A5A923D4B8D446187F245CD3B1E0818"
#define PX_HOST_IDENTITY_FORMAT "APPHOSTID %d APPPID %d"
#define PX_PLUGIN_BUILD_FORMAT \
    "PX_PLUGIN_BUILD_VER %d PX_PLUGIN_BUILD_MAJOR %d PX_PLUGIN_BUILD_MINOR %d"

// The words the receiver insists on when it takes the two texts above apart.
constexpr char kIdentityWordHostId[] = "APPHOSTID";
constexpr char kIdentityWordPid[] = "APPPID";
constexpr char kBuildWordVer[] = "PX_PLUGIN_BUILD_VER";
constexpr char kBuildWordMajor[] = "PX_PLUGIN_BUILD_MAJOR";
constexpr char kBuildWordMinor[] = "PX_PLUGIN_BUILD_MINOR";
