// Handlers of the file-system script commands over the file and folder operations.
#include "store/files/file_system_commands.h"

#include <windows.h>
#include <shellapi.h>

#include <utility>
#include <vector>

#include "hostlink/host_link_codes.h"
#include "hostlink/host_link_text.h"
#include "hostlink/link_workers.h"
#include "store/files/file_command_rules.h"
#include "store/files/file_operations.h"
#include "store/files/store_identity.h"
#include "store/shell/script_commands.h"

namespace {

using OnePathOperation = int (*)(const char* path);
using TwoPathOperation = int (*)(const char* source, const char* destination);

// FileExistEx, DelFileEx, CreateFolderEx, DeleteFolderEx: 0 for an empty path.
ScriptCommandHandler OnePathCommand(const CScriptCommands& commands, OnePathOperation operation) {
    return [&commands, operation](const std::string& arguments, ScriptResult& result) {
        std::string path = arguments;
        commands.NormalizeArgumentPaths(path);
        result.SetSigned(path.empty() ? 0 : operation(path.c_str()));
    };
}

// The two-path commands only say whether the text held two pieces; the operation's own
// result is not passed on.
ScriptCommandHandler TwoPathCommand(const CScriptCommands& commands, TwoPathOperation operation) {
    return [&commands, operation](const std::string& arguments, ScriptResult& result) {
        std::string text = arguments;
        commands.NormalizeArgumentPaths(text);
        const std::vector<std::string> pieces = CScriptCommands::SplitArguments(text, '*');
        if (pieces.size() != 2) {
            result.SetSigned(-1);
            return;
        }
        operation(pieces[0].c_str(), pieces[1].c_str());
        result.SetSigned(0);
    };
}

int CopyFileOrMarkedFolder(const char* source, const char* destination) {
    std::string from = source;
    std::string to = destination;
    if (TakeFolderMarkers(from, to)) {
        return CopyFolderTree(from.c_str(), to.c_str());
    }
    return CopyFileTo(source, destination);
}

}  // namespace

void ShellOpenFile(const std::string& path) {
    ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void RegisterFileSystemCommands(CScriptCommands& commands, const IStoreIdentity* identity,
                                CLinkWorkers& workers, ShellOpenFunction shellOpen) {
    const CScriptCommands& tools = commands;
    commands.SetHandler(ScriptCommand::kFileExistEx, OnePathCommand(tools, FileExists));
    commands.SetHandler(ScriptCommand::kDelFileEx, OnePathCommand(tools, DeleteFileIfExists));
    commands.SetHandler(ScriptCommand::kCreateFolderEx, OnePathCommand(tools, CreateFolderTree));
    commands.SetHandler(ScriptCommand::kDeleteFolderEx, OnePathCommand(tools, DeleteFolderTree));

    commands.SetHandler(ScriptCommand::kGetFileSizeEx,
                        [&tools](const std::string& arguments, ScriptResult& result) {
                            std::string path = arguments;
                            tools.NormalizeArgumentPaths(path);
                            if (!path.empty()) {
                                result.SetUnsigned(GetPathSize(path.c_str()));
                            }
                        });

    // RenameFileEx and RenameFolderEx reach these two slots as well.
    commands.SetHandler(ScriptCommand::kMoveFileEx, TwoPathCommand(tools, MoveFileTo));
    commands.SetHandler(ScriptCommand::kMoveFolderEx, TwoPathCommand(tools, MoveFolderTree));
    commands.SetHandler(ScriptCommand::kCopyFileEx, TwoPathCommand(tools, CopyFileOrMarkedFolder));
    commands.SetHandler(ScriptCommand::kCopyFolderEx, TwoPathCommand(tools, CopyFolderTree));

    commands.SetHandler(
        ScriptCommand::kOpenFile, [&tools, identity, &workers, open = std::move(shellOpen)](
                                      const std::string& arguments, ScriptResult& result) {
            // Split before normalising: the host identifier is no path.
            std::vector<std::string> pieces = CScriptCommands::SplitArguments(arguments, '*');
            if (pieces.size() != 2) {
                result.SetSigned(-1);
                return;
            }
            std::string path = std::move(pieces[0]);
            tools.NormalizeArgumentPaths(path);
            const int requestedHost = ParseScriptInteger(pieces[1]);
            if (path.empty() || !FileExists(path.c_str())) {
                result.SetSigned(-1);
                return;
            }
            const int storeHost = identity != nullptr ? identity->HostId() : 0;
            if (storeHost != 0 && storeHost == requestedHost) {
                // SendMessage waits for the host to finish opening the file, so it must
                // not run on the thread the movie is waiting on.
                TextSendRequest request;
                request.peerTitle = HostWindowTitle(storeHost);
                request.code = PXCD_OPEN_FILE;
                request.text = path;
                request.senderWindow = identity->MainWindow();
                workers.StartTextSender(std::move(request));
            } else if (open) {
                open(path);
            }
            result.SetSigned(0);
        });
}
