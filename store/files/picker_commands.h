// The two pickers the movie can open: SelectPath (one folder) and SelectFiles (files and
// folders to upload, answered as a file list). Both are modal on the calling thread and
// answer empty text when the user cancels.
#pragma once

#include <windows.h>

class CScriptCommands;
class IStoreIdentity;
class ScriptResult;

// The folder browser; `result` becomes the chosen folder or empty text.
void SelectPath(HWND owner, ScriptResult& result);

// The file selection dialog; `result` becomes the file records, then the folder records
// (marked as whole folders), or empty text. When the dialog reports an error its text is
// shown in a message box owned by `owner`.
void SelectFiles(HWND owner, ScriptResult& result);

// Installs both pickers in `commands`. Their owner is the main window that `identity`
// (may be null: no owner) names at each call; `identity` must outlive the handlers.
void RegisterPickerCommands(CScriptCommands& commands, const IStoreIdentity* identity = nullptr);
