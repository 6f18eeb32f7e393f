// The stand-in for the Flash ActiveX control: the dispatch methods and the FlashCall
// event the store uses, the OLE interfaces a container needs to place it in a window,
// and a window that shows what crossed it.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <deque>
#include <string>
#include <vector>

#include "driver_link.h"

namespace pxflash {

extern const CLSID CLSID_FlashStandin;     // {D27CDB6E-AE6D-11CF-96B8-444553540000}
extern const IID DIID_FlashStandinEvents;  // {D27CDB6D-AE6D-11CF-96B8-444553540000}

constexpr DISPID kDispLoadMovie = 142;
constexpr DISPID kDispCallFunction = 198;
constexpr DISPID kDispFlashCall = 197;
// The text properties a host sets before loading a movie (their ids in the real control's
// type library).
constexpr DISPID kDispWMode = 133;
constexpr DISPID kDispScale = 137;
constexpr DISPID kDispQuality2 = 141;

// Objects alive in this DLL, for DllCanUnloadNow.
extern LONG gObjectCount;
extern HINSTANCE gModule;

class FlashControl;

// The FlashCall connection point. Its lifetime is its control's: it forwards its
// reference counting there.
class EventConnectionPoint : public IConnectionPoint {
public:
    explicit EventConnectionPoint(FlashControl& owner) : owner_(owner) {}
    virtual ~EventConnectionPoint() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** out) override;

    // Raises FlashCall with request on every advised sink, in advise order.
    void Fire(const std::u16string& request);
    void UnadviseAll();

private:
    struct Sink {
        DWORD cookie;
        IDispatch* dispatch;
    };
    FlashControl& owner_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
};

class FlashControl : public IDispatch,
                     public IOleObject,
                     public IOleInPlaceObject,
                     public IOleInPlaceActiveObject,
                     public IOleControl,
                     public IPersistStreamInit,
                     public IConnectionPointContainer {
public:
    FlashControl();
    virtual ~FlashControl();
    FlashControl(const FlashControl&) = delete;
    FlashControl& operator=(const FlashControl&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT* argError) override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override;
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override;
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override;
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                        LPCRECT position) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override;
    STDMETHODIMP Unadvise(DWORD) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override;

    // IOleWindow, IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;

    // IOleInPlaceActiveObject (GetWindow and ContextSensitiveHelp are shared with the
    // in-place object). The container offers it every key aimed at the window first.
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override;
    STDMETHODIMP OnDocWindowActivate(BOOL) override;
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    STDMETHODIMP EnableModeless(BOOL) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG*) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID) override;
    STDMETHODIMP FreezeEvents(BOOL) override;

    // IPersist, IPersistStreamInit: the stand-in has no properties worth keeping.
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM) override;
    STDMETHODIMP Save(LPSTREAM, BOOL) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;

    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void LoadMovie(long layer, const std::u16string& path);
    void CallFunction(const std::u16string& request);
    void RaiseFlashCall(const std::u16string& request);
    HRESULT ActivateInPlace(HWND parent, LPCRECT position);
    void Deactivate();
    void Remember(const std::u16string& line);
    void Paint(HWND window);
    void AskAmbientProperties();
    void AskSiteServices();
    void ActivateUserInterface();
    void DeactivateUserInterface();
    void ReportKey(WPARAM key, const char* via);
    void ReportHostWindow();
    HRESULT PropertyAccess(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

    LONG refs_ = 1;
    EventConnectionPoint events_;
    IOleClientSite* site_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    HWND messageWindow_ = nullptr;  // receives the driver's posted calls
    HWND window_ = nullptr;         // the visible child window while active in place
    SIZEL extent_{2540, 2540};
    DriverLink link_;
    std::u16string movie_;
    std::string linkState_;
    std::deque<std::u16string> recent_;
    // The container's answers to the ambient properties, as JSON members, asked when the
    // site arrives and reported once the driver is connected.
    std::string ambient_;
    // WMode, Quality2, Scale as the host set them (JSON texts), and those three as JSON
    // members as they stood at the first LoadMovie (empty before it).
    std::string properties_[3];
    bool propertySet_[3] = {false, false, false};
    std::string propertiesAtFirstMovie_;
    // The in-place frame told of this object while it is active in the user interface.
    IOleInPlaceFrame* activeFrame_ = nullptr;
    // The text field keys are typed into, and how often the host offered a key.
    std::u16string field_;
    long translateCalls_ = 0;
};

}  // namespace pxflash
