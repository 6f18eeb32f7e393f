// What 3ds Max sees of the plug-in: the global utility object, its class descriptor and
// the function-published action interface whose actions the "Plenthra" menu binds to.
#pragma once

#include "max.h"
#include "gup.h"
#include "iparamb2.h"
#include "iFnPub.h"

class PXMax9Plug : public GUP {
public:
    DWORD Start() override;
    void Stop() override;
    DWORD_PTR Control(DWORD parameter) override;
    // Nothing of the plug-in goes into scene files.
    IOResult Save(ISave* isave) override;
    IOResult Load(ILoad* iload) override;
};

class PXMax9PlugClassDesc : public ClassDesc2 {
public:
    int IsPublic() override { return 1; }
    void* Create(BOOL loading = FALSE) override;
    const MCHAR* ClassName() override;
    SClass_ID SuperClassID() override { return GUP_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(0x99E67C96, 0x98D57239); }
    const MCHAR* Category() override;
    BOOL OkToCreate(Interface* /*i*/) override { return TRUE; }
    const MCHAR* InternalName() override { return "Plenthra"; }
    HINSTANCE HInstance() override;
};

// Action function ids; they are also the command ids of the action table.
enum PXActionId {
    kActionSearchMarketplace = 5,
    kActionOpenMyFiles = 6,
    kActionSaveToPlenthra = 7,
    kActionCheckForUpdate = 8,
    kActionAbout = 9,
};

class GlobalMenuActionsIMP : public FPStaticInterface {
public:
    DECLARE_DESCRIPTOR(GlobalMenuActionsIMP)

    FPStatus _dispatch_fn(FunctionID fid, TimeValue t, FPValue& result, FPParams* p) override;

    int SearchMarketplace();
    int OpenMyFiles();
    int SaveToPlenthra();
    int CheckForUpdate();
    int About();
};

ClassDesc2* GetPXMax9PlugDesc();
