// The core of the 3ds Max SDK that the plug-in relies on: basic types, the core interface
// (scene files, viewports, renderer, action and menu managers) and the custom-control start-up.
// maxhost.exe implements and exports everything declared with CoreExport.
#pragma once

#include <windows.h>

#include <string>

#ifdef MAXHOST_EXPORTS
#define CoreExport __declspec(dllexport)
#else
#define CoreExport __declspec(dllimport)
#endif
#define UtilExport CoreExport
#define BMMExport CoreExport
#define ScripterExport CoreExport

typedef char MCHAR;
typedef int TimeValue;
typedef ULONG SClass_ID;
typedef int StringResID;
typedef int IOResult;
typedef DWORD ActionTableId;
typedef DWORD ActionContextId;
typedef DWORD MenuContextId;

#define IO_OK 0
#define IO_ERROR 2

// Release 9900 is 3ds Max 2008; the library reports the value it was built with.
#define MAX_RELEASE 9900
#define MAX_API_NUM 21
#define MAX_SDK_REV 0
#define VERSION_3DSMAX ((MAX_RELEASE << 16) + (MAX_API_NUM << 8) + MAX_SDK_REV)

#define GUP_CLASS_ID 0x000010E0

#define REDRAW_NORMAL (1 << 1)

// The SDK's narrow string class, reduced to what callers of the core interface need.
class CStr {
public:
    CStr() = default;
    CStr(const MCHAR* text) : m_text(text ? text : "") {}
    CStr& operator=(const MCHAR* text) {
        m_text = text ? text : "";
        return *this;
    }
    MCHAR* data() { return &m_text[0]; }
    const MCHAR* data() const { return m_text.c_str(); }
    int Length() const { return static_cast<int>(m_text.size()); }
    operator const MCHAR*() const { return m_text.c_str(); }

private:
    std::string m_text;
};
typedef CStr TSTR;
typedef CStr MSTR;

class Class_ID {
public:
    Class_ID() = default;
    Class_ID(ULONG aa, ULONG bb) : a(aa), b(bb) {}
    ULONG PartA() const { return a; }
    ULONG PartB() const { return b; }
    bool operator==(const Class_ID& other) const { return a == other.a && b == other.b; }

private:
    ULONG a = 0xFFFFFFFF;
    ULONG b = 0xFFFFFFFF;
};

class Interface_ID {
public:
    Interface_ID() = default;
    Interface_ID(ULONG aa, ULONG bb) : a(aa), b(bb) {}
    ULONG PartA() const { return a; }
    ULONG PartB() const { return b; }
    bool operator==(const Interface_ID& other) const { return a == other.a && b == other.b; }

private:
    ULONG a = 0xFFFFFFFF;
    ULONG b = 0xFFFFFFFF;
};

class Bitmap;
class INode;
class ViewExp;
class ViewParams;
class ReferenceTarget;
class RendProgressCallback;
class IActionManager;
class IMenuManager;
class ISave;
class ILoad;

enum RendType { RENDTYPE_NORMAL, RENDTYPE_REGION, RENDTYPE_BLOWUP, RENDTYPE_SELECT };

// The core interface: what 3ds Max offers every plug-in.
class Interface {
public:
    virtual HWND GetMAXHWnd() = 0;

    // Asks whether to save unsaved changes; FALSE when the user cancels.
    virtual BOOL CheckForSave() = 0;
    virtual TSTR& GetCurFilePath() = 0;
    // Saves the scene, asking for a name when it has none.
    virtual void FileSave() = 0;
    virtual int LoadFromFile(const MCHAR* name, BOOL refresh = TRUE) = 0;
    virtual int ImportFromFile(const MCHAR* name, BOOL suppressPrompts = FALSE,
                               Class_ID* importerID = NULL) = 0;

    virtual TimeValue GetTime() = 0;
    virtual void RedrawViews(TimeValue t, DWORD vpFlags = REDRAW_NORMAL,
                             ReferenceTarget* change = NULL) = 0;

    virtual int OpenCurRenderer(INode* camNode, ViewExp* view, RendType t = RENDTYPE_NORMAL,
                                int w = 0, int h = 0) = 0;
    virtual int CurRendererRenderFrame(TimeValue t, Bitmap* bm, RendProgressCallback* prog = NULL,
                                       float frameDur = 1.0f, ViewParams* vp = NULL,
                                       RECT* regionRect = NULL) = 0;
    virtual void CloseCurRenderer() = 0;

    virtual IActionManager* GetActionManager() = 0;
    virtual IMenuManager* GetMenuManager() = 0;

protected:
    virtual ~Interface() = default;
};

class Interface7 : public Interface {
public:
    virtual int getNumViewports() = 0;
    virtual ViewExp* getViewport(int i) = 0;

protected:
    ~Interface7() override = default;
};

CoreExport Interface* GetCOREInterface();
CoreExport Interface7* GetCOREInterface7();

// Registers 3ds Max's own control classes for the calling module's dialogs.
CoreExport void InitCustomControls(HINSTANCE hInst);

// What every plug-in class descriptor answers; the host creates plug-in objects through it.
class ClassDesc {
public:
    virtual ~ClassDesc() = default;
    virtual int IsPublic() = 0;
    virtual void* Create(BOOL loading = FALSE) = 0;
    virtual const MCHAR* ClassName() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const MCHAR* Category() = 0;
    virtual BOOL OkToCreate(Interface* /*i*/) { return TRUE; }
    virtual const MCHAR* InternalName() { return NULL; }
    virtual HINSTANCE HInstance() { return NULL; }
};
