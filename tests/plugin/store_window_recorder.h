// Stands in for the store's hidden window in the plug-in's tests: a message-only window
// with the store's class and title that turns every message the store would act on into
// a text line ("post 0x413 0", "copydata 0x416 host C:\a.max").
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class StoreWindowRecorder {
public:
    using LineSink = std::function<void(const std::string&)>;

    explicit StoreWindowRecorder(LineSink sink) : m_sink(std::move(sink)) {}

    // Creates the window on the calling thread. False when it could not be created.
    bool Create();
    void Destroy();
    HWND Window() const { return m_window; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    LineSink m_sink;
    HWND m_window = nullptr;
};
