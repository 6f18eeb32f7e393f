// CFileDialogEx: the open dialog behind the file picker. The stock dialog returns files
// only; this one adds its own name box and a Select button through a child template,
// watches the shell view's selection, and returns the chosen folders in a second buffer
// beside the stock file buffer. It also checks that the chosen files still exist and
// refuses a selection that does not fit the caller's buffers.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>
#include <vector>

// The common dialog's buffer-too-small code; also used when a selection does not fit.
constexpr int kFileDialogTooManyFiles = 12291;  // FNERR_BUFFERTOOSMALL
// A chosen file was gone when the selection was confirmed.
constexpr int kFileDialogFileNotFound = 12292;

extern const char kTooManyFilesText[];
// Follows the missing name in the file-not-found text.
extern const char kFileNotFoundText[];
// Caption of the boxes the pickers show.
extern const char kPickerMessageCaption[];

class CFileDialogEx {
public:
    // `filter` is in the "Text|*.txt|All|*.*||" form. OFN_PATHMUSTEXIST and
    // OFN_FILEMUSTEXIST are always added.
    CFileDialogEx(bool openFileDialog, const char* defaultExtension = nullptr,
                  const char* fileName = nullptr, DWORD flags = OFN_HIDEREADONLY,
                  const char* filter = nullptr, HWND parent = nullptr,
                  DWORD structSize = sizeof(OPENFILENAMEA));
    ~CFileDialogEx();
    CFileDialogEx(const CFileDialogEx&) = delete;
    CFileDialogEx& operator=(const CFileDialogEx&) = delete;

    // IDOK with both buffers filled; IDCANCEL when cancelled, failed or refused, with
    // GetError and GetErrorText telling why.
    INT_PTR DoModal();

    // The file buffer walked as a multi-selection: the folder, then its names.
    const char* GetStartPosition() const;
    std::string GetNextPathName(const char*& position) const;
    // The same walk over the folder buffer.
    const char* GetStartFolderPosition() const;
    std::string GetNextFolderPath(const char*& position) const;

    int GetError() const { return m_nError; }
    const std::string& GetErrorText() const { return m_strError; }

    // The dialog settings; the caller sets lpstrFile, nMaxFile and lpstrTitle.
    OPENFILENAMEA m_ofn;
    char* m_pFolderBuffer = nullptr;
    int m_nFolderBufferSize = 0;

private:
    static UINT_PTR CALLBACK HookProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    void OnSize();
    void OnFitPlacesBar();
    void OnSelChange();
    void OnFolderChange();
    void OnSelectButton();
    std::string CurrentFolderPath() const;
    bool ValidateSelectedFiles(std::string& missingName);
    bool FillNameBuffer(char* buffer, const std::vector<std::string>& names, int capacity) const;
    char NameSeparator() const;

    bool m_bOpenFileDialog;
    int m_bSelectionChecked = 0;
    int m_nError = 0;
    int m_nIdFileNameLabel = 1090;
    int m_nIdFileNameBox = 1148;
    int m_nIdFileTypeLabel = 1089;
    int m_nIdFileTypeBox = 1136;
    int m_nIdPlacesBar = 1184;
    int m_nLabelLeft = 60;
    std::string m_strTitle;
    std::string m_strError;
    std::string m_strFolder;
    std::string m_strSelectedFiles;
    std::string m_strSelectedFolders;

    HWND m_hChild = nullptr;
    bool m_bInLayout = false;
    std::string m_strFilter;  // zero-separated, as the common dialog wants it
    char m_szFileName[MAX_PATH] = {};
};
