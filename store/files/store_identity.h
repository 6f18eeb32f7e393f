// What the file-system commands need to know about the running store: the host ID it
// serves (0 when it has none) and its main window. The main window implements this; tests
// use a fixed one.
#pragma once

#include <windows.h>

class IStoreIdentity {
public:
    virtual ~IStoreIdentity() = default;
    virtual int HostId() const = 0;
    virtual HWND MainWindow() const = 0;
};
