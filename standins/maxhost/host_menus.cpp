// The stand-in's action manager, menu manager and function publishing: the action tables
// that FP_ACTIONS interfaces describe, the menus that plug-ins build from them, and the
// main menu bar they hang on. Everything created here lives until the program ends.
#include <memory>
#include <string>
#include <vector>

#include "max.h"
#include "actiontable.h"
#include "iFnPub.h"
#include "iMenuMan.h"
#include "iMenus.h"
#include "standins/maxhost/host_output.h"
#include "standins/maxhost/host_state.h"

namespace {

std::string LoadResourceText(ClassDesc* cd, int id) {
    char text[512] = "";
    if (cd != nullptr && id != 0) {
        LoadStringA(cd->HInstance(), static_cast<UINT>(id), text, sizeof(text));
    }
    return text;
}

struct ActionDef {
    int id = 0;
    std::string internalName;
    int descriptionId = 0;
    std::string category;
    int categoryId = 0;
    int menuTextId = 0;
};

class FPActionItem final : public ActionItem {
public:
    FPActionItem(FPInterfaceDesc* owner, ActionDef def) : m_owner(owner), m_def(std::move(def)) {}
    ~FPActionItem() override = default;

    int GetId() override { return m_def.id; }

    // The interface's dispatcher decides; its status is the action's result.
    BOOL ExecuteAction() override {
        FPValue result;
        return m_owner->_dispatch_fn(static_cast<FunctionID>(m_def.id), 0, result, nullptr);
    }

    // Texts come from the plug-in's resources when asked: the descriptor is built while
    // the library is still loading.
    void GetMenuText(TSTR& menuText) override {
        menuText = LoadResourceText(m_owner->cd, m_def.menuTextId).c_str();
    }
    void GetDescriptionText(TSTR& descText) override {
        descText = LoadResourceText(m_owner->cd, m_def.descriptionId).c_str();
    }
    void GetCategoryText(TSTR& catText) override {
        catText = LoadResourceText(m_owner->cd, m_def.categoryId).c_str();
    }

private:
    FPInterfaceDesc* m_owner;
    ActionDef m_def;
};

class HostActionTable final : public ActionTable {
public:
    HostActionTable(ActionTableId id, FPInterfaceDesc* owner) : m_id(id), m_owner(owner) {}
    ~HostActionTable() override = default;

    ActionTableId GetId() override { return m_id; }
    int Count() override { return static_cast<int>(m_items.size()); }
    ActionItem* operator[](int index) override {
        return index >= 0 && index < Count() ? m_items[static_cast<size_t>(index)].get() : nullptr;
    }
    ActionItem* GetAction(int cmdId) override {
        for (auto& item : m_items) {
            if (item->GetId() == cmdId) {
                return item.get();
            }
        }
        return nullptr;
    }

    void Add(ActionDef def) { m_items.push_back(std::make_unique<FPActionItem>(m_owner, def)); }
    FPInterfaceDesc* Owner() const { return m_owner; }

private:
    ActionTableId m_id;
    FPInterfaceDesc* m_owner;
    std::vector<std::unique_ptr<FPActionItem>> m_items;
};

class HostActionManager final : public IActionManager {
public:
    BOOL RegisterActionContext(ActionContextId contextId, const MCHAR* pName) override {
        HostPrint("RegisterActionContext 0x%08lX %s", static_cast<unsigned long>(contextId),
                  pName ? pName : "");
        for (ActionContextId known : m_contexts) {
            if (known == contextId) {
                return FALSE;
            }
        }
        m_contexts.push_back(contextId);
        return TRUE;
    }
    int NumActionTables() override { return static_cast<int>(m_tables.size()); }
    ActionTable* GetTable(int index) override {
        return index >= 0 && index < NumActionTables() ? m_tables[static_cast<size_t>(index)].get()
                                                       : nullptr;
    }
    ActionTable* FindTable(ActionTableId id) override {
        for (auto& table : m_tables) {
            if (table->GetId() == id) {
                return table.get();
            }
        }
        return nullptr;
    }

    HostActionTable* AddTable(ActionTableId id, FPInterfaceDesc* owner) {
        m_tables.push_back(std::make_unique<HostActionTable>(id, owner));
        return m_tables.back().get();
    }
    const std::vector<std::unique_ptr<HostActionTable>>& Tables() const { return m_tables; }

private:
    std::vector<ActionContextId> m_contexts;
    std::vector<std::unique_ptr<HostActionTable>> m_tables;
};

HostActionManager& Actions() {
    static HostActionManager manager;
    return manager;
}

class HostMenu;

class HostMenuItem final : public IMenuItem {
public:
    ~HostMenuItem() override = default;
    bool SetActionItem(ActionItem* actionItem) override {
        m_action = actionItem;
        return actionItem != nullptr;
    }
    ActionItem* GetActionItem() override { return m_action; }
    void SetSubMenu(IMenu* menu) override { m_subMenu = menu; }
    IMenu* GetSubMenu() override { return m_subMenu; }
    void SetTitle(const MCHAR* title) override { m_title = title ? title : ""; }
    const MCHAR* GetTitle() override { return m_title.c_str(); }

private:
    ActionItem* m_action = nullptr;
    IMenu* m_subMenu = nullptr;
    std::string m_title;
};

class HostMenu final : public IMenu {
public:
    ~HostMenu() override = default;
    void SetTitle(const MCHAR* title) override { m_title = title ? title : ""; }
    const MCHAR* GetTitle() override { return m_title.c_str(); }
    int NumItems() override { return static_cast<int>(m_items.size()); }
    IMenuItem* GetItem(int position) override {
        return position >= 0 && position < NumItems() ? m_items[static_cast<size_t>(position)]
                                                      : nullptr;
    }
    void AddItem(IMenuItem* item, int position) override {
        if (item == nullptr) {
            return;
        }
        if (position < 0 || position >= NumItems()) {
            m_items.push_back(item);
        } else {
            m_items.insert(m_items.begin() + position, item);
        }
    }
    void RemoveItem(int position) override {
        if (position >= 0 && position < NumItems()) {
            m_items.erase(m_items.begin() + position);
        }
    }

private:
    std::string m_title;
    std::vector<IMenuItem*> m_items;
};

// Menus and items are never freed: a plug-in may keep pointers to them for its lifetime.
std::vector<std::unique_ptr<HostMenu>> gMenus;
std::vector<std::unique_ptr<HostMenuItem>> gMenuItems;

class HostMenuManager final : public IMenuManager {
public:
    BOOL RegisterMenuBarContext(MenuContextId contextId, const MCHAR* pName) override {
        HostPrint("RegisterMenuBarContext 0x%08lX %s", static_cast<unsigned long>(contextId),
                  pName ? pName : "");
        return TRUE;
    }
    IMenu* GetMainMenuBar() override { return m_mainMenuBar; }
    IMenu* FindMenu(const MCHAR* pTitle) override {
        for (IMenu* menu : m_registered) {
            if (pTitle != nullptr && std::string(menu->GetTitle()) == pTitle) {
                return menu;
            }
        }
        return nullptr;
    }
    BOOL RegisterMenu(IMenu* pMenu, DWORD /*flags*/) override {
        if (pMenu == nullptr) {
            return FALSE;
        }
        HostPrint("RegisterMenu %s", pMenu->GetTitle());
        m_registered.push_back(pMenu);
        return TRUE;
    }
    // Also takes the menu off the main menu bar, so that no dead entry stays there.
    BOOL UnRegisterMenu(IMenu* pMenu) override {
        for (size_t i = 0; i < m_registered.size(); ++i) {
            if (m_registered[i] == pMenu) {
                HostPrint("UnRegisterMenu %s", pMenu->GetTitle());
                m_registered.erase(m_registered.begin() + static_cast<std::ptrdiff_t>(i));
                if (m_mainMenuBar != nullptr) {
                    for (int item = m_mainMenuBar->NumItems() - 1; item >= 0; --item) {
                        if (m_mainMenuBar->GetItem(item)->GetSubMenu() == pMenu) {
                            m_mainMenuBar->RemoveItem(item);
                        }
                    }
                }
                return TRUE;
            }
        }
        return FALSE;
    }
    void UpdateMenuBar() override {}

    void SetMainMenuBar(IMenu* bar) { m_mainMenuBar = bar; }

private:
    IMenu* m_mainMenuBar = nullptr;
    std::vector<IMenu*> m_registered;
};

HostMenuManager& Menus() {
    static HostMenuManager manager;
    static bool built = false;
    if (!built) {
        built = true;
        IMenu* bar = GetIMenu();
        bar->SetTitle("Main Menu Bar");
        // Without a main menu bar the plug-in must cope; a test can ask for that.
        if (GetEnvironmentVariableA("MAXHOST_NO_MENU_BAR", nullptr, 0) == 0) {
            manager.SetMainMenuBar(bar);
        }
    }
    return manager;
}

}  // namespace

IActionManager* HostActionManager() {
    return &Actions();
}

IMenuManager* HostMenuManager() {
    return &Menus();
}

CoreExport IMenu* GetIMenu() {
    gMenus.push_back(std::make_unique<HostMenu>());
    return gMenus.back().get();
}

CoreExport IMenuItem* GetIMenuItem() {
    gMenuItems.push_back(std::make_unique<HostMenuItem>());
    return gMenuItems.back().get();
}

CoreExport void FPInterfaceDesc::load_descriptor(Interface_ID id, const MCHAR* int_name,
                                                 StringResID descr, ClassDesc* classDesc,
                                                 ULONG flag, va_list ap) {
    ID = id;
    internal_name = int_name;
    description = descr;
    cd = classDesc;
    flags = flag;
    if ((flag & FP_ACTIONS) == 0) {
        return;
    }
    // The table takes the interface id's first half as its own id.
    HostActionTable* table = Actions().AddTable(id.PartA(), this);
    action_table = table;
    va_arg(ap, int);  // the action context id
    int tag = va_arg(ap, int);
    while (tag != p_end) {
        ActionDef def;
        def.id = tag;
        def.internalName = va_arg(ap, const char*);
        def.descriptionId = va_arg(ap, int);
        va_arg(ap, int);  // return type
        va_arg(ap, int);  // function flags
        const int argumentCount = va_arg(ap, int);
        if (argumentCount != 0) {
            HostPrint("error: action %d has parameters; the stand-in reads none", def.id);
            return;
        }
        for (tag = va_arg(ap, int);; tag = va_arg(ap, int)) {
            if (tag == f_category) {
                def.category = va_arg(ap, const char*);
                def.categoryId = va_arg(ap, int);
            } else if (tag == f_menuText) {
                def.menuTextId = va_arg(ap, int);
            } else if (tag == f_buttonText || tag == f_toolTip) {
                va_arg(ap, int);
            } else {
                break;
            }
        }
        table->Add(def);
    }
}

void PrintPlenthraMenus() {
    IMenu* bar = Menus().GetMainMenuBar();
    bool any = false;
    for (int i = 0; bar != nullptr && i < bar->NumItems(); ++i) {
        IMenu* menu = bar->GetItem(i)->GetSubMenu();
        if (menu == nullptr || std::string(menu->GetTitle()) != "Plenthra") {
            continue;
        }
        std::string items;
        for (int j = 0; j < menu->NumItems(); ++j) {
            items += (j > 0 ? "|" : "") + std::string(menu->GetItem(j)->GetTitle());
        }
        HostPrint("menu %s: %s", menu->GetTitle(), items.c_str());
        any = true;
    }
    if (!any) {
        HostPrint("menu none");
    }
}

bool RunAction(int id, int* result) {
    const auto& tables = Actions().Tables();
    for (const auto& table : tables) {
        if (ActionItem* item = table->GetAction(id)) {
            *result = item->ExecuteAction();
            return true;
        }
    }
    if (tables.empty()) {
        return false;
    }
    FPValue value;
    *result = tables.front()->Owner()->_dispatch_fn(static_cast<FunctionID>(id), 0, value, nullptr);
    return true;
}
