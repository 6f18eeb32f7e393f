// Creation, lookup and message filtering of the host link's hidden windows.
#include "hostlink/message_window.h"

#include "hostlink/host_link_text.h"

HINSTANCE LinkModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&LinkModule), &module);
    return module;
}

HWND CreateMessageOnlyWindow(const char* className, const char* title, WNDPROC proc, void* owner) {
    const HINSTANCE module = LinkModule();
    WNDCLASSA existing;
    if (!GetClassInfoA(module, className, &existing)) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = proc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = className;
        if (RegisterClassA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return nullptr;
        }
    }
    HWND window =
        CreateWindowExA(0, className, title, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (window != nullptr) {
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    }
    return window;
}

void UnregisterMessageWindowClass(const char* className) {
    // Fails harmlessly while another window of the class still exists.
    UnregisterClassA(className, LinkModule());
}

HWND FindMessageWindow(const char* title) {
    return FindWindowExA(HWND_MESSAGE, nullptr, nullptr, title);
}

void AllowLowerIntegritySenders(HWND window, const UINT* messages, std::size_t count) {
    using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    constexpr DWORD kMessageFilterAllow = 1;  // MSGFLT_ALLOW
    const HMODULE user32 = GetModuleHandleA("user32.dll");
    if (user32 == nullptr) {
        return;
    }
    const FARPROC proc = GetProcAddress(user32, "ChangeWindowMessageFilterEx");
    if (proc == nullptr) {
        return;
    }
    // Through void(*)() because GCC warns on a direct cast between function types.
    const FilterFn allow = reinterpret_cast<FilterFn>(reinterpret_cast<void (*)()>(proc));
    for (std::size_t i = 0; i < count; ++i) {
        allow(window, messages[i], kMessageFilterAllow, nullptr);
    }
}

ReceivedText ReadCopyData(LPARAM lParam) {
    ReceivedText received;
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data == nullptr) {
        return received;
    }
    received.code = data->dwData;
    received.text = ReadPayload(data->lpData, data->cbData);
    return received;
}

bool WaitDeliveringSentMessages(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG elapsed = GetTickCount64() - start;
            left = elapsed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - elapsed);
        }
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) {
            // Signalled, timed out, or a failure that waiting again would only repeat.
            return result == WAIT_OBJECT_0;
        }
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void SleepDeliveringSentMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) {
            return;
        }
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_SENDMESSAGE);
    }
}
