// Scene hand-off through the 3ds Max core interface and its bitmap manager.
#include "plugin/scene_handoff.h"

#include "max.h"
#include "bitmap.h"
#include "plugin/plugin_library.h"
#include "plugin/resource.h"
#include "plugin/scene_rules.h"
#include "plugin/store_launcher.h"

namespace {
constexpr WORD kThumbnailWidth = 300;
constexpr WORD kThumbnailHeight = 200;
}  // namespace

// Built while 3ds Max loads the library, so the core interface is there.
CSceneHandoff::CSceneHandoff() : m_core(GetCOREInterface()) {}

std::string CSceneHandoff::currentScenePath() {
    if (!m_core->CheckForSave()) {
        return std::string();
    }
    std::string path = m_core->GetCurFilePath().data();
    if (!HasDrivePath(path)) {
        m_core->FileSave();
        path = m_core->GetCurFilePath().data();
        if (!HasDrivePath(path)) {
            return std::string();
        }
    }
    return path;
}

int CSceneHandoff::saveToStore() {
    const std::string path = currentScenePath();
    if (path.empty()) {
        return 0;
    }
    if (!StoreLauncher().ensureStore(true, false)) {
        ShowPluginMessage(LoadPluginString(IDS_NO_STORE));
        return 1;
    }
    HostWindow().SendTextToStore(PXCD_SAVE_FILE, path);
    return 1;
}

void CSceneHandoff::openDownloadedFile(const std::string& path) {
    const HWND mainWindow = m_core->GetMAXHWnd();
    SetForegroundWindow(mainWindow);
    RECT rect = {};
    GetWindowRect(mainWindow, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    SetWindowPos(mainWindow, HWND_TOPMOST, rect.left, rect.top, width, height, SWP_SHOWWINDOW);
    SetWindowPos(mainWindow, HWND_NOTOPMOST, rect.left, rect.top, width, height, SWP_SHOWWINDOW);

    if (IsSceneFileToLoad(path)) {
        if (m_core->CheckForSave()) {
            m_core->LoadFromFile(path.c_str(), TRUE);
        }
        return;
    }
    // No importer named: 3ds Max picks one by the extension and shows its prompts.
    m_core->ImportFromFile(path.c_str(), FALSE, nullptr);
    m_core->RedrawViews(m_core->GetTime());
}

void CSceneHandoff::writeViewportThumbnails(const std::string& folder) {
    Interface7* core7 = GetCOREInterface7();
    const int viewports = core7->getNumViewports();
    for (int i = 0; i < viewports; ++i) {
        const std::string name = ThumbnailPath(folder, i);
        BitmapInfo info;
        info.SetName(name.c_str());
        info.SetWidth(kThumbnailWidth);
        info.SetHeight(kThumbnailHeight);
        info.SetType(BMM_TRUE_32);
        info.SetFirstFrame(0);
        info.SetLastFrame(0);
        info.SetAspect(1.0f);
        Bitmap* bitmap = TheManager->Create(&info);
        if (bitmap == nullptr) {
            continue;
        }
        if (core7->OpenCurRenderer(nullptr, core7->getViewport(i), RENDTYPE_NORMAL, kThumbnailWidth,
                                   kThumbnailHeight)) {
            core7->CurRendererRenderFrame(core7->GetTime(), bitmap);
            core7->CloseCurRenderer();
        }
        bitmap->OpenOutput(&info);
        bitmap->Write(&info, BMM_SINGLEFRAME);
        bitmap->Close(&info);
        bitmap->DeleteThis();
    }
}
