// The folder and file pickers; see picker_commands.h.
#include "store/files/picker_commands.h"

#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "store/files/file_dialog_ex.h"
#include "store/files/file_list_text.h"
#include "store/files/file_operations.h"
#include "store/files/file_status.h"
#include "store/files/store_identity.h"
#include "store/shell/script_call.h"
#include "store/shell/script_commands.h"

namespace {

const char kSelectPathTitle[] = "Select a folder";
const char kSelectFilesTitle[] = "Select Files to Upload";
const char kSelectFilesFilter[] = "All Files(*.*)|*.*||";
// Both buffers of the file picker; a selection that does not fit is refused by the dialog.
const int kSelectionBufferSize = 10240;

HWND OwnerOf(const IStoreIdentity* identity) {
    return identity != nullptr ? identity->MainWindow() : nullptr;
}

}  // namespace

void SelectPath(HWND owner, ScriptResult& result) {
    result.SetText(std::string());
    // The browser's tree needs COM on this thread; the main window has it already.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    char displayName[MAX_PATH] = {};
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = kSelectPathTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    info.lpfn = nullptr;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (chosen != nullptr) {
        char path[MAX_PATH] = {};
        if (SHGetPathFromIDListA(chosen, path) && path[0] != '\0') {
            result.SetText(path);
        }
        CoTaskMemFree(chosen);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

void SelectFiles(HWND owner, ScriptResult& result) {
    result.SetText(std::string());
    std::vector<char> fileBuffer(kSelectionBufferSize, '\0');
    std::vector<char> folderBuffer(kSelectionBufferSize, '\0');

    CFileDialogEx dialog(true, nullptr, nullptr, OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY,
                         kSelectFilesFilter, owner);
    dialog.m_ofn.lpstrFile = fileBuffer.data();
    dialog.m_ofn.nMaxFile = kSelectionBufferSize;
    dialog.m_ofn.lpstrTitle = kSelectFilesTitle;
    dialog.m_pFolderBuffer = folderBuffer.data();
    dialog.m_nFolderBufferSize = kSelectionBufferSize;

    std::string list;
    if (dialog.DoModal() == IDOK) {
        for (const char* position = dialog.GetStartPosition(); position != nullptr;) {
            std::string path = dialog.GetNextPathName(position);
            FileStatus status;
            if (QueryFileStatus(path.c_str(), status)) {
                AppendFileListRecord(list, path, status.size, status.creationTime,
                                     status.writeTime);
            }
        }
        for (const char* position = dialog.GetStartFolderPosition(); position != nullptr;) {
            std::string path = dialog.GetNextFolderPath(position);
            FileStatus status;
            if (QueryFileStatus(path.c_str(), status)) {
                uint64_t size = status.size;
                GetFolderSize(path.c_str(), size);
                AppendFileListRecord(list, path + kFolderMarker, size, status.creationTime,
                                     status.writeTime);
            }
        }
    }
    if (dialog.GetError() != 0) {
        MessageBoxA(owner, dialog.GetErrorText().c_str(), kPickerMessageCaption, MB_OK);
    }
    result.SetText(list);
}

void RegisterPickerCommands(CScriptCommands& commands, const IStoreIdentity* identity) {
    commands.SetHandler(ScriptCommand::kSelectPath,
                        [identity](const std::string&, ScriptResult& result) {
                            SelectPath(OwnerOf(identity), result);
                        });
    commands.SetHandler(ScriptCommand::kSelectFiles,
                        [identity](const std::string&, ScriptResult& result) {
                            SelectFiles(OwnerOf(identity), result);
                        });
}
