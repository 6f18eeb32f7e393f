// Script-command handlers of the transfer manager.
#include "store/transfers/transfer_commands.h"

#include <climits>
#include <vector>

#include "store/files/path_walk.h"
#include "store/shell/script_commands.h"
#include "store/transfers/transfer_manager.h"

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The name after the last backslash, as the 260-byte buffer of the file name rule keeps it.
std::string LastComponent(const std::string& path) {
    char name[260];
    GetFileNamePart(path.c_str(), name, sizeof name);
    return name;
}

// The four "*"-separated fields every transfer request starts from, the first read as the
// transfer id, which must be positive.
struct TransferRequest {
    TransferManager* manager = nullptr;
    std::vector<std::string> fields;
    int id = 0;
};

// False when there is no manager to take the request, the text does not hold exactly four
// fields or the id is not positive.
bool ReadTransferRequest(CScriptCommands& commands, const std::string& arguments,
                         TransferRequest& request) {
    request.manager = commands.GetTransferManager();
    request.fields = CScriptCommands::SplitArguments(arguments, '*');
    if (request.manager == nullptr || request.fields.size() != 4) {
        return false;
    }
    request.id = ParseScriptInteger(request.fields[0]);
    return request.id > 0;
}

void StartDownloadFile(CScriptCommands& commands, const std::string& arguments,
                       ScriptResult& result) {
    // The movie is told nothing about the outcome of this one.
    result.SetSigned(-1);
    TransferRequest request;
    if (!ReadTransferRequest(commands, arguments, request)) {
        return;
    }
    std::vector<std::string>& fields = request.fields;
    const std::string& url = fields[1];
    if (url.empty()) {
        return;
    }
    commands.NormalizeArgumentPaths(fields[2]);
    commands.NormalizeArgumentPaths(fields[3]);
    const std::string destination = TrimWhiteSpace(fields[2]);
    const std::string relative = TrimWhiteSpace(fields[3]);
    const std::string name = LastComponent(relative);
    const std::string finalPath =
        !destination.empty() && !name.empty() ? destination + "\\" + name : destination;
    request.manager->startDownload(request.id, url, finalPath, relative);
}

void DownloadAndOpenFile(CScriptCommands& commands, const std::string& arguments,
                         ScriptResult& result) {
    result.SetSigned(-1);
    TransferRequest request;
    if (!ReadTransferRequest(commands, arguments, request)) {
        return;
    }
    std::vector<std::string>& fields = request.fields;
    const std::string& url = fields[1];
    if (url.empty()) {
        return;
    }
    commands.NormalizeArgumentPaths(fields[2]);
    const std::string fileName = TrimWhiteSpace(fields[2]);
    const std::string localPath = TrimWhiteSpace(commands.UserCacheFolder() + "\\" + fileName);
    request.manager->startDownloadAndOpen(request.id, url, localPath, fileName,
                                          ParseScriptInteger(fields[3]));
    result.SetSigned(0);
}

void StartUploadFile(CScriptCommands& commands, const std::string& arguments,
                     ScriptResult& result) {
    result.SetSigned(-1);
    TransferRequest request;
    if (!ReadTransferRequest(commands, arguments, request)) {
        return;
    }
    std::vector<std::string>& fields = request.fields;
    commands.NormalizeArgumentPaths(fields[1]);
    if (fields[1].empty()) {
        return;
    }
    request.manager->startUpload(request.id, fields[1], fields[2], fields[3]);
    result.SetSigned(0);
}

void StopTransFile(CScriptCommands& commands, const std::string& arguments, ScriptResult& result) {
    TransferManager* manager = commands.GetTransferManager();
    result.SetSigned(manager != nullptr ? manager->stopTransfer(ParseScriptInteger(arguments))
                                        : -1);
}

void GetTransStatus(CScriptCommands& commands, ScriptResult& result) {
    TransferManager* manager = commands.GetTransferManager();
    if (manager != nullptr) {
        result.SetText(manager->GetTransStatus());
    }
}

void GetAllProgress(CScriptCommands& commands, ScriptResult& result) {
    TransferManager* manager = commands.GetTransferManager();
    std::string reply;
    if (manager != nullptr && manager->GetAllProgress(reply)) {
        result.SetText(reply);
    }
}

}  // namespace

std::string TrimWhiteSpace(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsWhiteSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsWhiteSpace(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

void RegisterTransferCommands(CScriptCommands& commands) {
    CScriptCommands* self = &commands;
    commands.SetHandler(ScriptCommand::kStartDownloadFile,
                        [self](const std::string& arguments, ScriptResult& result) {
                            StartDownloadFile(*self, arguments, result);
                        });
    commands.SetHandler(ScriptCommand::kDownloadAndOpenFile,
                        [self](const std::string& arguments, ScriptResult& result) {
                            DownloadAndOpenFile(*self, arguments, result);
                        });
    commands.SetHandler(ScriptCommand::kStartUploadFile,
                        [self](const std::string& arguments, ScriptResult& result) {
                            StartUploadFile(*self, arguments, result);
                        });
    commands.SetHandler(ScriptCommand::kStopTransFile,
                        [self](const std::string& arguments, ScriptResult& result) {
                            StopTransFile(*self, arguments, result);
                        });
    // The script-call handlers answer GetTransStatus before dispatching; a dispatched one
    // gets the same text.
    commands.SetHandler(
        ScriptCommand::kGetTransStatus,
        [self](const std::string&, ScriptResult& result) { GetTransStatus(*self, result); });
    commands.SetHandler(
        ScriptCommand::kGetAllProgress,
        [self](const std::string&, ScriptResult& result) { GetAllProgress(*self, result); });
}
