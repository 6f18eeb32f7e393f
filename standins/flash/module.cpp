// The DLL's COM server entry points: class factory and self-registration of the
// stand-in under the Flash control's class id (only ever into a test or demo prefix).
#include <winsock2.h>
#include <windows.h>
#include <olectl.h>

#include <new>

#include "flash_control.h"

namespace pxflash {

LONG gObjectCount = 0;
HINSTANCE gModule = nullptr;

namespace {

LONG gLockCount = 0;
const char kClassKey[] = "CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";

class ClassFactory : public IClassFactory {
public:
    virtual ~ClassFactory() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static: its references are the module's locks.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        auto* control = new (std::nothrow) FlashControl();
        if (control == nullptr)
            return E_OUTOFMEMORY;
        HRESULT hr = control->QueryInterface(riid, out);
        control->Release();
        return hr;
    }

    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&gLockCount);
        } else {
            InterlockedDecrement(&gLockCount);
        }
        return S_OK;
    }
};

ClassFactory gFactory;

bool SetKeyValue(const std::string& key, const char* name, const std::string& value) {
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG rc = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

}  // namespace

}  // namespace pxflash

using namespace pxflash;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        gModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_FlashStandin))
        return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() {
    return (gObjectCount == 0 && gLockCount == 0) ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(gModule, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return SELFREG_E_CLASS;
    std::string key = kClassKey;
    bool ok = SetKeyValue(key, nullptr, "Shockwave Flash Object (stand-in)") &&
              SetKeyValue(key + "\\InprocServer32", nullptr, path) &&
              SetKeyValue(key + "\\InprocServer32", "ThreadingModel", "Apartment");
    return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
    return (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) ? S_OK : SELFREG_E_CLASS;
}
