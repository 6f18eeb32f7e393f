// What the store needs from a Shockwave Flash control, as a plain C++ interface: load a
// movie, call a movie function, and receive the movie's FlashCall events. The COM wrapper
// converts between this narrow (ANSI) text and the control's Unicode; tests stand in for it.
#pragma once

#include <functional>
#include <string>
#include <utility>

class IFlashControl {
public:
    using FlashCallHandler = std::function<void(const std::string& request)>;

    virtual ~IFlashControl() = default;

    virtual bool LoadMovie(int layer, const std::string& path) = 0;

    // Runs a movie function synchronously. False when the call failed (the movie lacks the
    // function, the control is not ready); never throws. `response` may be null: the store
    // never uses the returned text.
    virtual bool CallFunction(const std::string& request, std::string* response) = 0;

    // The host's handler for the control's FlashCall event; replaces any earlier one.
    void SetFlashCallHandler(FlashCallHandler handler) { m_flashCallHandler = std::move(handler); }

    // Raised by the control's event sink (or a test) on the user-interface thread. The
    // handler may call back into this control before it returns.
    void FireFlashCall(const std::string& request) const;

private:
    FlashCallHandler m_flashCallHandler;
};

// Calls `request` on the main window's control if the control exists and the request is
// not empty; a failure of the call is ignored.
void PushScriptCall(IFlashControl* mainControl, const std::string& request);
