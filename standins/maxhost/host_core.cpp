// The stand-in's core interface: scene file operations answer from the state that the
// commands set, viewports and renderer are four fixed views, and every call is printed.
#include <cstdarg>
#include <cstdio>

#include "max.h"
#include "bitmap.h"
#include "maxscrpt/maxscrpt.h"
#include "standins/maxhost/host_bitmap.h"
#include "standins/maxhost/host_output.h"
#include "standins/maxhost/host_state.h"

class ViewExp {
public:
    int index = 0;
};

namespace {

// A layout of four viewports, as 3ds Max starts.
constexpr int kViewportCount = 4;

class MaxHostCore final : public Interface7 {
public:
    MaxHostCore() {
        for (int i = 0; i < kViewportCount; ++i) {
            m_views[i].index = i;
        }
    }

    HWND GetMAXHWnd() override { return m_mainWindow; }

    BOOL CheckForSave() override {
        const bool answer = m_scene.checkForSaveAnswer;
        HostPrint("CheckForSave -> %s", answer ? "yes" : "no");
        return answer ? TRUE : FALSE;
    }

    TSTR& GetCurFilePath() override {
        m_currentPath = m_scene.currentFile.c_str();
        HostPrint("GetCurFilePath -> %s", m_scene.currentFile.c_str());
        return m_currentPath;
    }

    void FileSave() override {
        if (m_scene.currentFile.empty()) {
            m_scene.currentFile = m_scene.saveAsName;
        }
        HostPrint("FileSave -> %s", m_scene.currentFile.c_str());
    }

    int LoadFromFile(const MCHAR* name, BOOL /*refresh*/) override {
        HostPrint("LoadFromFile %s", name);
        m_scene.currentFile = name;
        return TRUE;
    }

    int ImportFromFile(const MCHAR* name, BOOL /*suppressPrompts*/,
                       Class_ID* /*importerID*/) override {
        HostPrint("ImportFromFile %s", name);
        return TRUE;
    }

    TimeValue GetTime() override { return 0; }

    void RedrawViews(TimeValue /*t*/, DWORD /*vpFlags*/, ReferenceTarget* /*change*/) override {
        HostPrint("RedrawViews");
    }

    int OpenCurRenderer(INode* /*camNode*/, ViewExp* view, RendType /*t*/, int /*w*/,
                        int /*h*/) override {
        m_rendererOpen = view != nullptr;
        return m_rendererOpen ? 1 : 0;
    }

    int CurRendererRenderFrame(TimeValue /*t*/, Bitmap* bm, RendProgressCallback* /*prog*/,
                               float /*frameDur*/, ViewParams* /*vp*/,
                               RECT* /*regionRect*/) override {
        if (!m_rendererOpen || bm == nullptr) {
            return 0;
        }
        HostPrint("Render %s", HostBitmapName(bm).c_str());
        return 1;
    }

    void CloseCurRenderer() override { m_rendererOpen = false; }

    IActionManager* GetActionManager() override { return HostActionManager(); }
    IMenuManager* GetMenuManager() override { return HostMenuManager(); }

    int getNumViewports() override { return kViewportCount; }
    ViewExp* getViewport(int i) override {
        return i >= 0 && i < kViewportCount ? &m_views[i] : nullptr;
    }

    SceneState m_scene;
    HWND m_mainWindow = nullptr;

private:
    TSTR m_currentPath;
    ViewExp m_views[kViewportCount];
    bool m_rendererOpen = false;
};

MaxHostCore& Core() {
    static MaxHostCore core;
    return core;
}

bool gCustomControlsReady = false;

}  // namespace

SceneState& HostScene() {
    return Core().m_scene;
}

void SetHostMainWindow(HWND window) {
    Core().m_mainWindow = window;
}

CoreExport Interface* GetCOREInterface() {
    return &Core();
}

CoreExport Interface7* GetCOREInterface7() {
    return &Core();
}

CoreExport void InitCustomControls(HINSTANCE /*hInst*/) {
    HostPrint("InitCustomControls%s", gCustomControlsReady ? " (again)" : "");
    gCustomControlsReady = true;
}

ScripterExport void mprintf(const MCHAR* format, ...) {
    char text[2048];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    HostPrint("Listener %s", OneLine(text).c_str());
}
