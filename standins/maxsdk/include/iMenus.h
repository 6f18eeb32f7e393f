// Menus and menu items of the 3ds Max user interface; created by the host, owned by the menu
// manager.
#pragma once

#include "max.h"

class ActionItem;

class IMenuItem;

class IMenu {
public:
    virtual void SetTitle(const MCHAR* title) = 0;
    virtual const MCHAR* GetTitle() = 0;
    virtual int NumItems() = 0;
    virtual IMenuItem* GetItem(int position) = 0;
    // Inserts at position, or appends with -1.
    virtual void AddItem(IMenuItem* item, int position = -1) = 0;
    virtual void RemoveItem(int position) = 0;

protected:
    virtual ~IMenu() = default;
};

class IMenuItem {
public:
    virtual bool SetActionItem(ActionItem* actionItem) = 0;
    virtual ActionItem* GetActionItem() = 0;
    virtual void SetSubMenu(IMenu* menu) = 0;
    virtual IMenu* GetSubMenu() = 0;
    virtual void SetTitle(const MCHAR* title) = 0;
    virtual const MCHAR* GetTitle() = 0;

protected:
    virtual ~IMenuItem() = default;
};

CoreExport IMenu* GetIMenu();
CoreExport IMenuItem* GetIMenuItem();
