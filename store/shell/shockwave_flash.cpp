// Hosting of the Shockwave Flash control without a dialog framework. The container is as
// small as the control allows: one object that is the client site, the in-place site and
// the in-place frame (the control asks for all three while it activates itself), and a
// dispatch-only sink for its events. Both are reference counted like any COM object,
// because the control may hold on to them a little longer than we do.
#include "store/shell/shockwave_flash.h"

#include <cstdio>
#include <new>
#include <olectl.h>
#include <servprov.h>
#include <utility>

#include "text/multibyte.h"

const CLSID kShockwaveFlashClassId = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kShockwaveFlashEventsId = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

constexpr DISPID kLoadMovieId = 142;
// Text properties of the control's type library, set once before the first movie.
constexpr DISPID kWModeId = 133;
constexpr DISPID kScaleId = 137;
constexpr DISPID kQuality2Id = 141;
constexpr DISPID kFlashCallId = 197;
constexpr DISPID kCallFunctionId = 198;

LONG gContainerObjects = 0;

std::string ErrorText(const char* what, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof(text), "%s: error 0x%08lX", what, static_cast<unsigned long>(hr));
    return text;
}

std::string CreationFailure(HRESULT hr) {
    switch (hr) {
        case REGDB_E_CLASSNOTREG:
            return ErrorText("control not installed: class not registered", hr);
        case E_NOINTERFACE:
            return ErrorText("control not usable: not an OLE object", hr);
        case CO_E_NOTINITIALIZED:
            return ErrorText("control not created: OLE not initialised on this thread", hr);
        default:
            return ErrorText("control not created", hr);
    }
}

void SetReason(std::string* reason, std::string text) {
    if (reason != nullptr) {
        *reason = std::move(text);
    }
}

// The control measures itself in HIMETRIC (hundredths of a millimetre).
SIZEL PixelsToHimetric(const RECT& rect) {
    HDC screen = GetDC(nullptr);
    int dpiX = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    int dpiY = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    SIZEL extent;
    extent.cx = MulDiv(rect.right - rect.left, 2540, dpiX > 0 ? dpiX : 96);
    extent.cy = MulDiv(rect.bottom - rect.top, 2540, dpiY > 0 ? dpiY : 96);
    return extent;
}

// A BSTR owned for the length of one call.
class OwnedBstr {
public:
    explicit OwnedBstr(const std::string& text) {
        std::wstring wide = AnsiToWide(text);
        m_text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    ~OwnedBstr() { SysFreeString(m_text); }
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    BSTR Get() const { return m_text; }

private:
    BSTR m_text = nullptr;
};

std::string BstrToAnsi(BSTR text) {
    return text == nullptr ? std::string()
                           : WideToAnsi(std::wstring_view(text, SysStringLen(text)));
}

// Calls a method by dispatch id. `args` are in reverse order, as DISPPARAMS wants them.
HRESULT InvokeMethod(IDispatch* target, DISPID id, VARIANT* args, UINT count, VARIANT* result) {
    DISPPARAMS params{args, nullptr, count, 0};
    EXCEPINFO exception{};
    UINT badArgument = 0;
    HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                                &exception, &badArgument);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return hr;
}

// Sets a text property by dispatch id.
HRESULT PutTextProperty(IDispatch* target, DISPID id, const wchar_t* value) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(value);
    if (argument.bstrVal == nullptr) {
        return E_OUTOFMEMORY;
    }
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    EXCEPINFO exception{};
    UINT badArgument = 0;
    HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                                nullptr, &exception, &badArgument);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&argument);
    return hr;
}

VARIANT BoolVariant(bool value) {
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_BOOL;
    result.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

}  // namespace

// The control's place in its parent window. It is its own in-place frame too: the store
// has no menus, toolbars or status bar to negotiate, so the frame's part is to say no. Its
// dispatch interface answers the ambient properties the control reads, and it is the
// service provider a control asks for its container's services.
class FlashSite final : public IOleClientSite,
                        public IOleInPlaceSite,
                        public IOleInPlaceFrame,
                        public IDispatch,
                        public IServiceProvider {
public:
    FlashSite(HWND parent, const RECT& rect) : m_parent(parent), m_rect(rect) {
        InterlockedIncrement(&gContainerObjects);
    }
    ~FlashSite() {
        DropActiveObject();
        InterlockedDecrement(&gContainerObjects);
    }

    void SetRect(const RECT& rect) { m_rect = rect; }

    // The object the control named while active in the user interface (null otherwise);
    // it gets the keys aimed at the control's window before the dialog manager.
    IOleInPlaceActiveObject* ActiveObject() const { return m_activeObject; }
    void DropActiveObject() {
        if (m_activeObject != nullptr) {
            m_activeObject->Release();
            m_activeObject = nullptr;
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
            *out = static_cast<IOleClientSite*>(this);
        } else if (IsEqualIID(riid, IID_IOleInPlaceSite) || IsEqualIID(riid, IID_IOleWindow)) {
            *out = static_cast<IOleInPlaceSite*>(this);
        } else if (IsEqualIID(riid, IID_IOleInPlaceFrame) ||
                   IsEqualIID(riid, IID_IOleInPlaceUIWindow)) {
            *out = static_cast<IOleInPlaceFrame*>(this);
        } else if (IsEqualIID(riid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
        } else if (IsEqualIID(riid, IID_IServiceProvider)) {
            *out = static_cast<IServiceProvider*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&m_refs));
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
        if (out != nullptr) {
            *out = nullptr;
        }
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** out) override {
        if (out != nullptr) {
            *out = nullptr;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, shared by the in-place site and the frame.
    STDMETHODIMP GetWindow(HWND* window) override {
        if (window == nullptr) {
            return E_POINTER;
        }
        *window = m_parent;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO frameInfo) override {
        if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr) {
            return E_POINTER;
        }
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        *position = m_rect;
        *clip = m_rect;
        if (frameInfo != nullptr) {
            frameInfo->fMDIApp = FALSE;
            frameInfo->hwndFrame = GetAncestor(m_parent, GA_ROOT);
            frameInfo->haccel = nullptr;
            frameInfo->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    // The window decides the control's place; a wish of the control's own is not granted.
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        if (object != nullptr) {
            object->AddRef();
        }
        DropActiveObject();
        m_activeObject = object;
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: the ambient properties. The store runs the control for its user (never
    // in a design mode), shows no hatching or handles, reflects no messages.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) {
            *info = nullptr;
        }
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        if ((flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) {
            return DISP_E_MEMBERNOTFOUND;
        }
        VariantInit(result);
        switch (id) {
            case DISPID_AMBIENT_USERMODE:
            case DISPID_AMBIENT_AUTOCLIP:
                *result = BoolVariant(true);
                return S_OK;
            case DISPID_AMBIENT_UIDEAD:
            case DISPID_AMBIENT_SHOWHATCHING:
            case DISPID_AMBIENT_SHOWGRABHANDLES:
            case DISPID_AMBIENT_MESSAGEREFLECT:
            case DISPID_AMBIENT_SUPPORTSMNEMONICS:
                *result = BoolVariant(false);
                return S_OK;
            case DISPID_AMBIENT_DISPLAYNAME:
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(L"PXStore");
                return result->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
            case DISPID_AMBIENT_LOCALEID:
                result->vt = VT_I4;
                result->lVal = static_cast<LONG>(GetUserDefaultLCID());
                return S_OK;
            default:
                // Colours, font, palette and the rest: the control's own defaults.
                return DISP_E_MEMBERNOTFOUND;
        }
    }

    // IServiceProvider. The store has no bind host, security manager or document to lend:
    // a control told so uses its own, which is what a control outside a browser expects.
    STDMETHODIMP QueryService(REFGUID, REFIID, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

private:
    LONG m_refs = 1;
    HWND m_parent;
    RECT m_rect;
    IOleInPlaceActiveObject* m_activeObject = nullptr;
};

// Receives the control's events and passes FlashCall on to the owner's handler. The owner
// detaches itself when it goes, so an event the control still raises afterwards is lost
// instead of reaching a dead object.
class FlashEventSink final : public IDispatch {
public:
    explicit FlashEventSink(CShockwaveflash1* owner) : m_owner(owner) {
        InterlockedIncrement(&gContainerObjects);
    }
    ~FlashEventSink() { InterlockedDecrement(&gContainerObjects); }

    void Detach() { m_owner = nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, kShockwaveFlashEventsId)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&m_refs));
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        if (id != kFlashCallId) {
            return S_OK;  // progress, ready state and the like mean nothing to the store
        }
        if (params == nullptr || params->cArgs < 1 || params->rgvarg == nullptr) {
            return DISP_E_BADPARAMCOUNT;
        }
        // The request is the first (so the last stored) argument; a control may pass it by
        // reference, which the conversion undoes.
        VARIANT text;
        VariantInit(&text);
        if (FAILED(VariantChangeType(&text, &params->rgvarg[params->cArgs - 1], 0, VT_BSTR))) {
            return DISP_E_TYPEMISMATCH;
        }
        HRESULT hr = S_OK;
        // The handler may destroy the control, and with it our last outside reference.
        AddRef();
        try {
            std::string request = BstrToAnsi(text.bstrVal);
            if (m_owner != nullptr) {
                m_owner->FireFlashCall(request);
            }
        } catch (...) {
            // Nothing may unwind through the control's frames.
            hr = DISP_E_EXCEPTION;
        }
        Release();
        VariantClear(&text);
        return hr;
    }

private:
    LONG m_refs = 1;
    CShockwaveflash1* m_owner;
};

CShockwaveflash1::~CShockwaveflash1() {
    Destroy();
}

bool CShockwaveflash1::Create(HWND parent, int controlId, const RECT& rect, std::string* reason) {
    return CreateOfClass(kShockwaveFlashClassId, parent, controlId, rect, reason);
}

bool CShockwaveflash1::CreateOfClass(const CLSID& classId, HWND parent, int controlId,
                                     const RECT& rect, std::string* reason) {
    Destroy();
    IOleObject* object = nullptr;
    HRESULT hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                  reinterpret_cast<void**>(&object));
    if (FAILED(hr) || object == nullptr) {
        m_failureCode = FAILED(hr) ? hr : E_FAIL;
        SetReason(reason, CreationFailure(m_failureCode));
        return false;
    }
    return Host(object, parent, controlId, rect, reason);
}

bool CShockwaveflash1::CreateFromFactory(IClassFactory* factory, HWND parent, int controlId,
                                         const RECT& rect, std::string* reason) {
    Destroy();
    if (factory == nullptr) {
        m_failureCode = REGDB_E_CLASSNOTREG;
        SetReason(reason, "control not installed: no class factory");
        return false;
    }
    IOleObject* object = nullptr;
    HRESULT hr =
        factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(&object));
    if (FAILED(hr) || object == nullptr) {
        m_failureCode = FAILED(hr) ? hr : E_FAIL;
        SetReason(reason, CreationFailure(m_failureCode));
        return false;
    }
    return Host(object, parent, controlId, rect, reason);
}

bool CShockwaveflash1::Host(IOleObject* object, HWND parent, int controlId, const RECT& rect,
                            std::string* reason) {
    // Steps below that fail without an HRESULT of their own leave this.
    m_failureCode = E_FAIL;
    m_object = object;
    m_site = new (std::nothrow) FlashSite(parent, rect);
    if (m_site == nullptr) {
        SetReason(reason, "control not hosted: out of memory");
        Destroy();
        return false;
    }
    // The site comes before the state: the control reads ambient state from it while it
    // initialises itself.
    HRESULT hr = m_object->SetClientSite(static_cast<IOleClientSite*>(m_site));
    if (FAILED(hr)) {
        m_failureCode = hr;
        SetReason(reason, ErrorText("control refused its site", hr));
        Destroy();
        return false;
    }
    // A fresh state; the properties the store's windows want are set below.
    IPersistStreamInit* persist = nullptr;
    if (SUCCEEDED(
            m_object->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist))) &&
        persist != nullptr) {
        persist->InitNew();
        persist->Release();
    }
    m_object->SetHostNames(L"PXStore", nullptr);
    SIZEL extent = PixelsToHimetric(rect);
    m_object->SetExtent(DVASPECT_CONTENT, &extent);

    RECT place = rect;
    hr = m_object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(m_site),
                          0, parent, &place);
    if (FAILED(hr)) {
        m_failureCode = hr;
        SetReason(reason, ErrorText("control not activated", hr));
        Destroy();
        return false;
    }
    if (FAILED(m_object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_dispatch))) ||
        m_dispatch == nullptr) {
        m_dispatch = nullptr;
        SetReason(reason, "control not usable: no dispatch interface");
        Destroy();
        return false;
    }
    if (FAILED(m_object->QueryInterface(IID_IOleInPlaceObject,
                                        reinterpret_cast<void**>(&m_inPlace)))) {
        m_inPlace = nullptr;  // a control without it cannot be moved, but works
    }
    // Before any movie: a window of its own, full quality, the whole movie shown. A
    // control that refuses one keeps its default, which is the same.
    const struct {
        DISPID id;
        const wchar_t* value;
    } properties[] = {{kWModeId, L"Window"}, {kQuality2Id, L"High"}, {kScaleId, L"ShowAll"}};
    for (const auto& property : properties) {
        PutTextProperty(m_dispatch, property.id, property.value);
    }
    // The window's code finds its controls by id, as it would those of a dialog template.
    if (HWND window = GetControlWindow()) {
        SetWindowLongPtrA(window, GWLP_ID, static_cast<LONG_PTR>(controlId));
    }
    if (!Advise(reason)) {
        Destroy();
        return false;
    }
    m_failureCode = S_OK;
    return true;
}

bool CShockwaveflash1::Advise(std::string* reason) {
    IConnectionPointContainer* container = nullptr;
    if (FAILED(m_object->QueryInterface(IID_IConnectionPointContainer,
                                        reinterpret_cast<void**>(&container))) ||
        container == nullptr) {
        SetReason(reason, "control not usable: it raises no events");
        return false;
    }
    // Some builds of the control only know their events by the plain dispatch id.
    HRESULT hr = container->FindConnectionPoint(kShockwaveFlashEventsId, &m_eventPoint);
    if (FAILED(hr) || m_eventPoint == nullptr) {
        m_eventPoint = nullptr;
        hr = container->FindConnectionPoint(IID_IDispatch, &m_eventPoint);
    }
    container->Release();
    if (FAILED(hr) || m_eventPoint == nullptr) {
        m_eventPoint = nullptr;
        SetReason(reason, ErrorText("control not usable: no FlashCall event", hr));
        return false;
    }
    m_sink = new (std::nothrow) FlashEventSink(this);
    if (m_sink == nullptr) {
        SetReason(reason, "control not hosted: out of memory");
        return false;
    }
    hr = m_eventPoint->Advise(static_cast<IDispatch*>(m_sink), &m_eventCookie);
    if (FAILED(hr)) {
        m_eventCookie = 0;
        SetReason(reason, ErrorText("control not usable: FlashCall event refused", hr));
        return false;
    }
    return true;
}

HWND CShockwaveflash1::GetControlWindow() const {
    HWND window = nullptr;
    if (m_inPlace == nullptr || FAILED(m_inPlace->GetWindow(&window))) {
        return nullptr;
    }
    return window;
}

bool CShockwaveflash1::TranslateControlKey(MSG* msg) {
    if (m_site == nullptr || msg == nullptr) {
        return false;
    }
    IOleInPlaceActiveObject* active = m_site->ActiveObject();
    if (active == nullptr) {
        return false;
    }
    // The call may end the control's user-interface activation, which releases the site's
    // reference.
    active->AddRef();
    const HRESULT hr = active->TranslateAccelerator(msg);
    active->Release();
    return hr == S_OK;
}

bool CShockwaveflash1::Resize(const RECT& rect) {
    if (m_object == nullptr) {
        return false;
    }
    m_site->SetRect(rect);
    if (m_inPlace != nullptr) {
        return SUCCEEDED(m_inPlace->SetObjectRects(&rect, &rect));
    }
    SIZEL extent = PixelsToHimetric(rect);
    return SUCCEEDED(m_object->SetExtent(DVASPECT_CONTENT, &extent));
}

void CShockwaveflash1::Destroy() {
    if (m_eventPoint != nullptr) {
        if (m_eventCookie != 0) {
            m_eventPoint->Unadvise(m_eventCookie);
            m_eventCookie = 0;
        }
        m_eventPoint->Release();
        m_eventPoint = nullptr;
    }
    if (m_sink != nullptr) {
        m_sink->Detach();
        m_sink->Release();
        m_sink = nullptr;
    }
    if (m_inPlace != nullptr) {
        m_inPlace->Release();
        m_inPlace = nullptr;
    }
    if (m_dispatch != nullptr) {
        m_dispatch->Release();
        m_dispatch = nullptr;
    }
    if (m_object != nullptr) {
        // Closing deactivates the control and destroys its window; the site goes last so
        // that the control can still report its deactivation.
        IOleObject* object = m_object;
        m_object = nullptr;
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        object->Release();
    }
    if (m_site != nullptr) {
        m_site->DropActiveObject();
        m_site->Release();
        m_site = nullptr;
    }
}

bool CShockwaveflash1::LoadMovie(int layer, const std::string& path) {
    if (m_dispatch == nullptr) {
        return false;
    }
    try {
        OwnedBstr movie(path);
        if (movie.Get() == nullptr) {
            return false;
        }
        VARIANT args[2];  // reversed: the path, then the layer
        VariantInit(&args[0]);
        args[0].vt = VT_BSTR;
        args[0].bstrVal = movie.Get();
        VariantInit(&args[1]);
        args[1].vt = VT_I4;
        args[1].lVal = layer;
        VARIANT result;
        VariantInit(&result);
        // The handlers of events raised during the call may destroy this control.
        IDispatch* dispatch = m_dispatch;
        dispatch->AddRef();
        HRESULT hr = InvokeMethod(dispatch, kLoadMovieId, args, 2, &result);
        dispatch->Release();
        VariantClear(&result);
        return SUCCEEDED(hr);
    } catch (...) {
        return false;
    }
}

bool CShockwaveflash1::CallFunction(const std::string& request, std::string* response) {
    if (m_dispatch == nullptr) {
        return false;
    }
    try {
        OwnedBstr text(request);
        if (text.Get() == nullptr) {
            return false;
        }
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_BSTR;
        arg.bstrVal = text.Get();
        VARIANT result;
        VariantInit(&result);
        IDispatch* dispatch = m_dispatch;
        dispatch->AddRef();
        HRESULT hr = InvokeMethod(dispatch, kCallFunctionId, &arg, 1, &result);
        dispatch->Release();
        if (SUCCEEDED(hr) && response != nullptr) {
            VARIANT answer;
            VariantInit(&answer);
            if (result.vt != VT_EMPTY &&
                SUCCEEDED(VariantChangeType(&answer, &result, 0, VT_BSTR))) {
                *response = BstrToAnsi(answer.bstrVal);
            } else {
                response->clear();
            }
            VariantClear(&answer);
        }
        VariantClear(&result);
        return SUCCEEDED(hr);
    } catch (...) {
        return false;
    }
}

long CShockwaveflash1::ContainerObjectsAlive() {
    return InterlockedCompareExchange(&gContainerObjects, 0, 0);
}
