// What the updater needs from the store's main window.
#pragma once

#include <windows.h>

#include <string>

class IUpdaterHost {
public:
    virtual ~IUpdaterHost() = default;

    // The store's hidden message window (CPXHidMessageWin::Window()); the download worker
    // sends and posts WM_PX_UPDATE_DESCRIPTOR .. WM_PX_CLOSE_PROGRESS there.
    virtual HWND MessageWindow() const = 0;
    // The store's main window; the progress window opens at its top-left corner. Null
    // leaves the progress window where its template puts it (centred).
    virtual HWND MainWindow() const = 0;
    // The store's host ID, 0 when it has none.
    virtual int HostId() const = 0;
    // The user cache folder, without a trailing backslash.
    virtual std::string TransferDirectory() const = 0;
    // The configuration service's host: "host" or "host:port".
    virtual std::string UpdateHost() const = 0;
};
