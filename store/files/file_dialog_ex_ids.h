// Resource identifiers of the file selection dialog's child template, shared by the .rc
// file and the code.
#pragma once

#define IDD_FILEDIALOGEXDIALOG 4301
#define IDC_FILEDIALOGEX_NAME_LABEL 1001
#define IDC_FILEDIALOGEX_NAME_BOX 1002
#define IDC_FILEDIALOGEX_SELECT 1003
