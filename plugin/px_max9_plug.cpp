// The plug-in object, its class descriptor, its actions and the "Plenthra" menu.
#include "plugin/px_max9_plug.h"

#include "actiontable.h"
#include "iMenuMan.h"
#include "maxscrpt/maxscrpt.h"
#include "hostlink/host_comm_window.h"
#include "plugin/about_dialog.h"
#include "plugin/plugin_library.h"
#include "plugin/resource.h"
#include "plugin/scene_handoff.h"
#include "plugin/store_launcher.h"

static_assert(GUP_CLASS_ID == 0x10E0, "the plug-in registers as a global utility");

namespace {

constexpr ActionContextId kActionContextId = 0x1761733D;
constexpr MenuContextId kMenuContextBase = 0x3E695372;
constexpr char kMenuTitle[] = "Plenthra";
constexpr char kActionCategory[] = "Orvik Actions";

const Interface_ID kGlobalMenuActionsId(0x2BEF7F06, 0x045B3AA9);

// base + 2 was never used.
const struct {
    MenuContextId offset;
    const char* name;
} kMenuContexts[] = {
    {0, "Orvik Context"},    {1, "PXImport Context"}, {3, "PXSave Context"},
    {4, "PXUpdate Context"}, {5, "PXAbout Context"},
};

PXMax9Plug thePXMax9Plug;
PXMax9PlugClassDesc thePXMax9PlugDesc;

// Every function is an action without parameters or result.
// clang-format off
GlobalMenuActionsIMP theGlobalMenuActions(
    kGlobalMenuActionsId, "Global_Interface", 0, &thePXMax9PlugDesc, FP_ACTIONS,
    static_cast<int>(kActionContextId),
    kActionSearchMarketplace, "Search Marketplace...", IDS_SEARCH_DESC, TYPE_VOID, 0, 0,
        f_category, kActionCategory, IDS_ACTION_CATEGORY, f_menuText, IDS_SEARCH_MENU,
    kActionOpenMyFiles, "Open My Files...", IDS_MY_FILES_DESC, TYPE_VOID, 0, 0,
        f_category, kActionCategory, IDS_ACTION_CATEGORY, f_menuText, IDS_MY_FILES_MENU,
    kActionSaveToPlenthra, "Save to Plenthra...", IDS_SAVE_DESC, TYPE_VOID, 0, 0,
        f_category, kActionCategory, IDS_ACTION_CATEGORY, f_menuText, IDS_SAVE_MENU,
    kActionCheckForUpdate, "Check for Update...", IDS_UPDATE_DESC, TYPE_VOID, 0, 0,
        f_category, kActionCategory, IDS_ACTION_CATEGORY, f_menuText, IDS_UPDATE_MENU,
    kActionAbout, "About Vellamar Plenthra", IDS_ABOUT_DESC, TYPE_VOID, 0, 0,
        f_category, kActionCategory, IDS_ACTION_CATEGORY, f_menuText, IDS_ABOUT_MENU,
    p_end);
// clang-format on

void RemovePlenthraMenu(IMenuManager* menus) {
    if (IMenu* old = menus->FindMenu(kMenuTitle)) {
        menus->UnRegisterMenu(old);
        menus->UpdateMenuBar();
    }
}

IMenuItem* ActionMenuItem(ActionTable* table, int actionId) {
    ActionItem* action = table != nullptr ? table->GetAction(actionId) : nullptr;
    // Every id bound here is one of the interface's own functions.
    if (action == nullptr) {
        return nullptr;
    }
    IMenuItem* item = GetIMenuItem();
    item->SetActionItem(action);
    return item;
}

void InstallPlenthraMenu() {
    IMenuManager* menus = GetCOREInterface()->GetMenuManager();
    for (const auto& context : kMenuContexts) {
        menus->RegisterMenuBarContext(kMenuContextBase + context.offset, context.name);
    }
    IMenu* menuBar = menus->GetMainMenuBar();
    if (menuBar == nullptr) {
        mprintf("can't get main menu bar\n");
        return;
    }
    // A second Start without a Stop must not leave two menus.
    RemovePlenthraMenu(menus);

    IMenu* menu = GetIMenu();
    menu->SetTitle(kMenuTitle);
    menus->RegisterMenu(menu, 0);
    ActionTable* table = theGlobalMenuActions.action_table;
    if (IMenuItem* first = ActionMenuItem(table, kActionSearchMarketplace)) {
        first->SetTitle("Search Marketplace...");
        menu->AddItem(first, -1);
    }
    IMenuItem* barItem = GetIMenuItem();
    barItem->SetSubMenu(menu);
    menuBar->AddItem(barItem, -1);
    menus->UpdateMenuBar();

    const int laterActions[] = {kActionOpenMyFiles, kActionSaveToPlenthra, kActionCheckForUpdate,
                                kActionAbout};
    int position = 1;
    for (int actionId : laterActions) {
        IMenu* found = menus->FindMenu(kMenuTitle);
        IMenuItem* item = found != nullptr ? ActionMenuItem(table, actionId) : nullptr;
        if (item != nullptr) {
            TSTR menuText;
            item->GetActionItem()->GetMenuText(menuText);
            item->SetTitle(menuText.data());
            found->AddItem(item, position);
            menus->UpdateMenuBar();
        }
        ++position;
    }
}

// Shows the plug-in's error when an action could not reach the store.
int ReportUnreachable(bool reached) {
    if (!reached) {
        ShowPluginMessage(LoadPluginString(IDS_NO_STORE));
    }
    return 1;
}

}  // namespace

ClassDesc2* GetPXMax9PlugDesc() {
    return &thePXMax9PlugDesc;
}

DWORD PXMax9Plug::Start() {
    GetCOREInterface()->GetActionManager()->RegisterActionContext(
        kActionContextId, LoadPluginString(IDS_ACTION_CONTEXT).c_str());
    InstallPlenthraMenu();
    return GUPRESULT_KEEP;
}

void PXMax9Plug::Stop() {
    IMenuManager* menus = GetCOREInterface()->GetMenuManager();
    if (menus->GetMainMenuBar() != nullptr) {
        RemovePlenthraMenu(menus);
    }
    PXMaxHidCommWin::PostToStore(WM_PX_HOST_GONE);
    // The window and the sender workers end here, on 3ds Max's thread: the library's
    // static destructors run under the loader lock, where neither can be waited for.
    HostWindow().Close();
}

DWORD_PTR PXMax9Plug::Control(DWORD /*parameter*/) {
    return 0;
}

IOResult PXMax9Plug::Save(ISave* /*isave*/) {
    return IO_OK;
}

IOResult PXMax9Plug::Load(ILoad* /*iload*/) {
    return IO_OK;
}

// Every creation request gets the one static object.
void* PXMax9PlugClassDesc::Create(BOOL /*loading*/) {
    return &thePXMax9Plug;
}

// The string table has no class name or category; both stay empty.
const MCHAR* PXMax9PlugClassDesc::ClassName() {
    return "";
}

const MCHAR* PXMax9PlugClassDesc::Category() {
    return "";
}

HINSTANCE PXMax9PlugClassDesc::HInstance() {
    return PluginInstance();
}

FPStatus GlobalMenuActionsIMP::_dispatch_fn(FunctionID fid, TimeValue /*t*/, FPValue& /*result*/,
                                            FPParams* /*p*/) {
    switch (fid) {
        case kActionSearchMarketplace:
            return SearchMarketplace();
        case kActionOpenMyFiles:
            return OpenMyFiles();
        case kActionSaveToPlenthra:
            return SaveToPlenthra();
        case kActionCheckForUpdate:
            return CheckForUpdate();
        case kActionAbout:
            return About();
        default:
            return FPS_NO_SUCH_FUNCTION;
    }
}

// A store that could not be started has no window, so the post tells it all.
int GlobalMenuActionsIMP::SearchMarketplace() {
    StoreLauncher().ensureStore(true, false);
    return ReportUnreachable(PXMaxHidCommWin::PostToStore(WM_PX_SHOW_STORE));
}

int GlobalMenuActionsIMP::OpenMyFiles() {
    StoreLauncher().ensureStore(true, false);
    return ReportUnreachable(PXMaxHidCommWin::PostToStore(WM_PX_SHOW_MY_FILES));
}

int GlobalMenuActionsIMP::SaveToPlenthra() {
    return SceneHandoff().saveToStore();
}

// The store checks interactively, after it has the build numbers to report.
int GlobalMenuActionsIMP::CheckForUpdate() {
    StoreLauncher().ensureStore(true, true);
    const bool reached = PXMaxHidCommWin::FindStoreWindow() != nullptr;
    if (reached) {
        StoreLauncher().sendBuildNumbers();
        Sleep(500);
        PXMaxHidCommWin::PostToStore(WM_PX_CHECK_UPDATE, 0);
    }
    return ReportUnreachable(reached);
}

int GlobalMenuActionsIMP::About() {
    CAboutPX::Show(GetCOREInterface()->GetMAXHWnd());
    return 1;
}
