// What the commands of maxhost.exe set and read in the stand-in 3ds Max: the scene file
// and the answers of its prompts, the main window, the menus and the action tables.
#pragma once

#include <windows.h>

#include <string>

class IActionManager;
class IMenuManager;

struct SceneState {
    std::string currentFile;
    // What the save prompt names when the scene has none; empty: the user cancels.
    std::string saveAsName;
    bool checkForSaveAnswer = true;
};

SceneState& HostScene();
void SetHostMainWindow(HWND window);

IActionManager* HostActionManager();
IMenuManager* HostMenuManager();

// "menu TITLE: ITEM|ITEM|..." per "Plenthra" menu on the main menu bar, or "menu none".
void PrintPlenthraMenus();

// Runs action `id` of the plug-in's action tables; an id no table has goes to the
// dispatcher of the first action interface, as a script call would. False when the
// plug-in published no action interface at all.
bool RunAction(int id, int* result);
