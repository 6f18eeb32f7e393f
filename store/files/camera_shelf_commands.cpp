// Handlers of the camera shelf's script commands.
#include "store/files/camera_shelf_commands.h"

#include "store/files/camera_shelf.h"
#include "store/shell/script_commands.h"

void RegisterCameraShelfCommands(CScriptCommands& commands, CameraShelves& shelves) {
    commands.SetHandler(
        ScriptCommand::kCameraShelfInit,
        [&shelves](const std::string&, ScriptResult& result) { result.SetText(shelves.Init()); });
    commands.SetHandler(ScriptCommand::kCameraShelfAddCamera,
                        [&shelves](const std::string&, ScriptResult& result) {
                            result.SetText(shelves.AddCamera());
                        });
    commands.SetHandler(ScriptCommand::kCameraShelfImageSelect,
                        [&shelves](const std::string& arguments, ScriptResult& result) {
                            result.SetSigned(shelves.ImageSelect(arguments));
                        });
}
