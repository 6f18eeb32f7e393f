// The Shockwave Flash ActiveX control hosted in a window of the store, behind the plain
// IFlashControl interface. A small OLE container of our own (client site, in-place site
// and frame, and an event sink for FlashCall) stands in for what a dialog framework would
// otherwise provide. Everything here runs on the user-interface thread, which must have
// called OleInitialize.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>

#include "store/shell/flash_control.h"

// The control's class id and the id of its event interface.
extern const CLSID kShockwaveFlashClassId;
extern const IID kShockwaveFlashEventsId;

class FlashSite;
class FlashEventSink;

class CShockwaveflash1 : public IFlashControl {
public:
    CShockwaveflash1() = default;
    ~CShockwaveflash1() override;
    CShockwaveflash1(const CShockwaveflash1&) = delete;
    CShockwaveflash1& operator=(const CShockwaveflash1&) = delete;

    // Creates the registered control at `rect` (client coordinates of `parent`), activates
    // it in place and listens to its FlashCall event. False, with a reason for the log in
    // `reason` (may be null), when the control is missing or unusable; the window then
    // simply has no movie. A control created earlier is destroyed first.
    bool Create(HWND parent, int controlId, const RECT& rect, std::string* reason);

    // The same for another class id, so that a missing control can be simulated.
    bool CreateOfClass(const CLSID& classId, HWND parent, int controlId, const RECT& rect,
                       std::string* reason);

    // The same with the control made by `factory`, for hosts (tests) that load the
    // control's module themselves instead of relying on its registration.
    bool CreateFromFactory(IClassFactory* factory, HWND parent, int controlId, const RECT& rect,
                           std::string* reason);

    bool IsCreated() const { return m_object != nullptr; }

    // The HRESULT of the step that made the last creation fail (REGDB_E_CLASSNOTREG when
    // the control is not installed; E_FAIL for a step that gives none); S_OK once a
    // creation has succeeded.
    HRESULT FailureCode() const { return m_failureCode; }

    // The control's own window (null when the control is windowless or not created).
    HWND GetControlWindow() const;

    // Offers a key message aimed at the control's window to the control's active object
    // (when the control has named one); true when the control took it.
    bool TranslateControlKey(MSG* msg);

    // Moves the control within its parent; false when there is no control to move.
    bool Resize(const RECT& rect);

    // Stops listening, closes the control and releases everything. Safe to call again, and
    // on a control that was never created.
    void Destroy();

    bool LoadMovie(int layer, const std::string& path) override;
    bool CallFunction(const std::string& request, std::string* response) override;

    // Container objects (sites and sinks) still alive in this process; zero once every
    // control is destroyed and has let go of its site. Lets tests see leaks.
    static long ContainerObjectsAlive();

private:
    bool Host(IOleObject* object, HWND parent, int controlId, const RECT& rect,
              std::string* reason);
    bool Advise(std::string* reason);

    IOleObject* m_object = nullptr;
    IDispatch* m_dispatch = nullptr;
    IOleInPlaceObject* m_inPlace = nullptr;
    IConnectionPoint* m_eventPoint = nullptr;
    DWORD m_eventCookie = 0;
    FlashSite* m_site = nullptr;
    FlashEventSink* m_sink = nullptr;
    HRESULT m_failureCode = S_OK;
};
