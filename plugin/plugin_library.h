// The plug-in library's static objects and the small services every part of it uses:
// its module handle, its strings and its message boxes.
#pragma once

#include <windows.h>

#include <string>

#include "hostlink/host_link_text.h"

class PXMaxHidCommWin;
class CStoreLauncher;
class CSceneHandoff;

// Build numbers 1.0.72: shown in the About box and sent to the store.
constexpr PluginBuild kPluginBuild{1, 0, 72};

HINSTANCE PluginInstance();
PXMaxHidCommWin& HostWindow();
CStoreLauncher& StoreLauncher();
CSceneHandoff& SceneHandoff();

// A string of the library's string table; empty when it has none.
std::string LoadPluginString(UINT id);

// A message box with the OK button only, owned by the 3ds Max main window.
void ShowPluginMessage(const std::string& text);
