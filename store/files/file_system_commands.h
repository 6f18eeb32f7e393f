// The file-system script commands: existence and size queries, moving, copying and
// deleting files and folder trees, creating folders and opening a file. Each handler
// normalises and splits its argument text in its own order and answers as the movie
// expects; none reports a file-system failure beyond its result value. The two pickers
// (SelectPath, SelectFiles) are registered by the picker code.
#pragma once

#include <functional>
#include <string>

class CLinkWorkers;
class CScriptCommands;
class IStoreIdentity;

// Lets the shell open a file with its "open" verb; replaced in tests so that no real
// program is started.
using ShellOpenFunction = std::function<void(const std::string& path)>;
void ShellOpenFile(const std::string& path);

// Installs the handlers in `commands`. OpenFile asks `identity` (may be null: no host) at
// each call and hands files to the host from a worker of `workers`, which the caller
// waits for at shutdown. `identity` and `workers` must outlive the handlers.
void RegisterFileSystemCommands(CScriptCommands& commands, const IStoreIdentity* identity,
                                CLinkWorkers& workers, ShellOpenFunction shellOpen = ShellOpenFile);
