// The file selection dialog; see file_dialog_ex.h. Everything here runs on the thread that
// called DoModal: the common dialog calls the hook from its own modal loop.
#include "store/files/file_dialog_ex.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "store/files/file_dialog_ex_ids.h"
#include "store/files/file_dialog_names.h"
#include "store/files/file_operations.h"

const char kTooManyFilesText[] = "Too many files are selected for concurrent upload.";
const char kFileNotFoundText[] = "\nFile not found\nPlease verify the correct file name was given.";
const char kPickerMessageCaption[] = "PXStore";

namespace {

// The shell view's list as found at the last selection change.
HWND g_hShellList = nullptr;
// The places bar is measured once per process: the first dialog's fit also serves the rest.
bool g_bFirstLayout = true;
// The dialog whose GetOpenFileName call is under way on this thread; the hook's
// WM_INITDIALOG takes it from here rather than trusting the structure it is handed.
thread_local CFileDialogEx* t_pStartingDialog = nullptr;

const char kSelfProperty[] = "PXFileDialogEx";
const UINT_PTR kPlacesBarTimer = 1;
const UINT kPlacesBarDelayMs = 20;
// Item texts are read with a 518-character limit into a path buffer (520 bytes).
const int kItemTextLimit = 518;
const size_t kMinSpecBufferSize = 260;

const char kModuleAnchor = 0;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            &kModuleAnchor, &module)) {
        return GetModuleHandleA(nullptr);
    }
    return module;
}

// Looks at character boundaries, so a double-byte character's trail byte is no backslash.
bool EndsWithBackslash(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const char* last = CharPrevA(path.c_str(), path.c_str() + path.size());
    return *last == '\\' && last + 1 == path.c_str() + path.size();
}

void AppendBackslash(std::string& path) {
    if (!EndsWithBackslash(path)) {
        path += '\\';
    }
}

// The window rectangle of `window` in the client coordinates of `frame`.
RECT RectIn(HWND frame, HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A combo box is sized with its list dropped; keep that height, not the closed one.
int ControlHeight(HWND window) {
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    RECT r;
    if (lstrcmpiA(className, "ComboBox") == 0 &&
        SendMessageA(window, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&r)) != 0) {
        return r.bottom - r.top;
    }
    GetWindowRect(window, &r);
    return r.bottom - r.top;
}

// Moves `window`, a child of `parent`, to a rectangle given in `frame` client coordinates.
void MoveTo(HWND frame, HWND parent, HWND window, RECT r) {
    MapWindowPoints(frame, parent, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CALLBACK FindShellListProc(HWND window, LPARAM lParam) {
    char className[200] = {};
    GetClassNameA(window, className, 199);
    if (std::strcmp(className, "SysListView32") == 0) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindShellList(HWND frame) {
    HWND list = nullptr;
    EnumChildWindows(frame, FindShellListProc, reinterpret_cast<LPARAM>(&list));
    return list;
}

}  // namespace

CFileDialogEx::CFileDialogEx(bool openFileDialog, const char* defaultExtension,
                             const char* fileName, DWORD flags, const char* filter, HWND parent,
                             DWORD structSize)
    : m_bOpenFileDialog(openFileDialog) {
    std::memset(&m_ofn, 0, sizeof m_ofn);
    m_ofn.lStructSize = std::min<DWORD>(structSize, sizeof m_ofn);
    m_ofn.hwndOwner = parent;
    m_ofn.hInstance = ThisModule();
    m_ofn.lpstrDefExt = defaultExtension;
    if (fileName != nullptr) {
        lstrcpynA(m_szFileName, fileName, MAX_PATH);
    }
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = MAX_PATH;
    if (filter != nullptr) {
        m_strFilter = filter;
        std::replace(m_strFilter.begin(), m_strFilter.end(), '|', '\0');
        m_ofn.lpstrFilter = m_strFilter.c_str();
    }
    // The child template and its hook only exist for the explorer-style dialog.
    m_ofn.Flags = flags | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_ENABLEHOOK |
                  OFN_ENABLETEMPLATE;
    m_ofn.lpfnHook = HookProc;
    m_ofn.lpTemplateName = MAKEINTRESOURCEA(IDD_FILEDIALOGEXDIALOG);
}

CFileDialogEx::~CFileDialogEx() = default;

char CFileDialogEx::NameSeparator() const {
    return (m_ofn.Flags & OFN_EXPLORER) != 0 ? '\0' : ' ';
}

INT_PTR CFileDialogEx::DoModal() {
    if (m_ofn.lpstrFile != nullptr && m_ofn.nMaxFile > 0) {
        size_t used = strnlen(m_ofn.lpstrFile, m_ofn.nMaxFile);
        std::memset(m_ofn.lpstrFile + used, 0, m_ofn.nMaxFile - used);
    }
    m_bSelectionChecked = 0;
    m_nError = 0;
    m_strError.clear();
    m_strSelectedFiles.clear();
    m_strSelectedFolders.clear();

    HWND focus = GetFocus();
    CFileDialogEx* outer = t_pStartingDialog;
    t_pStartingDialog = this;
    BOOL confirmed = m_bOpenFileDialog ? GetOpenFileNameA(&m_ofn) : GetSaveFileNameA(&m_ofn);
    t_pStartingDialog = outer;
    m_nError = static_cast<int>(CommDlgExtendedError());
    if (focus != nullptr && IsWindow(focus)) {
        SetFocus(focus);
    }

    bool success = confirmed != FALSE;
    if (success && m_bSelectionChecked == 0) {
        // Confirmed without the Select button: the names were never checked.
        std::string missing;
        if (!ValidateSelectedFiles(missing)) {
            m_nError = kFileDialogFileNotFound;
            m_strError = missing + kFileNotFoundText;
            success = false;
        }
    }
    if (success && !m_strSelectedFiles.empty()) {
        std::vector<std::string> names = SplitQuotedNames(m_strSelectedFiles, kQuotedNameSeparator);
        if (!FillNameBuffer(m_ofn.lpstrFile, names, static_cast<int>(m_ofn.nMaxFile))) {
            m_nError = kFileDialogTooManyFiles;
            success = false;
        }
    }
    if (success && !m_strSelectedFolders.empty()) {
        std::vector<std::string> names =
            SplitQuotedNames(m_strSelectedFolders, kQuotedNameSeparator);
        if (!FillNameBuffer(m_pFolderBuffer, names, m_nFolderBufferSize)) {
            m_nError = kFileDialogTooManyFiles;
            success = false;
        }
    }
    if (m_nError == kFileDialogTooManyFiles) {
        m_strError = kTooManyFilesText;
    }
    return success ? IDOK : IDCANCEL;
}

bool CFileDialogEx::FillNameBuffer(char* buffer, const std::vector<std::string>& names,
                                   int capacity) const {
    if (buffer == nullptr || capacity <= 0) {
        return false;
    }
    return ::FillNameBuffer(buffer, static_cast<size_t>(capacity), m_strFolder, names,
                            NameSeparator());
}

const char* CFileDialogEx::GetStartPosition() const {
    return NameListWalk(m_ofn.lpstrFile, m_ofn.nMaxFile).Start();
}

std::string CFileDialogEx::GetNextPathName(const char*& position) const {
    return NameListWalk(m_ofn.lpstrFile, m_ofn.nMaxFile).Next(position);
}

const char* CFileDialogEx::GetStartFolderPosition() const {
    if (m_nFolderBufferSize <= 0) {
        return nullptr;
    }
    return NameListWalk(m_pFolderBuffer, static_cast<size_t>(m_nFolderBufferSize)).Start();
}

std::string CFileDialogEx::GetNextFolderPath(const char*& position) const {
    if (m_nFolderBufferSize <= 0) {
        position = nullptr;
        return {};
    }
    return NameListWalk(m_pFolderBuffer, static_cast<size_t>(m_nFolderBufferSize)).Next(position);
}

UINT_PTR CALLBACK CFileDialogEx::HookProc(HWND child, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CFileDialogEx*>(GetPropA(child, kSelfProperty));
    if (message == WM_INITDIALOG) {
        self = t_pStartingDialog;
        if (self == nullptr) {
            return 0;
        }
        SetPropA(child, kSelfProperty, self);
        self->m_hChild = child;
        self->OnInitDialog();
        return TRUE;
    }
    if (self == nullptr) {
        return 0;
    }
    switch (message) {
        case WM_SIZE:
            self->OnSize();
            break;
        case WM_TIMER:
            if (wParam == kPlacesBarTimer) {
                self->OnFitPlacesBar();
                return TRUE;
            }
            break;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_FILEDIALOGEX_SELECT && HIWORD(wParam) == BN_CLICKED) {
                self->OnSelectButton();
                return TRUE;
            }
            break;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == static_cast<UINT>(CDN_SELCHANGE)) {
                self->OnSelChange();
            } else if (header->code == static_cast<UINT>(CDN_FOLDERCHANGE)) {
                self->OnFolderChange();
            }
            break;
        }
        case WM_DESTROY:
            KillTimer(child, kPlacesBarTimer);
            RemovePropA(child, kSelfProperty);
            self->m_hChild = nullptr;
            break;
        default:
            break;
    }
    return 0;
}

void CFileDialogEx::OnInitDialog() {
    HWND frame = GetParent(m_hChild);
    if (GetDlgItem(frame, m_nIdFileNameBox) == nullptr) {
        m_nIdFileNameBox = 1152;  // the older dialog's edit box
    }
    HWND label = GetDlgItem(frame, m_nIdFileNameLabel);
    m_nLabelLeft = label != nullptr ? RectIn(frame, label).left : 60;
    m_strTitle = m_ofn.lpstrTitle != nullptr ? m_ofn.lpstrTitle : "";
    SetWindowTextA(frame, m_strTitle.empty() ? "Select File" : m_strTitle.c_str());
}

void CFileDialogEx::OnSize() {
    HWND frame = GetParent(m_hChild);
    if (!IsWindow(frame) || m_bInLayout) {
        return;
    }
    // Resizing the frame below sizes this panel again; one pass is enough.
    m_bInLayout = true;

    for (int id : {m_nIdFileNameBox, m_nIdFileNameLabel}) {
        if (HWND stock = GetDlgItem(frame, id)) {
            SetWindowPos(stock, nullptr, 10000, 10000, 1, 1, SWP_NOZORDER | SWP_NOACTIVATE);
            EnableWindow(stock, FALSE);
        }
    }

    HWND okButton = GetDlgItem(frame, IDOK);
    HWND cancelButton = GetDlgItem(frame, IDCANCEL);
    HWND selectButton = GetDlgItem(m_hChild, IDC_FILEDIALOGEX_SELECT);
    HWND nameLabel = GetDlgItem(m_hChild, IDC_FILEDIALOGEX_NAME_LABEL);
    HWND nameBox = GetDlgItem(m_hChild, IDC_FILEDIALOGEX_NAME_BOX);
    RECT ok{};
    RECT cancel{};
    RECT cancelScreen{};
    if (okButton != nullptr) {
        ok = RectIn(frame, okButton);
        ShowWindow(okButton, SW_HIDE);
        if (selectButton != nullptr) {
            MoveTo(frame, m_hChild, selectButton, ok);
        }
    }
    if (cancelButton != nullptr) {
        GetWindowRect(cancelButton, &cancelScreen);
        cancel = RectIn(frame, cancelButton);
    }

    LONG labelRight = m_nLabelLeft;
    if (nameLabel != nullptr) {
        RECT r = RectIn(frame, nameLabel);
        LONG top = okButton != nullptr ? ok.top + 2 : r.top;
        RECT moved{m_nLabelLeft, top, m_nLabelLeft + (r.right - r.left), top + (r.bottom - r.top)};
        MoveTo(frame, m_hChild, nameLabel, moved);
        labelRight = moved.right;
    }
    if (nameBox != nullptr && okButton != nullptr) {
        RECT moved{labelRight + 2, ok.top, ok.left - 6, ok.top + ControlHeight(nameBox)};
        MoveTo(frame, m_hChild, nameBox, moved);
    }
    HWND typeBox = GetDlgItem(frame, m_nIdFileTypeBox);
    if (typeBox != nullptr && cancelButton != nullptr) {
        RECT moved{labelRight + 2, cancel.top, cancel.left - 6,
                   cancel.top + ControlHeight(typeBox)};
        MoveTo(frame, frame, typeBox, moved);
    }
    HWND placesBar = GetDlgItem(frame, m_nIdPlacesBar);
    if (placesBar != nullptr && cancelButton != nullptr) {
        RECT r = RectIn(frame, placesBar);
        if (cancel.bottom > r.top) {
            r.bottom = cancel.bottom;
            MoveTo(frame, frame, placesBar, r);
        }
    }
    if (cancelButton != nullptr) {
        RECT r;
        GetWindowRect(frame, &r);
        LONG right = cancelScreen.right + 10;
        LONG bottom = cancelScreen.bottom + (cancelScreen.bottom - cancelScreen.top) / 2 + 3;
        SetWindowPos(frame, nullptr, 0, 0, right - r.left, bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (g_bFirstLayout) {
        g_bFirstLayout = false;
        SetTimer(m_hChild, kPlacesBarTimer, kPlacesBarDelayMs, nullptr);
    }
    m_bInLayout = false;
}

void CFileDialogEx::OnFitPlacesBar() {
    KillTimer(m_hChild, kPlacesBarTimer);
    HWND frame = GetParent(m_hChild);
    HWND placesBar = GetDlgItem(frame, m_nIdPlacesBar);
    if (placesBar == nullptr) {
        return;
    }
    LRESULT count = SendMessageA(placesBar, TB_BUTTONCOUNT, 0, 0);
    LRESULT buttonSize = SendMessageA(placesBar, TB_GETBUTTONSIZE, 0, 0);
    LONG needed = static_cast<LONG>(count) * HIWORD(buttonSize) + 2;
    RECT bar;
    GetWindowRect(placesBar, &bar);
    LONG current = bar.bottom - bar.top;
    if (current < needed && needed < GetSystemMetrics(SM_CYSCREEN)) {
        RECT r;
        GetWindowRect(frame, &r);
        SetWindowPos(frame, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + needed - current,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

std::string CFileDialogEx::CurrentFolderPath() const {
    char path[kPathBufferSize] = {};
    LRESULT length = SendMessageA(GetParent(m_hChild), CDM_GETFOLDERPATH, sizeof path - 1,
                                  reinterpret_cast<LPARAM>(path));
    std::string folder = length > 0 ? std::string(path) : std::string();
    AppendBackslash(folder);
    return folder;
}

void CFileDialogEx::OnSelChange() {
    HWND frame = GetParent(m_hChild);
    g_hShellList = FindShellList(frame);
    if (g_hShellList == nullptr) {
        return;
    }
    m_strSelectedFiles.clear();
    m_strSelectedFolders.clear();
    m_strFolder = CurrentFolderPath();

    bool fileSelected = false;
    for (LRESULT item =
             SendMessageA(g_hShellList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
         item != -1; item = SendMessageA(g_hShellList, LVM_GETNEXTITEM, static_cast<WPARAM>(item),
                                         LVNI_SELECTED)) {
        char text[kPathBufferSize] = {};
        LVITEMA lvItem{};
        lvItem.iSubItem = 0;
        lvItem.pszText = text;
        lvItem.cchTextMax = kItemTextLimit;
        SendMessageA(g_hShellList, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                     reinterpret_cast<LPARAM>(&lvItem));
        if (IsFolder((m_strFolder + text).c_str())) {
            m_strSelectedFolders += '"';
            m_strSelectedFolders += text;
            m_strSelectedFolders += "\" ";
        } else {
            fileSelected = true;
        }
    }
    if (fileSelected && (m_ofn.Flags & OFN_EXPLORER) != 0) {
        std::vector<char> spec(std::max<size_t>(m_ofn.nMaxFile, kMinSpecBufferSize) + 1, '\0');
        LRESULT length = SendMessageA(frame, CDM_GETSPEC, spec.size() - 1,
                                      reinterpret_cast<LPARAM>(spec.data()));
        if (length > 0) {
            m_strSelectedFiles = spec.data();
        }
    }
    SetDlgItemTextA(m_hChild, IDC_FILEDIALOGEX_NAME_BOX,
                    (m_strSelectedFolders + m_strSelectedFiles).c_str());
}

void CFileDialogEx::OnFolderChange() {
    m_strFolder = CurrentFolderPath();
}

bool CFileDialogEx::ValidateSelectedFiles(std::string& missingName) {
    m_bSelectionChecked = 1;
    for (const std::string& name : SplitQuotedNames(m_strSelectedFiles, kQuotedNameSeparator)) {
        if (name.empty()) {
            continue;
        }
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((m_strFolder + name).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) {
            missingName = name;
            return false;
        }
        FindClose(find);
    }
    return true;
}

void CFileDialogEx::OnSelectButton() {
    if (m_strSelectedFiles.empty() && m_strSelectedFolders.empty()) {
        return;
    }
    HWND frame = GetParent(m_hChild);
    std::string missing;
    if (ValidateSelectedFiles(missing)) {
        // The stock OK would open a selected folder instead of returning it.
        EndDialog(frame, IDOK);
        return;
    }
    std::string text = missing + kFileNotFoundText;
    MessageBoxA(frame, text.c_str(), kPickerMessageCaption, MB_OK);
}
