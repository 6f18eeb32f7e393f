// Actions: commands that menus, toolbars and shortcuts bind to, grouped in tables and contexts.
#pragma once

#include "max.h"

class ActionItem {
public:
    virtual int GetId() = 0;
    virtual BOOL ExecuteAction() = 0;
    virtual void GetMenuText(TSTR& menuText) = 0;
    virtual void GetDescriptionText(TSTR& descText) = 0;
    virtual void GetCategoryText(TSTR& catText) = 0;

protected:
    virtual ~ActionItem() = default;
};

class ActionTable {
public:
    virtual ActionTableId GetId() = 0;
    virtual int Count() = 0;
    virtual ActionItem* operator[](int index) = 0;
    // The item with this command id, or NULL.
    virtual ActionItem* GetAction(int cmdId) = 0;

protected:
    virtual ~ActionTable() = default;
};

class IActionManager {
public:
    virtual BOOL RegisterActionContext(ActionContextId contextId, const MCHAR* pName) = 0;
    virtual int NumActionTables() = 0;
    virtual ActionTable* GetTable(int index) = 0;
    virtual ActionTable* FindTable(ActionTableId id) = 0;

protected:
    virtual ~IActionManager() = default;
};
