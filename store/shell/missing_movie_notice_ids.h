// Resource identifiers of the explanation a movie window shows when it cannot play its
// movie, shared by missing_movie_notice.rc (which the store's resource script includes)
// and the code.
#pragma once

// The static child that holds the explanation, in the main window and in the camera shelf.
#define IDC_MOVIE_NOTICE 1010

// What is missing.
#define IDS_NOTICE_CONTROL_MISSING 144
#define IDS_NOTICE_CONTROL_FAILED 145
#define IDS_NOTICE_MOVIE_MISSING 146
// What follows from it.
#define IDS_NOTICE_NO_MOVIE 150
// What still works, per window.
#define IDS_NOTICE_MAIN_STILL_WORKS 147
#define IDS_NOTICE_SHELF_STILL_WORKS 148
// Where the activity log is.
#define IDS_NOTICE_LOG_PATH 149
