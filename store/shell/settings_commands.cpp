// Handlers of the Init and StoreConfig script commands.
#include "store/shell/settings_commands.h"

#include "store/shell/script_commands.h"
#include "store/shell/store_settings.h"
#include "store/transfers/transfer_manager.h"
#include "text/pattern_matcher.h"

namespace {

// Key, "=", value, "|"; both lazy, so each match is one pair.
const char kConfigPairPattern[] = "{[^=]+?}={[^\\|]*?}\\|";

void ApplyConfigPair(CScriptCommands& commands, StoreSettings& settings, const std::string& key,
                     const std::string& value) {
    TransferManager* manager = commands.GetTransferManager();
    if (ScriptNameEquals(key, "UploadUrl")) {
        if (manager != nullptr) {
            manager->setDefaultUploadUrl(value);
        }
    } else if (ScriptNameEquals(key, "User")) {
        // Only the backslash runs collapse here; a "/" in the name stays as it is.
        const std::string folder = CollapseBackslashRuns(settings.cacheRootFolder + "\\" + value);
        settings.userCacheFolder = folder;
        commands.SetUserCacheFolder(folder);
        if (manager != nullptr) {
            // A folder that cannot be made leaves the manager without one; the reply stays 0.
            manager->setUserCacheFolder(folder);
        }
    } else if (ScriptNameEquals(key, "MaxDownloadCount")) {
        if (manager != nullptr) {
            manager->setMaxDownloadCount(ParseScriptInteger(value));
        }
    } else if (ScriptNameEquals(key, "MaxUploadCount")) {
        if (manager != nullptr) {
            manager->setMaxUploadCount(ParseScriptInteger(value));
        }
    }
}

}  // namespace

std::string BuildInitReply(const std::string& cacheRootFolder, int hostId) {
    return "RootCachePath=" + cacheRootFolder + "|HostID=" + std::to_string(hostId) + "|";
}

void ApplyStoreConfig(CScriptCommands& commands, StoreSettings& settings, const std::string& text) {
    CPatternMatcher matcher;
    if (matcher.Compile(kConfigPairPattern, true) != kPatternOk) {
        return;
    }
    size_t from = 0;
    while (from < text.size() && matcher.Match(text, from)) {
        ApplyConfigPair(commands, settings, matcher.Group(0), matcher.Group(1));
        from = matcher.MatchEnd();
    }
}

void RegisterSettingsCommands(CScriptCommands& commands, StoreSettings& settings,
                              IStoreSettingsHost* host) {
    commands.SetHandler(
        ScriptCommand::kInit, [&settings, host](const std::string&, ScriptResult& result) {
            result.SetText(
                BuildInitReply(settings.cacheRootFolder, host != nullptr ? host->HostId() : 0));
            if (host != nullptr) {
                host->SetMovieReady();
            }
        });
    CScriptCommands* self = &commands;
    commands.SetHandler(ScriptCommand::kStoreConfig,
                        [self, &settings](const std::string& arguments, ScriptResult& result) {
                            ApplyStoreConfig(*self, settings, arguments);
                            result.SetSigned(0);
                        });
}
