// The script-call dispatcher: command table, handler slots, argument text tools.
#include "store/shell/script_commands.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "store/shell/activity_log.h"
#include "text/multibyte.h"
#include "text/pattern_matcher.h"

static_assert(static_cast<size_t>(ScriptCommand::kCameraShelfImageSelect) + 1 ==
                  kScriptCommandCount,
              "one handler slot per command");

// RenameFileEx and RenameFolderEx share the MoveFileEx and MoveFolderEx handlers: renaming is
// moving in one folder.
const ScriptCommandName kScriptCommandNames[kScriptCommandNameCount] = {
    {"GetTransStatus", ScriptCommand::kGetTransStatus},
    {"Init", ScriptCommand::kInit},
    {"StoreConfig", ScriptCommand::kStoreConfig},
    {"StartDownloadFile", ScriptCommand::kStartDownloadFile},
    {"DownloadAndOpenFile", ScriptCommand::kDownloadAndOpenFile},
    {"StartUploadFile", ScriptCommand::kStartUploadFile},
    {"StopTransFile", ScriptCommand::kStopTransFile},
    {"OpenFile", ScriptCommand::kOpenFile},
    {"FileExistEx", ScriptCommand::kFileExistEx},
    {"GetFileSizeEx", ScriptCommand::kGetFileSizeEx},
    {"SelectPath", ScriptCommand::kSelectPath},
    {"SelectFiles", ScriptCommand::kSelectFiles},
    {"MoveFileEx", ScriptCommand::kMoveFileEx},
    {"CopyFileEx", ScriptCommand::kCopyFileEx},
    {"DelFileEx", ScriptCommand::kDelFileEx},
    {"RenameFileEx", ScriptCommand::kMoveFileEx},
    {"CreateFolderEx", ScriptCommand::kCreateFolderEx},
    {"DeleteFolderEx", ScriptCommand::kDeleteFolderEx},
    {"MoveFolderEx", ScriptCommand::kMoveFolderEx},
    {"CopyFolderEx", ScriptCommand::kCopyFolderEx},
    {"RenameFolderEx", ScriptCommand::kMoveFolderEx},
    {"GetAllProgress", ScriptCommand::kGetAllProgress},
    {"CameraShelfInit", ScriptCommand::kCameraShelfInit},
    {"CameraShelfAddCamera", ScriptCommand::kCameraShelfAddCamera},
    {"CameraShelfImageSelect", ScriptCommand::kCameraShelfImageSelect},
};

// Blank, form feed, line feed, carriage return, tab, vertical tab around a class holding
// one escaped backslash: 23 characters of pattern text.
const char kNormalizingPattern[] = "[ \f\n\r\t\v]*[\\\\]+[ \f\n\r\t\v]*";

bool FindScriptCommand(std::string_view name, ScriptCommand* command) {
    // The first equal row wins, so the table order is the comparison order.
    const ScriptCommandName* end = std::end(kScriptCommandNames);
    const ScriptCommandName* row =
        std::find_if(std::begin(kScriptCommandNames), end,
                     [name](const ScriptCommandName& r) { return ScriptNameEquals(name, r.name); });
    if (row == end) {
        return false;
    }
    if (command != nullptr) {
        *command = row->command;
    }
    return true;
}

CScriptCommands::CScriptCommands() : m_normalizingPattern(kNormalizingPattern) {}

void CScriptCommands::Dispatch(const std::string& name, const std::string& arguments,
                               ScriptResult& result) {
    LogLine("Function=%s, Arguments=%s", name.c_str(), arguments.c_str());
    ScriptCommand command = ScriptCommand::kGetTransStatus;
    if (!FindScriptCommand(name, &command)) {
        return;
    }
    // A copy, so that a handler replacing its own slot does not destroy itself while running.
    ScriptCommandHandler handler = m_handlers[static_cast<size_t>(command)];
    if (handler) {
        handler(arguments, result);
    }
}

void CScriptCommands::SetHandler(ScriptCommand command, ScriptCommandHandler handler) {
    size_t slot = static_cast<size_t>(command);
    if (slot < kScriptCommandCount) {
        m_handlers[slot] = std::move(handler);
    }
}

void CScriptCommands::ClearHandlers() {
    std::fill(std::begin(m_handlers), std::end(m_handlers), ScriptCommandHandler());
}

void CScriptCommands::SetTransferManager(TransferManager* manager,
                                         const std::string& userCacheFolder) {
    m_transferManager = manager;
    m_userCacheFolder = userCacheFolder;
}

namespace {

bool IsNormalizingBlank(char c) {
    return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\v';
}

// Blanks are single bytes, and so is every byte the walk stops at: lead bytes carry their
// trail byte along.
std::string CollapseBackslashRunsByCharacter(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i;
        while (end < text.size() && IsNormalizingBlank(text[end])) {
            ++end;
        }
        if (end < text.size() && text[end] == '\\') {
            while (end < text.size() && text[end] == '\\') {
                ++end;
            }
            while (end < text.size() && IsNormalizingBlank(text[end])) {
                ++end;
            }
            out += '\\';
            i = end;
            continue;
        }
        const std::size_t length =
            i + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        out.append(text, i, length);
        i += length;
    }
    return out;
}

}  // namespace

std::string CollapseBackslashRuns(const std::string& text) {
    if (HasLeadBytes()) {
        return CollapseBackslashRunsByCharacter(text);
    }
    return CPatternMatcher::Replace(text, kNormalizingPattern, "\\", true, true);
}

void CScriptCommands::NormalizeArgumentPaths(std::string& text) const {
    if (HasLeadBytes()) {
        // '/' is never a trail byte of the double-byte code pages, but the walk stays whole.
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (IsLeadByte(static_cast<unsigned char>(text[i]))) {
                ++i;
            } else if (text[i] == '/') {
                text[i] = '\\';
            }
        }
        text = CollapseBackslashRuns(text);
        return;
    }
    std::replace(text.begin(), text.end(), '/', '\\');
    text = CPatternMatcher::Replace(text, m_normalizingPattern.c_str(), "\\", true, true);
}

std::vector<std::string> CScriptCommands::SplitArguments(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

CScriptCommands& TheScriptCommands() {
    // Built on first use rather than at static initialisation, so other static objects
    // can reach it safely.
    static CScriptCommands commands;
    return commands;
}
