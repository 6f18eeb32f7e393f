// Moves scene files between 3ds Max and the store: the current scene to the store's
// save flow, downloaded files into the scene, and viewport thumbnails into a folder.
#pragma once

#include <string>

#include "hostlink/host_comm_window.h"

class Interface;

class CSceneHandoff : public IHostLinkActions {
public:
    CSceneHandoff();

    // The current scene file after the save prompt; empty when there is none.
    std::string currentScenePath();
    // Action "Save to Plenthra...": 0 when there was no scene file to send, else 1.
    int saveToStore();
    void openDownloadedFile(const std::string& path);
    void writeViewportThumbnails(const std::string& folder);

    void OpenFile(const std::string& path) override { openDownloadedFile(path); }
    void SaveThumbnails(const std::string& folder) override { writeViewportThumbnails(folder); }

private:
    Interface* m_core;
};
