// The control object: dispatch, events, in-place activation, painting, and the
// driver link's two directions (callFunction out, FlashCall in).
#include "flash_control.h"

#include <servprov.h>
#include <urlmon.h>

#include <cstdio>
#include <cwchar>

#include "json_lines.h"

namespace pxflash {

const CLSID CLSID_FlashStandin = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID DIID_FlashStandinEvents = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

const char kWindowClass[] = "PXFlashStandin";
// Lines kept for painting: enough to see the last exchange in a screenshot.
constexpr size_t kRecentLines = 12;

std::u16string FromBstr(BSTR text) {
    if (text == nullptr)
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

BSTR ToBstr(const std::u16string& text) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                             static_cast<UINT>(text.size()));
}

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* control = reinterpret_cast<FlashControl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (control != nullptr)
        return control->HandleMessage(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterWindowClass() {
    WNDCLASSA wc{};
    if (GetClassInfoA(gModule, kWindowClass, &wc))
        return true;
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = gModule;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.lpszClassName = kWindowClass;
    return RegisterClassA(&wc) != 0;
}

// A dispatch argument as text or number; DISPPARAMS holds them last argument first.
bool ArgumentText(DISPPARAMS* params, UINT index, std::u16string& out) {
    VARIANT value;
    VariantInit(&value);
    UINT slot = params->cArgs - 1 - index;
    if (FAILED(VariantChangeType(&value, &params->rgvarg[slot], 0, VT_BSTR)))
        return false;
    out = FromBstr(value.bstrVal);
    VariantClear(&value);
    return true;
}

bool ArgumentLong(DISPPARAMS* params, UINT index, long& out) {
    VARIANT value;
    VariantInit(&value);
    UINT slot = params->cArgs - 1 - index;
    if (FAILED(VariantChangeType(&value, &params->rgvarg[slot], 0, VT_I4)))
        return false;
    out = value.lVal;
    return true;
}

// The ambient properties a control reads from its container while it sets itself up.
struct AmbientProperty {
    const char* name;
    DISPID id;
};
constexpr AmbientProperty kAmbientProperties[] = {
    {"userMode", DISPID_AMBIENT_USERMODE},
    {"uiDead", DISPID_AMBIENT_UIDEAD},
    {"showHatching", DISPID_AMBIENT_SHOWHATCHING},
    {"showGrabHandles", DISPID_AMBIENT_SHOWGRABHANDLES},
    {"messageReflect", DISPID_AMBIENT_MESSAGEREFLECT},
    {"displayName", DISPID_AMBIENT_DISPLAYNAME},
    {"localeId", DISPID_AMBIENT_LOCALEID},
};

// The services a control asks its site for while it sets itself up: the bind host (through
// which it would load movies and data with the container's help) and the container's
// security manager (which would decide which addresses it may reach).
struct SiteService {
    const char* name;
    const GUID* service;
    const IID* iid;
};
const SiteService kSiteServices[] = {
    {"bindHost", &SID_SBindHost, &IID_IBindHost},
    {"securityManager", &SID_SInternetSecurityManager, &IID_IInternetSecurityManager},
};

// A QueryService answer as a JSON text: "given", "E_NOINTERFACE" or the code in hex.
std::string JsonOfServiceAnswer(HRESULT hr) {
    if (hr == S_OK)
        return "\"given\"";
    if (hr == E_NOINTERFACE)
        return "\"E_NOINTERFACE\"";
    char code[16];
    std::snprintf(code, sizeof code, "\"0x%08lX\"", static_cast<unsigned long>(hr));
    return code;
}

// The text properties, in the order of FlashControl::properties_.
struct TextProperty {
    const char* name;
    const wchar_t* wideName;
    DISPID id;
};
constexpr TextProperty kTextProperties[] = {
    {"WMode", L"WMode", kDispWMode},
    {"Quality2", L"Quality2", kDispQuality2},
    {"Scale", L"Scale", kDispScale},
};

// A VARIANT as a JSON value: booleans, whole numbers and texts; null for anything else.
std::string JsonOfVariant(const VARIANT& value) {
    switch (value.vt) {
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE ? "true" : "false";
        case VT_I2:
            return std::to_string(value.iVal);
        case VT_I4:
        case VT_INT:
            return std::to_string(value.lVal);
        case VT_UI4:
        case VT_UINT:
            return std::to_string(value.ulVal);
        case VT_BSTR:
            return JsonQuote(FromBstr(value.bstrVal));
        default:
            return "null";
    }
}

// The keys a text field takes for itself when the container offers them.
bool IsFieldKey(WPARAM key) {
    switch (key) {
        case VK_TAB:
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
        case VK_RETURN:
        case VK_BACK:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---- connection point --------------------------------------------------------------

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) EventConnectionPoint::AddRef() {
    return static_cast<IDispatch&>(owner_).AddRef();
}

STDMETHODIMP_(ULONG) EventConnectionPoint::Release() {
    return static_cast<IDispatch&>(owner_).Release();
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr)
        return E_POINTER;
    *iid = DIID_FlashStandinEvents;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = static_cast<IConnectionPointContainer*>(&owner_);
    (*out)->AddRef();
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr)
        return E_POINTER;
    IDispatch* dispatch = nullptr;
    if (FAILED(
            sink->QueryInterface(DIID_FlashStandinEvents, reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = nextCookie_++;
    sinks_.push_back({*cookie, dispatch});
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->cookie == cookie) {
            IDispatch* dispatch = it->dispatch;
            sinks_.erase(it);
            dispatch->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** out) {
    if (out != nullptr)
        *out = nullptr;
    return E_NOTIMPL;
}

void EventConnectionPoint::Fire(const std::u16string& request) {
    // A handler may unadvise or advise while it runs: call a held copy.
    std::vector<IDispatch*> targets;
    for (const Sink& sink : sinks_) {
        sink.dispatch->AddRef();
        targets.push_back(sink.dispatch);
    }
    for (IDispatch* target : targets) {
        VARIANT argument;
        VariantInit(&argument);
        argument.vt = VT_BSTR;
        argument.bstrVal = ToBstr(request);
        DISPPARAMS params{&argument, nullptr, 1, 0};
        target->Invoke(kDispFlashCall, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                       nullptr, nullptr, nullptr);
        VariantClear(&argument);
        target->Release();
    }
}

void EventConnectionPoint::UnadviseAll() {
    std::vector<Sink> sinks;
    sinks.swap(sinks_);
    for (Sink& sink : sinks)
        sink.dispatch->Release();
}

// ---- control -----------------------------------------------------------------------

FlashControl::FlashControl() : events_(*this) {
    InterlockedIncrement(&gObjectCount);
    if (RegisterWindowClass()) {
        messageWindow_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         gModule, this);
    }
    linkState_ = "driver: none";
}

FlashControl::~FlashControl() {
    Deactivate();
    link_.Close();
    events_.UnadviseAll();
    if (messageWindow_ != nullptr) {
        DriverLink::DiscardPosted(messageWindow_);
        DestroyWindow(messageWindow_);
    }
    if (site_ != nullptr)
        site_->Release();
    InterlockedDecrement(&gObjectCount);
}

STDMETHODIMP FlashControl::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
    } else if (IsEqualIID(riid, IID_IOleObject)) {
        *out = static_cast<IOleObject*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceObject) || IsEqualIID(riid, IID_IOleWindow)) {
        *out = static_cast<IOleInPlaceObject*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject)) {
        *out = static_cast<IOleInPlaceActiveObject*>(this);
    } else if (IsEqualIID(riid, IID_IOleControl)) {
        *out = static_cast<IOleControl*>(this);
    } else if (IsEqualIID(riid, IID_IPersistStreamInit) || IsEqualIID(riid, IID_IPersist)) {
        *out = static_cast<IPersistStreamInit*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *out = static_cast<IConnectionPointContainer*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FlashControl::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) FlashControl::Release() {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

// IDispatch

STDMETHODIMP FlashControl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP FlashControl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (names == nullptr || ids == nullptr)
        return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        if (i == 0 && _wcsicmp(names[i], L"LoadMovie") == 0) {
            ids[i] = kDispLoadMovie;
        } else if (i == 0 && _wcsicmp(names[i], L"CallFunction") == 0) {
            ids[i] = kDispCallFunction;
        } else if (i == 0 && _wcsicmp(names[i], kTextProperties[0].wideName) == 0) {
            ids[i] = kTextProperties[0].id;
        } else if (i == 0 && _wcsicmp(names[i], kTextProperties[1].wideName) == 0) {
            ids[i] = kTextProperties[1].id;
        } else if (i == 0 && _wcsicmp(names[i], kTextProperties[2].wideName) == 0) {
            ids[i] = kTextProperties[2].id;
        } else {
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

STDMETHODIMP FlashControl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO*, UINT* argError) {
    if (params == nullptr)
        return E_POINTER;
    if (id == kDispWMode || id == kDispQuality2 || id == kDispScale)
        return PropertyAccess(id, flags, params, result);
    if ((flags & DISPATCH_METHOD) == 0)
        return DISP_E_MEMBERNOTFOUND;
    if (result != nullptr)
        VariantInit(result);
    if (id == kDispLoadMovie) {
        if (params->cArgs != 2)
            return DISP_E_BADPARAMCOUNT;
        long layer = 0;
        std::u16string path;
        if (!ArgumentLong(params, 0, layer)) {
            if (argError != nullptr)
                *argError = 1;
            return DISP_E_TYPEMISMATCH;
        }
        if (!ArgumentText(params, 1, path)) {
            if (argError != nullptr)
                *argError = 0;
            return DISP_E_TYPEMISMATCH;
        }
        LoadMovie(layer, path);
        return S_OK;
    }
    if (id == kDispCallFunction) {
        if (params->cArgs != 1)
            return DISP_E_BADPARAMCOUNT;
        std::u16string request;
        if (!ArgumentText(params, 0, request)) {
            if (argError != nullptr)
                *argError = 0;
            return DISP_E_TYPEMISMATCH;
        }
        CallFunction(request);
        if (result != nullptr) {
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(L"");
        }
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT FlashControl::PropertyAccess(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    size_t slot = 0;
    while (kTextProperties[slot].id != id)
        ++slot;
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
        if (params->cArgs != 1)
            return DISP_E_BADPARAMCOUNT;
        std::u16string value;
        if (!ArgumentText(params, 0, value))
            return DISP_E_TYPEMISMATCH;
        properties_[slot] = JsonQuote(value);
        propertySet_[slot] = true;
        Remember(Widen(kTextProperties[slot].name) + u" = " + value);
        return S_OK;
    }
    if ((flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr)
        return DISP_E_MEMBERNOTFOUND;
    VariantInit(result);
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocString(L"");
    return S_OK;
}

void FlashControl::LoadMovie(long layer, const std::u16string& path) {
    movie_ = path;
    char address[128];
    DWORD length = GetEnvironmentVariableA("PX_MOVIE_DRIVER", address, sizeof(address));
    if (length > 0 && length < sizeof(address) && !link_.IsConnected()) {
        std::string error;
        if (link_.Connect(address, messageWindow_, error)) {
            linkState_ = std::string("driver: ") + address;
        } else {
            linkState_ = "driver: " + error;
        }
    }
    // The text properties as the host had set them when the first movie came.
    if (propertiesAtFirstMovie_.empty()) {
        for (size_t i = 0; i < 3; ++i) {
            propertiesAtFirstMovie_ += std::string(",\"") + kTextProperties[i].name +
                                       "\":" + (propertySet_[i] ? properties_[i] : "null");
        }
    }
    link_.SendLine(R"({"event":"loadMovie","layer":)" + std::to_string(layer) + R"(,"path":)" +
                   JsonQuote(path) + "}");
    Remember(u"LoadMovie " + path);
}

void FlashControl::CallFunction(const std::u16string& request) {
    link_.SendLine(R"({"event":"callFunction","request":)" + JsonQuote(request) + "}");
    Remember(u"CallFunction " + request);
}

void FlashControl::RaiseFlashCall(const std::u16string& request) {
    AddRef();  // a handler may release the host's last reference
    Remember(u"FlashCall " + request);
    events_.Fire(request);
    link_.SendLine(R"({"event":"returned"})");
    Release();
}

void FlashControl::Remember(const std::u16string& line) {
    recent_.push_back(line);
    while (recent_.size() > kRecentLines)
        recent_.pop_front();
    if (window_ != nullptr)
        InvalidateRect(window_, nullptr, TRUE);
}

// IOleObject

STDMETHODIMP FlashControl::SetClientSite(IOleClientSite* site) {
    if (site != nullptr)
        site->AddRef();
    if (site_ != nullptr)
        site_->Release();
    site_ = site;
    if (site_ != nullptr)
        AskAmbientProperties();
    return S_OK;
}

// As a real control does while it initialises: each answer (or null when the site has no
// answer) becomes a member of the "ambient" event.
void FlashControl::AskAmbientProperties() {
    ambient_.clear();
    IDispatch* ambient = nullptr;
    if (FAILED(site_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient))))
        ambient = nullptr;
    for (const AmbientProperty& property : kAmbientProperties) {
        std::string value = "null";
        if (ambient != nullptr) {
            VARIANT answer;
            VariantInit(&answer);
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            if (SUCCEEDED(ambient->Invoke(property.id, IID_NULL, LOCALE_USER_DEFAULT,
                                          DISPATCH_PROPERTYGET, &none, &answer, nullptr,
                                          nullptr))) {
                value = JsonOfVariant(answer);
            }
            VariantClear(&answer);
        }
        ambient_ += std::string(",\"") + property.name + "\":" + value;
    }
    if (ambient != nullptr)
        ambient->Release();
    AskSiteServices();
}

// The site's service provider and its answers for the services a real control asks for
// become members of the "ambient" event too (null when the site offers no provider).
void FlashControl::AskSiteServices() {
    IServiceProvider* provider = nullptr;
    if (FAILED(site_->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider))))
        provider = nullptr;
    ambient_ += std::string(",\"serviceProvider\":") + (provider != nullptr ? "true" : "false");
    for (const SiteService& wanted : kSiteServices) {
        std::string value = "null";
        if (provider != nullptr) {
            IUnknown* service = nullptr;
            HRESULT hr = provider->QueryService(*wanted.service, *wanted.iid,
                                                reinterpret_cast<void**>(&service));
            if (SUCCEEDED(hr) && service != nullptr)
                service->Release();
            value = JsonOfServiceAnswer(hr);
        }
        ambient_ += std::string(",\"") + wanted.name + "\":" + value;
    }
    if (provider != nullptr)
        provider->Release();
}

STDMETHODIMP FlashControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr)
        return E_POINTER;
    *site = site_;
    if (site_ != nullptr)
        site_->AddRef();
    return S_OK;
}

STDMETHODIMP FlashControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP FlashControl::Close(DWORD) {
    Deactivate();
    // The reader thread ends with the socket; a closed control talks to nobody.
    link_.Close();
    linkState_ = "driver: closed";
    if (messageWindow_ != nullptr)
        DriverLink::DiscardPosted(messageWindow_);
    return S_OK;
}

STDMETHODIMP FlashControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::GetMoniker(DWORD, DWORD, IMoniker** out) {
    if (out != nullptr)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::GetClipboardData(DWORD, IDataObject** out) {
    if (out != nullptr)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                  LPCRECT position) {
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE: {
            if (site != nullptr && site_ == nullptr)
                SetClientSite(site);
            const HRESULT hr = ActivateInPlace(parent, position);
            if (SUCCEEDED(hr) && verb == OLEIVERB_UIACTIVATE)
                ActivateUserInterface();
            return hr;
        }
        case OLEIVERB_HIDE:
            if (window_ != nullptr)
                ShowWindow(window_, SW_HIDE);
            return S_OK;
        default:
            return OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT FlashControl::ActivateInPlace(HWND parent, LPCRECT position) {
    if (window_ != nullptr) {
        ShowWindow(window_, SW_SHOW);
        return S_OK;
    }
    if (site_ == nullptr)
        return E_UNEXPECTED;
    IOleInPlaceSite* inPlace = nullptr;
    if (FAILED(site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)))) {
        return E_NOINTERFACE;
    }
    if (inPlace->CanInPlaceActivate() != S_OK) {
        inPlace->Release();
        return E_FAIL;
    }
    inPlace->OnInPlaceActivate();
    HWND host = nullptr;
    if (FAILED(inPlace->GetWindow(&host)) || host == nullptr)
        host = parent;
    RECT pos{0, 0, 100, 100};
    RECT clip{};
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    if (SUCCEEDED(inPlace->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo))) {
        if (frame != nullptr)
            frame->Release();
        if (document != nullptr)
            document->Release();
    }
    if (position != nullptr)
        pos = *position;
    window_ = CreateWindowExA(
        0, kWindowClass, "Flash stand-in", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos.left,
        pos.top, pos.right - pos.left, pos.bottom - pos.top, host, nullptr, gModule, this);
    if (window_ == nullptr) {
        inPlace->OnInPlaceDeactivate();
        inPlace->Release();
        return E_FAIL;
    }
    inPlaceSite_ = inPlace;
    return S_OK;
}

// Active in the user interface (on focus, as a real control): the container is told of
// the active object, through which it offers keys.
void FlashControl::ActivateUserInterface() {
    if (activeFrame_ != nullptr || inPlaceSite_ == nullptr)
        return;
    inPlaceSite_->OnUIActivate();
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT pos{};
    RECT clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    if (FAILED(inPlaceSite_->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo)))
        return;
    if (document != nullptr)
        document->Release();
    if (frame == nullptr)
        return;
    frame->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), L"Flash stand-in");
    activeFrame_ = frame;
}

void FlashControl::DeactivateUserInterface() {
    if (activeFrame_ == nullptr)
        return;
    activeFrame_->SetActiveObject(nullptr, nullptr);
    activeFrame_->Release();
    activeFrame_ = nullptr;
    if (inPlaceSite_ != nullptr)
        inPlaceSite_->OnUIDeactivate(FALSE);
}

void FlashControl::Deactivate() {
    DeactivateUserInterface();
    if (window_ != nullptr) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    if (inPlaceSite_ != nullptr) {
        inPlaceSite_->OnInPlaceDeactivate();
        inPlaceSite_->Release();
        inPlaceSite_ = nullptr;
    }
}

STDMETHODIMP FlashControl::EnumVerbs(IEnumOLEVERB** out) {
    if (out != nullptr)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::Update() {
    return S_OK;
}
STDMETHODIMP FlashControl::IsUpToDate() {
    return S_OK;
}

STDMETHODIMP FlashControl::GetUserClassID(CLSID* clsid) {
    return GetClassID(clsid);
}

STDMETHODIMP FlashControl::GetUserType(DWORD, LPOLESTR* out) {
    if (out != nullptr)
        *out = nullptr;
    return OLE_S_USEREG;
}

STDMETHODIMP FlashControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    extent_ = *size;
    return S_OK;
}

STDMETHODIMP FlashControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP FlashControl::Advise(IAdviseSink*, DWORD* cookie) {
    if (cookie != nullptr)
        *cookie = 0;
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::Unadvise(DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::EnumAdvise(IEnumSTATDATA** out) {
    if (out != nullptr)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::GetMiscStatus(DWORD, DWORD* status) {
    if (status == nullptr)
        return E_POINTER;
    *status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
              OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
    return S_OK;
}

STDMETHODIMP FlashControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

// IOleWindow, IOleInPlaceObject

STDMETHODIMP FlashControl::GetWindow(HWND* window) {
    if (window == nullptr)
        return E_POINTER;
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
}

STDMETHODIMP FlashControl::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::InPlaceDeactivate() {
    Deactivate();
    return S_OK;
}

STDMETHODIMP FlashControl::UIDeactivate() {
    DeactivateUserInterface();
    return S_OK;
}

STDMETHODIMP FlashControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (position == nullptr)
        return E_POINTER;
    if (window_ != nullptr) {
        MoveWindow(window_, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    }
    return S_OK;
}

STDMETHODIMP FlashControl::ReactivateAndUndo() {
    return E_NOTIMPL;
}

// IOleInPlaceActiveObject

STDMETHODIMP FlashControl::TranslateAccelerator(LPMSG msg) {
    ++translateCalls_;
    if (msg == nullptr || msg->message != WM_KEYDOWN || !IsFieldKey(msg->wParam))
        return S_FALSE;
    if (msg->wParam == VK_BACK && !field_.empty())
        field_.pop_back();
    ReportKey(msg->wParam, "accelerator");
    return S_OK;
}

STDMETHODIMP FlashControl::OnFrameWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP FlashControl::OnDocWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP FlashControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}
STDMETHODIMP FlashControl::EnableModeless(BOOL) {
    return S_OK;
}

// Asked from inside the host's process, where its window answers as it would the shell:
// whether dragging the minimised window shows the window's own icon.
void FlashControl::ReportHostWindow() {
    const HWND root = window_ != nullptr ? GetAncestor(window_, GA_ROOT) : nullptr;
    std::string dragIcon = "none";
    if (root != nullptr) {
        const LRESULT dragged = SendMessageA(root, WM_QUERYDRAGICON, 0, 0);
        const LRESULT own = SendMessageA(root, WM_GETICON, ICON_BIG, 0);
        dragIcon = dragged == 0 ? "none" : dragged == own ? "own" : "other";
    }
    link_.SendLine(R"({"event":"window","dragIcon":")" + dragIcon + "\"}");
}

void FlashControl::ReportKey(WPARAM key, const char* via) {
    link_.SendLine(R"({"event":"key","vk":)" + std::to_string(key) + R"(,"via":")" + via +
                   R"(","field":)" + JsonQuote(field_) + R"(,"translateCalls":)" +
                   std::to_string(translateCalls_) + "}");
    Remember(u"key " + Widen(std::to_string(key)) + u" (" + Widen(via) + u")");
}

// IOleControl

STDMETHODIMP FlashControl::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr)
        return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP FlashControl::OnMnemonic(MSG*) {
    return S_OK;
}
STDMETHODIMP FlashControl::OnAmbientPropertyChange(DISPID) {
    return S_OK;
}
STDMETHODIMP FlashControl::FreezeEvents(BOOL) {
    return S_OK;
}

// IPersistStreamInit

STDMETHODIMP FlashControl::GetClassID(CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = CLSID_FlashStandin;
    return S_OK;
}

STDMETHODIMP FlashControl::IsDirty() {
    return S_FALSE;
}
STDMETHODIMP FlashControl::Load(LPSTREAM) {
    return S_OK;
}
STDMETHODIMP FlashControl::Save(LPSTREAM, BOOL) {
    return S_OK;
}

STDMETHODIMP FlashControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr)
        return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}

STDMETHODIMP FlashControl::InitNew() {
    return S_OK;
}

// IConnectionPointContainer

STDMETHODIMP FlashControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
    if (out != nullptr)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashControl::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    // Hosts ask with the events' interface id or, binding late, with IDispatch.
    if (!IsEqualIID(riid, DIID_FlashStandinEvents) && !IsEqualIID(riid, IID_IDispatch)) {
        return CONNECT_E_NOCONNECTION;
    }
    *out = &events_;
    events_.AddRef();
    return S_OK;
}

// Window

LRESULT FlashControl::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PXFLASH_CALL: {
            auto* request = reinterpret_cast<std::u16string*>(lParam);
            std::u16string text = *request;
            delete request;
            RaiseFlashCall(text);
            return 0;
        }
        case WM_PXFLASH_REPORT:
            link_.SendLine(R"({"event":"ambient")" + ambient_ + "}");
            link_.SendLine(R"({"event":"properties")" +
                           (propertiesAtFirstMovie_.empty() ? std::string(R"(,"loaded":false)")
                                                            : propertiesAtFirstMovie_) +
                           "}");
            ReportHostWindow();
            return 0;
        case WM_PXFLASH_DRIVER_GONE:
            linkState_ = "driver: disconnected";
            if (window_ != nullptr)
                InvalidateRect(window_, nullptr, TRUE);
            return 0;
        case WM_PAINT:
            Paint(window);
            return 0;
        // The least a control with a text field asks of a dialog: its characters. Tab,
        // arrows, Enter and Backspace reach it only through TranslateAccelerator.
        case WM_GETDLGCODE:
            return window == window_ ? DLGC_WANTCHARS : 0;
        case WM_LBUTTONDOWN:
            if (window == window_)
                SetFocus(window);
            return 0;
        case WM_SETFOCUS:
            if (window == window_)
                ActivateUserInterface();
            return 0;
        case WM_KEYDOWN:
            if (window == window_)
                ReportKey(wParam, "window");
            return 0;
        case WM_CHAR:
            if (window == window_ && wParam >= 0x20) {
                field_.push_back(static_cast<char16_t>(wParam));
                link_.SendLine(R"({"event":"char","code":)" + std::to_string(wParam) +
                               R"(,"field":)" + JsonQuote(field_) + "}");
                Remember(u"field " + field_);
            }
            return 0;
        case WM_ERASEBKGND:
            return 1;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

void FlashControl::Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT area;
    GetClientRect(window, &area);
    HBRUSH background = CreateSolidBrush(RGB(24, 40, 64));
    FillRect(dc, &area, background);
    DeleteObject(background);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(240, 200, 80));
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    int lineHeight = metrics.tmHeight + 2;
    int y = 4;
    auto line = [&](const std::u16string& text) {
        RECT row{6, y, area.right - 6, y + lineHeight};
        DrawTextW(dc, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()), &row,
                  DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
        y += lineHeight;
    };
    line(u"Flash stand-in  movie: " + (movie_.empty() ? std::u16string(u"(none)") : movie_));
    line(Widen(linkState_));
    line(u"field: " + field_);
    SetTextColor(dc, RGB(220, 230, 240));
    for (const std::u16string& text : recent_)
        line(text);
    SelectObject(dc, oldFont);
    EndPaint(window, &ps);
}

}  // namespace pxflash
