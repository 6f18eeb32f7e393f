// The menu manager: menu-bar contexts, registered menus and the main menu bar.
#pragma once

#include "max.h"
#include "iMenus.h"

class IMenuManager {
public:
    virtual BOOL RegisterMenuBarContext(MenuContextId contextId, const MCHAR* pName) = 0;
    virtual IMenu* GetMainMenuBar() = 0;
    virtual IMenu* FindMenu(const MCHAR* pTitle) = 0;
    virtual BOOL RegisterMenu(IMenu* pMenu, DWORD flags = 0) = 0;
    virtual BOOL UnRegisterMenu(IMenu* pMenu) = 0;
    virtual void UpdateMenuBar() = 0;

protected:
    virtual ~IMenuManager() = default;
};
