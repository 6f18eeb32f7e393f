// The Flash control stand-in hosted the way the store hosts it: created through its
// class factory, placed in a window through a small OLE site, driven through its
// dispatch ids, with a JSON Lines driver on a local socket played by the test itself.
// Covers the wire lines byte for byte, FlashCall on the UI thread with re-entrant
// CallFunction before "returned", Unicode both ways, malformed driver lines, the
// driver going away, one connection per instance, and Close ending the link.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "movie_driver_link.h"

namespace {

const CLSID kFlashClsid = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kFlashEvents = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// The container side: a client site that lets the control activate in place in a
// window of the test.
class TestSite : public IOleClientSite, public IOleInPlaceSite {
public:
    explicit TestSite(HWND window) : window_(window) {}
    virtual ~TestSite() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
            *out = static_cast<IOleClientSite*>(this);
        } else if (IsEqualIID(riid, IID_IOleInPlaceSite) || IsEqualIID(riid, IID_IOleWindow)) {
            *out = static_cast<IOleInPlaceSite*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    // Lives on the test's stack, longer than any control.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    STDMETHODIMP GetWindow(HWND* window) override {
        *window = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override {
        ++activations;
        return S_OK;
    }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO) override {
        *frame = nullptr;
        *document = nullptr;
        *position = kPlace;
        *clip = kPlace;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override {
        ++deactivations;
        return S_OK;
    }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    static constexpr RECT kPlace{2, 0, 302, 200};
    int activations = 0;
    int deactivations = 0;

private:
    HWND window_;
};

// The store's event sink: records each FlashCall and the thread it came on.
class EventSink : public IDispatch {
public:
    virtual ~EventSink() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, kFlashEvents)) {
            *out = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        if (id != 197 || params->cArgs != 1 || params->rgvarg[0].vt != VT_BSTR) {
            return DISP_E_MEMBERNOTFOUND;
        }
        BSTR text = params->rgvarg[0].bstrVal;
        requests.emplace_back(text, SysStringLen(text));
        threads.push_back(GetCurrentThreadId());
        if (onCall)
            onCall(requests.back());
        return S_OK;
    }

    std::vector<std::wstring> requests;
    std::vector<DWORD> threads;
    std::function<void(const std::wstring&)> onCall;
};

HRESULT InvokeMethod(IDispatch* target, DISPID id, std::vector<VARIANT> args, VARIANT* result) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // last argument first
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                          nullptr, nullptr);
}

VARIANT Text(const std::wstring& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

VARIANT Number(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// One hosted control: created through the DLL's class factory, given the site, placed
// in the host window, its events advised to sink.
class HostedControl {
public:
    HostedControl(IClassFactory* factory, TestSite& site, EventSink& sink) {
        HRESULT hr =
            factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(&object_));
        if (FAILED(hr))
            return;
        object_->SetClientSite(&site);
        object_->SetHostNames(L"test", nullptr);
        SIZEL extent{7938, 5292};
        object_->SetExtent(DVASPECT_CONTENT, &extent);
        HWND host = nullptr;
        site.GetWindow(&host);
        activated_ = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, host, nullptr);
        object_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch_));
        IConnectionPointContainer* container = nullptr;
        object_->QueryInterface(IID_IConnectionPointContainer,
                                reinterpret_cast<void**>(&container));
        if (container != nullptr) {
            container->FindConnectionPoint(kFlashEvents, &point_);
            container->Release();
        }
        if (point_ != nullptr)
            advised_ = point_->Advise(&sink, &cookie_);
    }
    ~HostedControl() { Close(); }

    bool Ready() const {
        return object_ != nullptr && dispatch_ != nullptr && SUCCEEDED(activated_) &&
               SUCCEEDED(advised_);
    }
    IOleObject* Object() const { return object_; }

    HRESULT LoadMovie(long layer, const std::wstring& path) {
        VARIANT result;
        VariantInit(&result);
        std::vector<VARIANT> args{Number(layer), Text(path)};
        HRESULT hr = InvokeMethod(dispatch_, 142, args, &result);
        for (VARIANT& arg : args)
            VariantClear(&arg);
        VariantClear(&result);
        return hr;
    }

    // Returns the control's answer text, or "<failed>".
    std::wstring CallFunction(const std::wstring& request) {
        VARIANT result;
        VariantInit(&result);
        std::vector<VARIANT> args{Text(request)};
        HRESULT hr = InvokeMethod(dispatch_, 198, args, &result);
        VariantClear(&args[0]);
        std::wstring answer = L"<failed>";
        if (SUCCEEDED(hr) && result.vt == VT_BSTR) {
            answer.assign(result.bstrVal, SysStringLen(result.bstrVal));
        }
        VariantClear(&result);
        return answer;
    }

    void Close() {
        if (point_ != nullptr) {
            point_->Unadvise(cookie_);
            point_->Release();
            point_ = nullptr;
        }
        if (dispatch_ != nullptr) {
            dispatch_->Release();
            dispatch_ = nullptr;
        }
        if (object_ != nullptr) {
            object_->Close(OLECLOSE_NOSAVE);
            object_->SetClientSite(nullptr);
            object_->Release();
            object_ = nullptr;
        }
    }

private:
    IOleObject* object_ = nullptr;
    IDispatch* dispatch_ = nullptr;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    HRESULT activated_ = E_FAIL;
    HRESULT advised_ = E_FAIL;
};

class FlashControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        OleInitialize(nullptr);
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string dll(path);
        dll = dll.substr(0, dll.find_last_of('\\') + 1) + "flash_standin.dll";
        module_ = LoadLibraryA(dll.c_str());
        ASSERT_NE(module_, nullptr) << dll;
        auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_EQ(
            getClassObject(kFlashClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory_)),
            S_OK);
        host_ = CreateWindowExA(0, "STATIC", "flash host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(host_, nullptr);
        site_ = std::make_unique<TestSite>(host_);
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", driver_.Address().c_str());
    }

    void TearDown() override {
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", nullptr);
        if (host_ != nullptr)
            DestroyWindow(host_);
        if (factory_ != nullptr)
            factory_->Release();
        // The DLL stays loaded: COM may still hold it, as a real host's would.
        OleUninitialize();
    }

    std::unique_ptr<HostedControl> Create(EventSink& sink) {
        auto control = std::make_unique<HostedControl>(factory_, *site_, sink);
        EXPECT_TRUE(control->Ready());
        return control;
    }

    // A control that loaded a movie, and the driver's connection to it.
    std::unique_ptr<HostedControl> Connected(EventSink& sink,
                                             std::unique_ptr<MovieDriverConnection>& connection,
                                             const std::wstring& movie = L"C:\\x\\Aerin.swf") {
        auto control = Create(sink);
        EXPECT_EQ(control->LoadMovie(0, movie), S_OK);
        connection = driver_.Accept();
        EXPECT_NE(connection, nullptr);
        if (connection != nullptr) {
            std::string line = connection->ReadLine();
            EXPECT_NE(line.find("\"loadMovie\""), std::string::npos) << line;
        }
        return control;
    }

    HMODULE module_ = nullptr;
    IClassFactory* factory_ = nullptr;
    HWND host_ = nullptr;
    std::unique_ptr<TestSite> site_;
    MovieDriverListener driver_;
};

TEST_F(FlashControlTest, ActivatesInPlaceAsChildOfTheSiteWindow) {
    EventSink sink;
    auto control = Create(sink);
    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(control->Object()->QueryInterface(IID_IOleInPlaceObject,
                                                reinterpret_cast<void**>(&inPlace)),
              S_OK);
    HWND window = nullptr;
    ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
    EXPECT_EQ(GetParent(window), host_);
    EXPECT_TRUE((GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0);
    EXPECT_TRUE(IsWindowVisible(window));
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    RECT moved{10, 20, 110, 70};
    EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 100);
    EXPECT_EQ(client.bottom, 50);
    inPlace->Release();
    EXPECT_EQ(site_->activations, 1);

    IDispatch* dispatch = nullptr;
    control->Object()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    ASSERT_NE(dispatch, nullptr);
    const struct {
        const wchar_t* name;
        DISPID id;
    } kNames[] = {{L"LoadMovie", 142}, {L"CallFunction", 198}, {L"callfunction", 198}};
    for (const auto& entry : kNames) {
        LPOLESTR name = const_cast<LPOLESTR>(entry.name);
        DISPID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK) << entry.id;
        EXPECT_EQ(id, entry.id);
    }
    dispatch->Release();

    control->Close();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site_->deactivations, 1);
}

TEST_F(FlashControlTest, WorksWithoutADriver) {
    SetEnvironmentVariableA("PX_MOVIE_DRIVER", nullptr);
    EventSink sink;
    auto control = Create(sink);
    EXPECT_EQ(control->LoadMovie(0, L"C:\\x\\Aerin.swf"), S_OK);
    EXPECT_EQ(control->CallFunction(L"<invoke name=\"Push\"/>"), L"");
    EXPECT_TRUE(driver_.NothingPending(200));
}

TEST_F(FlashControlTest, DriverCallRaisesFlashCallOnTheUiThreadBeforeReturned) {
    EventSink sink;
    std::unique_ptr<MovieDriverConnection> connection;
    auto control = Create(sink);
    ASSERT_EQ(control->LoadMovie(0, L"C:\\Program Files\\Store\\Aerin.swf"), S_OK);
    connection = driver_.Accept();
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->ReadLine(),
              R"({"event":"loadMovie","layer":0,"path":"C:\\Program Files\\Store\\Aerin.swf"})");

    // The handler answers from inside the event, as the store's SetReturnValue does.
    HostedControl* raw = control.get();
    sink.onCall = [raw](const std::wstring&) {
        EXPECT_EQ(raw->CallFunction(L"<invoke name=\"SetReturnValue\">\u00e9\U0001F600</invoke>"),
                  L"");
        raw->CallFunction(L"line\nbreak \"quoted\" back\\slash");
    };
    connection->Send(R"({"call":"<invoke name=\"Init\">\u00e9\ud83d\ude00 \u20ac</invoke>"})");
    EXPECT_EQ(connection->ReadLine(),
              "{\"event\":\"callFunction\",\"request\":\"<invoke name=\\\"SetReturnValue\\\">"
              "\xC3\xA9\xF0\x9F\x98\x80</invoke>\"}");
    EXPECT_EQ(connection->ReadLine(),
              R"({"event":"callFunction","request":"line\nbreak \"quoted\" back\\slash"})");
    EXPECT_EQ(connection->ReadLine(), R"({"event":"returned"})");
    ASSERT_EQ(sink.requests.size(), 1u);
    EXPECT_EQ(sink.requests[0], L"<invoke name=\"Init\">\u00e9\U0001F600 \u20ac</invoke>");
    EXPECT_EQ(sink.threads[0], GetCurrentThreadId());

    // UTF-8 bytes on the wire work as well as escapes; a call out of any event is
    // announced on its own.
    connection->Send("{\"call\":\"caf\xC3\xA9\"}");
    EXPECT_EQ(connection->ReadLine().substr(0, 24), R"({"event":"callFunction",)");
    EXPECT_EQ(connection->ReadLine().substr(0, 24), R"({"event":"callFunction",)");
    EXPECT_EQ(connection->ReadLine(), R"({"event":"returned"})");
    ASSERT_EQ(sink.requests.size(), 2u);
    EXPECT_EQ(sink.requests[1], L"caf\u00e9");
}

TEST_F(FlashControlTest, MalformedDriverLinesAreAnsweredWithErrorsAndIgnored) {
    EventSink sink;
    std::unique_ptr<MovieDriverConnection> connection;
    auto control = Connected(sink, connection);
    ASSERT_NE(connection, nullptr);
    const char* const kBadLines[] = {
        "not json",
        R"({"call":5})",
        R"({"call":"unterminated)",
        R"({"other":"x"})",
        R"({"call":"x"} trailing)",
        R"({"call":"bad \q escape"})",
        "{\"call\":\"\xC3\"}",  // cut UTF-8
        R"(["call","x"])",
    };
    const std::string errorStart = R"({"event":"error","message":")";
    for (const char* line : kBadLines) {
        connection->Send(line);
        std::string answer = connection->ReadLine();
        EXPECT_EQ(answer.substr(0, errorStart.size()), errorStart) << line;
        EXPECT_GT(answer.size(), errorStart.size() + 2) << line;  // a reason is given
        EXPECT_EQ(answer.substr(answer.size() - 2), "\"}") << line;
    }
    connection->Send("");  // blank lines are no calls and no errors
    connection->Send(R"({"call":"ok"})");
    EXPECT_EQ(connection->ReadLine(), R"({"event":"returned"})");
    EXPECT_EQ(sink.requests, std::vector<std::wstring>{L"ok"});
}

TEST_F(FlashControlTest, KeepsWorkingWhenTheDriverGoes) {
    EventSink sink;
    std::unique_ptr<MovieDriverConnection> connection;
    auto control = Connected(sink, connection);
    ASSERT_NE(connection, nullptr);
    connection->Close();
    // Give the reader time to see the end, then use the control as the store would.
    for (int i = 0; i < 20; ++i) {
        PumpThreadMessages();
        Sleep(10);
    }
    EXPECT_EQ(control->CallFunction(L"<invoke name=\"Push\"/>"), L"");
    EXPECT_EQ(control->LoadMovie(0, L"C:\\x\\Other.swf"), S_OK);
    EXPECT_TRUE(sink.requests.empty());
    control->Close();
}

TEST_F(FlashControlTest, EachInstanceHasItsOwnConnection) {
    EventSink mainSink;
    EventSink shelfSink;
    std::unique_ptr<MovieDriverConnection> mainLink;
    std::unique_ptr<MovieDriverConnection> shelfLink;
    auto main = Create(mainSink);
    auto shelf = Create(shelfSink);
    ASSERT_EQ(main->LoadMovie(0, L"C:\\x\\Aerin.swf"), S_OK);
    mainLink = driver_.Accept();
    ASSERT_EQ(shelf->LoadMovie(0, L"C:\\x\\CameraShelf.swf"), S_OK);
    shelfLink = driver_.Accept();
    ASSERT_NE(mainLink, nullptr);
    ASSERT_NE(shelfLink, nullptr);
    EXPECT_EQ(mainLink->ReadLine(), R"({"event":"loadMovie","layer":0,"path":"C:\\x\\Aerin.swf"})");
    EXPECT_EQ(shelfLink->ReadLine(),
              R"({"event":"loadMovie","layer":0,"path":"C:\\x\\CameraShelf.swf"})");

    shelfLink->Send(R"({"call":"shelf"})");
    EXPECT_EQ(shelfLink->ReadLine(), R"({"event":"returned"})");
    EXPECT_TRUE(mainSink.requests.empty());
    EXPECT_EQ(shelfSink.requests, std::vector<std::wstring>{L"shelf"});
    main->CallFunction(L"to main");
    EXPECT_EQ(mainLink->ReadLine(), R"({"event":"callFunction","request":"to main"})");
    // A second movie on the same instance reuses its connection.
    ASSERT_EQ(main->LoadMovie(1, L"C:\\x\\Two.swf"), S_OK);
    EXPECT_EQ(mainLink->ReadLine(), R"({"event":"loadMovie","layer":1,"path":"C:\\x\\Two.swf"})");
    EXPECT_TRUE(driver_.NothingPending(100));
}

TEST_F(FlashControlTest, CloseEndsTheConnection) {
    EventSink sink;
    std::unique_ptr<MovieDriverConnection> connection;
    auto control = Connected(sink, connection);
    ASSERT_NE(connection, nullptr);
    // A call still queued when the control closes is dropped, not raised (no messages
    // are handled between the send and the close).
    connection->Send(R"({"call":"late"})");
    Sleep(100);
    control->Close();
    EXPECT_EQ(connection->ReadLine(), "<closed>");
    PumpThreadMessages();
    EXPECT_TRUE(sink.requests.empty());
}

}  // namespace
