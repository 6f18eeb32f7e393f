// CScriptCommands: the one dispatcher of script calls from the movies. It logs each call,
// picks the handler by function name (letter case ignored) and offers the handlers their
// two text tools, path normalisation and splitting of the "*"-joined arguments.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/shell/script_call.h"

class TransferManager;

// Handler slots in the order of the command table. RenameFileEx and RenameFolderEx have no
// slot of their own: they run the MoveFileEx and MoveFolderEx handlers.
enum class ScriptCommand {
    kGetTransStatus,
    kInit,
    kStoreConfig,
    kStartDownloadFile,
    kDownloadAndOpenFile,
    kStartUploadFile,
    kStopTransFile,
    kOpenFile,
    kFileExistEx,
    kGetFileSizeEx,
    kSelectPath,
    kSelectFiles,
    kMoveFileEx,
    kCopyFileEx,
    kDelFileEx,
    kCreateFolderEx,
    kDeleteFolderEx,
    kMoveFolderEx,
    kCopyFolderEx,
    kGetAllProgress,
    kCameraShelfInit,
    kCameraShelfAddCamera,
    kCameraShelfImageSelect,
};
constexpr size_t kScriptCommandCount = 23;

// Receives the joined argument text and the result slot, which arrives empty.
using ScriptCommandHandler =
    std::function<void(const std::string& arguments, ScriptResult& result)>;

// One row of the command table: the name the movie sends and the slot it runs.
struct ScriptCommandName {
    const char* name;
    ScriptCommand command;
};
constexpr size_t kScriptCommandNameCount = 25;
extern const ScriptCommandName kScriptCommandNames[kScriptCommandNameCount];

// The first table row whose name equals `name` without regard to ASCII letter case.
bool FindScriptCommand(std::string_view name, ScriptCommand* command);

// Runs of backslashes with the white space around them, to be collapsed to one backslash.
extern const char kNormalizingPattern[];

// The text with every kNormalizingPattern run made one backslash. Walks whole characters of
// the ANSI code page: a double-byte character whose trail byte is 0x5C is no backslash.
std::string CollapseBackslashRuns(const std::string& text);

class CScriptCommands {
public:
    CScriptCommands();
    CScriptCommands(const CScriptCommands&) = delete;
    CScriptCommands& operator=(const CScriptCommands&) = delete;

    // Logs the call and runs the handler the name selects. An unknown name or an empty
    // slot runs nothing and leaves `result` empty.
    void Dispatch(const std::string& name, const std::string& arguments, ScriptResult& result);

    void SetHandler(ScriptCommand command, ScriptCommandHandler handler);
    void ClearHandlers();

    // Made once by the main window after it has created the transfer manager.
    void SetTransferManager(TransferManager* manager, const std::string& userCacheFolder);
    TransferManager* GetTransferManager() const { return m_transferManager; }
    const std::string& UserCacheFolder() const { return m_userCacheFolder; }
    void SetUserCacheFolder(const std::string& folder) { m_userCacheFolder = folder; }

    // "/" becomes "\", then every run of backslashes with the white space directly around it
    // becomes one backslash. "*" is never touched, so a joined text may be normalised whole.
    void NormalizeArgumentPaths(std::string& text) const;

    // N separators give N+1 pieces; empty pieces are kept.
    static std::vector<std::string> SplitArguments(std::string_view text, char separator);

private:
    ScriptCommandHandler m_handlers[kScriptCommandCount];
    TransferManager* m_transferManager = nullptr;
    std::string m_userCacheFolder;
    std::string m_normalizingPattern;
};

// The process-wide dispatcher shared by the main window and the camera shelf.
CScriptCommands& TheScriptCommands();
