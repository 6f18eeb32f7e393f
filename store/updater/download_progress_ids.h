// Resource identifiers of the updater: the progress window's template and controls and
// the updater's texts. Shared by download_progress.rc and the code; the store program's
// resource script includes download_progress.rc.
#pragma once

#define IDD_DOWNLOAD_PROGRESS 106
#define IDC_DOWNLOAD_SIZE_LINE 1020
#define IDC_DOWNLOAD_PROGRESS_BAR 1021
#define IDC_DOWNLOAD_MESSAGE_LINE 1022

#define IDS_UPDATE_SERVICE_UNREACHABLE 103
#define IDS_UPDATE_NONE_AVAILABLE 107
#define IDS_UPDATE_OPTIONAL_QUESTION 108
#define IDS_UPDATE_CREATE_FAILED 109
#define IDS_UPDATE_WRITE_FAILED 110
#define IDS_UPDATE_REQUIRED_CAPTION 111
#define IDS_UPDATE_REQUIRED_MESSAGE 112
#define IDS_UPDATE_OPTIONAL_MESSAGE 113
