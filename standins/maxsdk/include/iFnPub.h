// Function publishing: a static interface describes its functions in a variable argument list
// at construction. With FP_ACTIONS the host turns every function into an action of an action
// table, which menus can bind to; choosing the item calls the interface's dispatcher.
//
// Descriptor list read by load_descriptor, after the flags:
//   with FP_ACTIONS: the action context id (ActionContextId), then
//   per function: fid, internal name, description string id, return type, function flags,
//                 argument count (0 here), then any of
//                 f_category, internal category name, category string id
//                 f_menuText, string id
//                 f_buttonText, string id
//                 f_toolTip, string id
//   and p_end after the last function.
#pragma once

#include <cstdarg>

#include "max.h"

class ActionTable;

typedef short FunctionID;
typedef int FPStatus;
typedef int ParamType2;

#define FPS_FAIL 0
#define FPS_OK 1
#define FPS_NO_SUCH_FUNCTION -1
#define FPS_ACTION_DISABLED -2

#define FP_ACTIONS 0x0001

// Tags of the descriptor list: far away from any function id.
enum {
    p_end = -0x7FFF0000,
    f_category,
    f_menuText,
    f_buttonText,
    f_toolTip,
};

enum { TYPE_VOID = 20, TYPE_INT = 1, TYPE_BOOL = 4 };

class FPValue {};
class FPParams {};

class FPInterfaceDesc;

class FPInterface {
public:
    virtual ~FPInterface() = default;
    virtual FPInterfaceDesc* GetDesc() = 0;
    virtual FPStatus _dispatch_fn(FunctionID /*fid*/, TimeValue /*t*/, FPValue& /*result*/,
                                  FPParams* /*p*/) {
        return FPS_NO_SUCH_FUNCTION;
    }
};

class FPInterfaceDesc : public FPInterface {
public:
    Interface_ID ID;
    TSTR internal_name;
    StringResID description = 0;
    ClassDesc* cd = NULL;
    ULONG flags = 0;
    // The table built from an FP_ACTIONS descriptor (owned by the host's action manager).
    ActionTable* action_table = NULL;

    FPInterfaceDesc() = default;
    FPInterfaceDesc* GetDesc() override { return this; }

    CoreExport void load_descriptor(Interface_ID id, const MCHAR* int_name, StringResID descr,
                                    ClassDesc* classDesc, ULONG flag, va_list ap);
};

class FPStaticInterface : public FPInterfaceDesc {};

// Gives a static interface the SDK's descriptor constructor.
#define DECLARE_DESCRIPTOR(_interface)                                                             \
public:                                                                                            \
    _interface() = default;                                                                        \
    _interface(Interface_ID id, const MCHAR* name, StringResID descr, ClassDesc* desc, ULONG flag, \
               ...) {                                                                              \
        va_list ap;                                                                                \
        va_start(ap, flag);                                                                        \
        load_descriptor(id, name, descr, desc, flag, ap);                                          \
        va_end(ap);                                                                                \
    }
