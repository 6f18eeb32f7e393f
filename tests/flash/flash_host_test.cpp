// CShockwaveflash1 hosting the Flash control stand-in in a real top-level window: the
// control is made from the stand-in DLL's class factory (no registration needed), and the
// test plays the stand-in's movie driver on a local socket. Covers placement and the
// control id, LoadMovie and FlashCall with ANSI text crossing as Unicode, a re-entrant
// CallFunction from the handler, the properties, ambient answers and keys a framework
// container gives a control, creation failures with their reasons (a control that refuses
// in-place activation included), and Destroy releasing everything (twice, and with calls
// afterwards).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "movie_driver_link.h"
#include "store/shell/shockwave_flash.h"

namespace {

constexpr int kControlId = 1000;

using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadFunction = HRESULT(WINAPI*)();

class FlashHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        char path[MAX_PATH];
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string dll(path);
        dll = dll.substr(0, dll.find_last_of('\\') + 1) + "flash_standin.dll";
        m_module = LoadLibraryA(dll.c_str());
        ASSERT_NE(m_module, nullptr) << dll;
        auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "DllGetClassObject")));
        m_canUnload = reinterpret_cast<CanUnloadFunction>(
            reinterpret_cast<void*>(GetProcAddress(m_module, "DllCanUnloadNow")));
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_NE(m_canUnload, nullptr);
        ASSERT_EQ(getClassObject(kShockwaveFlashClassId, IID_IClassFactory,
                                 reinterpret_cast<void**>(&m_factory)),
                  S_OK);
        m_window = CreateWindowExA(0, "STATIC", "Vellamar", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                   400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(m_window, nullptr);
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", m_driver.Address().c_str());
    }

    void TearDown() override {
        SetEnvironmentVariableA("PX_MOVIE_DRIVER", nullptr);
        if (m_window != nullptr)
            DestroyWindow(m_window);
        if (m_factory != nullptr)
            m_factory->Release();
        // The DLL stays loaded, as COM would keep it.
        OleUninitialize();
    }

    bool Create(CShockwaveflash1& control, std::string* reason = nullptr) {
        return control.CreateFromFactory(m_factory, m_window, kControlId, kPlace, reason);
    }

    static constexpr RECT kPlace{2, 0, 302, 200};
    HMODULE m_module = nullptr;
    CanUnloadFunction m_canUnload = nullptr;
    IClassFactory* m_factory = nullptr;
    HWND m_window = nullptr;
    MovieDriverLink m_driver;
};

// The stand-in's object behind a wrapper that refuses in-place activation, the way a
// control that cannot make its window answers DoVerb. Everything else goes to the stand-in,
// so what the host releases on the way out can be counted there.
class RefusesActivation : public IOleObject {
public:
    explicit RefusesActivation(IOleObject* inner) : m_inner(inner) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IOleObject) {
            *out = static_cast<IOleObject*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --m_references;
        if (left == 0) {
            m_inner->Release();
            delete this;
        }
        return left;
    }
    STDMETHODIMP DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override {
        return E_UNEXPECTED;
    }
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        return m_inner->SetClientSite(site);
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        return m_inner->GetClientSite(site);
    }
    STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR object) override {
        return m_inner->SetHostNames(app, object);
    }
    STDMETHODIMP Close(DWORD option) override { return m_inner->Close(option); }
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override {
        return m_inner->SetMoniker(which, moniker);
    }
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override {
        return m_inner->GetMoniker(assign, which, moniker);
    }
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override {
        return m_inner->InitFromData(data, creation, reserved);
    }
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override {
        return m_inner->GetClipboardData(reserved, data);
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override { return m_inner->EnumVerbs(verbs); }
    STDMETHODIMP Update() override { return m_inner->Update(); }
    STDMETHODIMP IsUpToDate() override { return m_inner->IsUpToDate(); }
    STDMETHODIMP GetUserClassID(CLSID* id) override { return m_inner->GetUserClassID(id); }
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override {
        return m_inner->GetUserType(form, type);
    }
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override {
        return m_inner->SetExtent(aspect, size);
    }
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override {
        return m_inner->GetExtent(aspect, size);
    }
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override {
        return m_inner->Advise(sink, connection);
    }
    STDMETHODIMP Unadvise(DWORD connection) override { return m_inner->Unadvise(connection); }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override {
        return m_inner->EnumAdvise(advises);
    }
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override {
        return m_inner->GetMiscStatus(aspect, status);
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override {
        return m_inner->SetColorScheme(palette);
    }

private:
    virtual ~RefusesActivation() = default;
    IOleObject* m_inner;
    ULONG m_references = 1;
};

// Hands out RefusesActivation wrappers around the stand-in's objects.
class RefusingFactory : public IClassFactory {
public:
    explicit RefusingFactory(IClassFactory* inner) : m_inner(inner) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        IOleObject* inner = nullptr;
        const HRESULT hr =
            m_inner->CreateInstance(outer, IID_IOleObject, reinterpret_cast<void**>(&inner));
        if (FAILED(hr)) {
            return hr;
        }
        auto* made = new RefusesActivation(inner);
        const HRESULT asked = made->QueryInterface(iid, out);
        made->Release();
        return asked;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    IClassFactory* m_inner;
};

SIZE ClientSize(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return SIZE{client.right, client.bottom};
}

TEST_F(FlashHostTest, PlacesTheControlAndReleasesEverythingOnDestroy) {
    {
        CShockwaveflash1 control;
        std::string reason;
        ASSERT_TRUE(Create(control, &reason)) << reason;
        EXPECT_TRUE(control.IsCreated());
        HWND window = control.GetControlWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(GetParent(window), m_window);
        EXPECT_EQ(GetDlgItem(m_window, kControlId), window);
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(ClientSize(window).cx, 300);
        EXPECT_EQ(ClientSize(window).cy, 200);

        EXPECT_TRUE(control.Resize(RECT{10, 20, 110, 70}));
        EXPECT_EQ(ClientSize(window).cx, 100);
        EXPECT_EQ(ClientSize(window).cy, 50);

        EXPECT_EQ(m_canUnload(), S_FALSE);  // the control is alive
        control.Destroy();
        EXPECT_FALSE(IsWindow(window));
        EXPECT_FALSE(control.IsCreated());
        EXPECT_EQ(m_canUnload(), S_OK);
        EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);

        // Nothing left to call, and a second Destroy (and the destructor's) is harmless.
        std::string response = "untouched";
        EXPECT_FALSE(control.CallFunction("<invoke name=\"Push\"/>", &response));
        EXPECT_EQ(response, "untouched");
        EXPECT_FALSE(control.LoadMovie(0, "C:\\x\\Aerin.swf"));
        EXPECT_FALSE(control.Resize(kPlace));
        control.Destroy();
        EXPECT_EQ(control.GetControlWindow(), nullptr);

        // The same object can host again.
        ASSERT_TRUE(Create(control));
        EXPECT_EQ(m_canUnload(), S_FALSE);
    }
    // The destructor destroyed the second control.
    EXPECT_EQ(m_canUnload(), S_OK);
    EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);
}

TEST_F(FlashHostTest, FlashCallCrossesAsAnsiAndTheHandlerCanCallBack) {
    ASSERT_EQ(GetACP(), 1252u) << "the byte cases below assume the Western code page";
    CShockwaveflash1 control;
    ASSERT_TRUE(Create(control));
    ASSERT_TRUE(control.LoadMovie(0, "C:\\Program Files\\Caf\xE9\\Aerin.swf"));
    ASSERT_TRUE(m_driver.Accept());
    EXPECT_EQ(m_driver.ReadLine(),
              "{\"event\":\"loadMovie\",\"layer\":0,"
              "\"path\":\"C:\\\\Program Files\\\\Caf\xC3\xA9\\\\Aerin.swf\"}");

    std::vector<std::string> requests;
    std::vector<DWORD> threads;
    control.SetFlashCallHandler([&](const std::string& request) {
        requests.push_back(request);
        threads.push_back(GetCurrentThreadId());
        std::string response = "untouched";
        EXPECT_TRUE(
            control.CallFunction("<invoke name=\"SetReturnValue\">r\xE9</invoke>", &response));
        EXPECT_EQ(response, "");  // the stand-in answers the empty text
    });
    m_driver.Send(R"({"call":"<invoke name=\"Init\">caf\u00e9 \"q\"</invoke>"})");
    EXPECT_EQ(m_driver.ReadLine(),
              "{\"event\":\"callFunction\",\"request\":\"<invoke name=\\\"SetReturnValue\\\">"
              "r\xC3\xA9</invoke>\"}");
    EXPECT_EQ(m_driver.ReadLine(), R"({"event":"returned"})");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "<invoke name=\"Init\">caf\xE9 \"q\"</invoke>");
    EXPECT_EQ(threads[0], GetCurrentThreadId());

    // A push outside any event, with a character the code page cannot hold coming in.
    control.SetFlashCallHandler([&](const std::string& request) { requests.push_back(request); });
    EXPECT_TRUE(control.CallFunction("<invoke name=\"Push\"/>", nullptr));
    EXPECT_EQ(m_driver.ReadLine(),
              R"({"event":"callFunction","request":"<invoke name=\"Push\"/>"})");
    m_driver.Send(R"({"call":"x\u4e00y"})");
    EXPECT_EQ(m_driver.ReadLine(), R"({"event":"returned"})");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], "x?y");

    // Destroy closes the control, which ends its link; later driver calls reach nobody.
    control.Destroy();
    EXPECT_EQ(m_driver.ReadLine(), "<closed>");
    PumpThreadMessages();
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_FALSE(control.CallFunction("<invoke name=\"Push\"/>", nullptr));
}

// What a framework container tells a control: its text properties before the first movie,
// its ambient properties and services through the site, and keys through the control's
// active object.
TEST_F(FlashHostTest, SetsPropertiesAnswersAmbientAndOffersKeysToTheActiveControl) {
    CShockwaveflash1 control;
    ASSERT_TRUE(Create(control));
    ASSERT_TRUE(control.LoadMovie(0, "C:\\Store\\Aerin.swf"));
    ASSERT_TRUE(m_driver.Accept());
    EXPECT_EQ(m_driver.ReadLine(),
              R"({"event":"loadMovie","layer":0,"path":"C:\\Store\\Aerin.swf"})");
    m_driver.Send(R"({"report":"host"})");
    EXPECT_EQ(m_driver.ReadLine(),
              R"({"event":"ambient","userMode":true,"uiDead":false,"showHatching":false,)"
              R"("showGrabHandles":false,"messageReflect":false,"displayName":"PXStore",)"
              R"("localeId":)" +
                  std::to_string(GetUserDefaultLCID()) +
                  // The site is a service provider, but the store has no bind host and no
                  // security manager to give: the control falls back on its own.
                  R"(,"serviceProvider":true,"bindHost":"E_NOINTERFACE",)"
                  R"("securityManager":"E_NOINTERFACE"})");
    EXPECT_EQ(m_driver.ReadLine(),
              R"({"event":"properties","WMode":"Window","Quality2":"High","Scale":"ShowAll"})");
    // The test's window has no icon of its own.
    EXPECT_EQ(m_driver.ReadLine().rfind(R"({"event":"window","dragIcon":")", 0), 0u);

    const HWND window = control.GetControlWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_GETDLGCODE, 0, 0), DLGC_WANTCHARS);
    MSG tab{window, WM_KEYDOWN, VK_TAB, 1, 0, {0, 0}};
    // Not active in the user interface yet: no active object to offer keys to.
    EXPECT_FALSE(control.TranslateControlKey(&tab));
    SendMessageA(window, WM_LBUTTONDOWN, 0, 0);  // takes the focus, as a click does
    ASSERT_EQ(GetFocus(), window);
    EXPECT_TRUE(control.TranslateControlKey(&tab));
    EXPECT_EQ(m_driver.ReadLine(),
              R"({"event":"key","vk":9,"via":"accelerator","field":"","translateCalls":1})");
    MSG letter{window, WM_KEYDOWN, 'A', 1, 0, {0, 0}};
    EXPECT_FALSE(control.TranslateControlKey(&letter));  // typed text goes the usual way
    MSG back{window, WM_KEYDOWN, VK_BACK, 1, 0, {0, 0}};
    EXPECT_TRUE(control.TranslateControlKey(&back));
    EXPECT_EQ(m_driver.ReadLine(),
              R"({"event":"key","vk":8,"via":"accelerator","field":"","translateCalls":3})");

    control.Destroy();
    EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);
    EXPECT_FALSE(control.TranslateControlKey(&tab));
}

TEST_F(FlashHostTest, CreationFailuresLeaveNoControlAndSayWhy) {
    const CLSID kUnregistered = {
        0x6B1F3A52, 0x0C9D, 0x4E7B, {0x9A, 0x11, 0x52, 0x7C, 0x3D, 0x80, 0x44, 0x19}};
    CShockwaveflash1 control;
    std::string reason;
    EXPECT_FALSE(control.CreateOfClass(kUnregistered, m_window, kControlId, kPlace, &reason));
    EXPECT_EQ(reason, "control not installed: class not registered: error 0x80040154");
    EXPECT_EQ(control.FailureCode(), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(control.IsCreated());
    EXPECT_FALSE(control.CallFunction("<invoke name=\"Push\"/>", nullptr));
    EXPECT_FALSE(control.LoadMovie(0, "C:\\x\\Aerin.swf"));
    EXPECT_EQ(GetDlgItem(m_window, kControlId), nullptr);

    reason.clear();
    EXPECT_FALSE(control.CreateFromFactory(nullptr, m_window, kControlId, kPlace, &reason));
    EXPECT_EQ(reason, "control not installed: no class factory");
    EXPECT_EQ(control.FailureCode(), REGDB_E_CLASSNOTREG);

    // A failed creation replaces a working control rather than leaving it half alive.
    ASSERT_TRUE(Create(control));
    EXPECT_EQ(control.FailureCode(), S_OK);
    EXPECT_FALSE(control.CreateOfClass(kUnregistered, m_window, kControlId, kPlace, nullptr));
    EXPECT_FALSE(control.IsCreated());
    EXPECT_EQ(control.FailureCode(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(m_canUnload(), S_OK);
    EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);
}

TEST_F(FlashHostTest, AControlThatRefusesActivationIsLetGoWhole) {
    RefusingFactory refusing(m_factory);
    CShockwaveflash1 control;
    std::string reason;
    EXPECT_FALSE(control.CreateFromFactory(&refusing, m_window, kControlId, kPlace, &reason));
    EXPECT_EQ(reason, "control not activated: error 0x8000FFFF");
    EXPECT_EQ(control.FailureCode(), E_UNEXPECTED);
    EXPECT_FALSE(control.IsCreated());
    EXPECT_EQ(control.GetControlWindow(), nullptr);
    EXPECT_EQ(GetDlgItem(m_window, kControlId), nullptr);
    EXPECT_FALSE(control.CallFunction("<invoke name=\"Push\"/>", nullptr));
    // The wrapper, the stand-in's object behind it and the host's site are all released.
    EXPECT_EQ(m_canUnload(), S_OK);
    EXPECT_EQ(CShockwaveflash1::ContainerObjectsAlive(), 0);

    // The same control then hosts a working one.
    ASSERT_TRUE(Create(control, &reason)) << reason;
    EXPECT_NE(control.GetControlWindow(), nullptr);
    control.Destroy();
    EXPECT_EQ(m_canUnload(), S_OK);
}

}  // namespace
