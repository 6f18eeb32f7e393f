// The camera shelf's three script commands: CameraShelfInit, CameraShelfAddCamera and
// CameraShelfImageSelect, all addressed to the store's current shelf.
#pragma once

class CScriptCommands;
class CameraShelves;

// `shelves` must outlive the registration (or the handlers must be cleared first).
void RegisterCameraShelfCommands(CScriptCommands& commands, CameraShelves& shelves);
