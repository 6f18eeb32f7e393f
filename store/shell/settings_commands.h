// The settings script commands: Init tells the movie the cache root and the host it serves
// and marks the movie ready; StoreConfig takes the signed-in user, the upload endpoint and
// the transfer limits from the movie.
#pragma once

#include <string>

class CScriptCommands;
struct StoreSettings;

// What the settings commands need from the main window.
class IStoreSettingsHost {
public:
    virtual ~IStoreSettingsHost() = default;
    virtual int HostId() const = 0;
    // Called from the user-interface thread; workers poll the flag, which is never cleared.
    virtual void SetMovieReady() = 0;
};

// "RootCachePath=<cache root>|HostID=<host ID>|"
std::string BuildInitReply(const std::string& cacheRootFolder, int hostId);

// Applies every complete "key=value|" pair of `text` in order (keys without regard to
// letter case, unknown keys ignored, a last pair without its "|" ignored) to `settings`,
// the dispatcher's user cache folder and its transfer manager when it has one.
void ApplyStoreConfig(CScriptCommands& commands, StoreSettings& settings, const std::string& text);

// Installs the Init and StoreConfig handlers. `settings` and `host` (which may be null: host
// ID 0, no ready flag) must outlive the handlers.
void RegisterSettingsCommands(CScriptCommands& commands, StoreSettings& settings,
                              IStoreSettingsHost* host);
